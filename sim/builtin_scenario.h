// The session quillmark-sim plays when it is given no scenario.
#pragma once

namespace qm::simtool {

extern const char* const kBuiltinScenario;

}  // namespace qm::simtool
