// A picture of Quillmark's menu as the user would see it open on a Mac: the
// menu-bar icon, the status menu under it and its submenu beside it, drawn
// from the running application's own menu. It is a drawing, not a
// screenshot, and says so under the menus.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "recording_canvas.h"
#include "sim_ui.h"

namespace qm::simtool {

inline constexpr std::string_view kMenuPictureCaption =
    "Drawing of the macOS menu by quillmark-sim";

// The menu bar with the status item's icon, its menu open under it without
// the hidden items, and the first submenu open beside the item that holds
// it, check marks included.
std::shared_ptr<render::RecordedImage> drawMenuPicture(const sim::SimStatusItem& item);

// drawMenuPicture() into a PNG file at twice its size in points, as on a
// Retina display.
bool writeMenuPicture(const sim::SimStatusItem& item, const std::string& path, std::string* error);

}  // namespace qm::simtool
