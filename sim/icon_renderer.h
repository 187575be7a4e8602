// The menu-bar icon rendered for real: the application core draws it on a
// simulated canvas, and cairo replays the recorded commands into PNG files.
#pragma once

#include <memory>
#include <string>

#include "sim_ui.h"

namespace qm::simtool {

// The icon as Quillmark draws it, recorded by the simulated canvas.
std::shared_ptr<sim::SimImage> drawMenuBarIcon();

// FILE.png at 22x22 and FILE@2x.png at 44x44. `path` must end in ".png".
bool writeIconFiles(const std::string& path, std::string* secondPath, std::string* error);

}  // namespace qm::simtool
