// A run cut short ends as a normal exit would: Ctrl+C, a termination
// request, a closed terminal and a closed output pipe (`quillmark-sim |
// head -1`) remove the temporary home too.
#pragma once

#include <string>

#include "home_folder.h"

namespace qm::simtool {

// Makes a temporary home that those signals remove before they end the
// tool, by the same signal, as they would have ended it.
bool makeTemporaryHomeRemovedWhenInterrupted(Home& home, std::string* reason);

}  // namespace qm::simtool
