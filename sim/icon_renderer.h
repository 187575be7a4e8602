// The menu-bar icon rendered for real: the application core draws it on the
// recording canvas, and cairo replays the recorded commands into PNG files.
#pragma once

#include <memory>
#include <string>

#include "recording_canvas.h"

namespace qm::simtool {

// The icon as Quillmark draws it, recorded by the recording canvas.
std::shared_ptr<render::RecordedImage> drawMenuBarIcon();

// FILE.png at 22x22 and FILE@2x.png at 44x44. `path` must end in ".png".
bool writeIconFiles(const std::string& path, std::string* secondPath, std::string* error);

}  // namespace qm::simtool
