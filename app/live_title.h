// What Live's main-window title tells about the set open in it:
// "NAME* [PROJECT] - Ableton Live 12 Suite", read from the right, since set
// names may hold brackets and dashes of their own.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm {

struct LiveSetTitle {
  // The set's name as the title shows it ("Untitled" is translated).
  std::string name;
  // The "*" right after the name: changes not saved yet.
  bool unsaved = false;
  // " [PROJECT]" follows the name: the set has been saved into a project. An
  // untitled set has none.
  bool inProject = false;
  // Live's edition, the text after the last " - " ("Ableton Live 12 Suite").
  std::string edition;
};

// The set a title shows; none for a title without Live's suffix (the last
// " - Ableton Live " followed by text without " - "), which tells nothing.
std::optional<LiveSetTitle> parseLiveSetTitle(std::string_view title);

// Whether a window title is one of Live's main window.
inline bool hasLiveTitleSuffix(std::string_view title) {
  return parseLiveSetTitle(title).has_value();
}

}  // namespace qm
