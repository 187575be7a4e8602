// quillmark-sim --help: the command, the world it starts with and the whole
// scenario language. A new scenario command gets its line here.
#pragma once

#include <string_view>

namespace qm::simtool {

extern const std::string_view kHelp;

}  // namespace qm::simtool
