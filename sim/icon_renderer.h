// The menu-bar icon rendered for real: the application core draws it on a
// simulated canvas, and cairo replays the recorded commands into PNG files.
#pragma once

#include <string>

#include "sim_ui.h"

namespace qm::simtool {

// The icon as Quillmark draws it, recorded by the simulated canvas.
std::shared_ptr<sim::SimImage> drawMenuBarIcon();

// Replays the drawing at `scale` device pixels per point into a PNG: the
// origin moves from the bottom-left corner (the icon's y goes up) to cairo's
// top-left. False with a reason when the file cannot be written.
bool writePng(const sim::SimImage& image, double scale, const std::string& path,
              std::string* error);

// FILE.png at 22x22 and FILE@2x.png at 44x44. `path` must end in ".png".
bool writeIconFiles(const std::string& path, std::string* secondPath, std::string* error);

}  // namespace qm::simtool
