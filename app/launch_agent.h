// The launch agent's property list, apart from the delegate so that its
// exact text can be checked for any home and bundle.
#pragma once

#include <string>

namespace qm {

// The five XML special characters replaced, the ampersand first so the
// entities inserted later are not escaped again.
std::string xmlEscaped(std::string text);

// The agent's property list for the watcher at watcherPath, logging to the
// watcher log under homeDirectory. Both paths are escaped here.
std::string launchAgentPropertyList(const std::string& watcherPath,
                                    const std::string& homeDirectory);

}  // namespace qm
