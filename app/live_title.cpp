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
  // " [PROJECT]" at the end names the project folder, not the set.
  if (head.ends_with(']')) {
    const std::size_t open = head.rfind(" [");
    if (open != std::string_view::npos) {
      head = head.substr(0, open);
    }
  }
  LiveSetTitle set;
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
