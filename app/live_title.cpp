#include "live_title.h"

namespace qm {

std::optional<LiveSetTitle> parseLiveSetTitle(std::string_view title) {
  constexpr std::string_view kSuffix = " - Ableton Live ";
  constexpr std::string_view kSeparator = " - ";
  const std::size_t suffix = title.rfind(kSuffix);
  if (suffix == std::string_view::npos) {
    return std::nullopt;
  }
  const std::string_view edition = title.substr(suffix + kSuffix.size());
  if (edition.empty() || edition.find(kSeparator) != std::string_view::npos) {
    return std::nullopt;
  }
  std::string_view head = title.substr(0, suffix);
  bool inProject = false;
  // " [PROJECT]" at the end names the project folder, not the set; the
  // project takes the set's name when none was given, brackets and all, so
  // its "[" is the one that matches the last "]".
  if (head.ends_with(']')) {
    int depth = 0;
    for (std::size_t i = head.size(); i-- > 0;) {
      depth += head[i] == ']' ? 1 : head[i] == '[' ? -1 : 0;
      if (depth == 0) {
        if (i > 0 && head[i - 1] == ' ') {
          head = head.substr(0, i - 1);
          inProject = true;
        }
        break;
      }
    }
  }
  LiveSetTitle set;
  set.inProject = inProject;
  set.edition = title.substr(suffix + kSeparator.size());
  set.unsaved = head.ends_with('*');
  if (set.unsaved) {
    head.remove_suffix(1);
  }
  if (head.empty()) {
    return std::nullopt;
  }
  set.name = head;
  return set;
}

}  // namespace qm
