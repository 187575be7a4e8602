#include "save_sequences.h"

#include "app_delegate.h"

namespace qm::simtool {

int completedSaveSequences(const std::vector<sim::PostedKeyEvent>& events, int pid) {
  // Command, then the key that types "s" in the layout of the moment, with
  // nothing but Command held by either side.
  const auto matches = [](const sim::PostedKeyEvent& event, std::size_t step) {
    const KeyStroke& stroke = kSaveKeyStrokes[step];
    const bool key = stroke.virtualKey == kVirtualKeyCommand ? event.keyCode == kVirtualKeyCommand
                                                             : event.typed == "s";
    return key && event.keyDown == stroke.keyDown &&
           (event.flags | event.heldFlags) == kEventFlagMaskCommand;
  };
  int completed = 0;
  std::size_t matched = 0;
  for (const sim::PostedKeyEvent& event : events) {
    if (event.pid != pid) {
      continue;
    }
    if (matches(event, matched)) {
      if (++matched == kSaveKeyStrokes.size()) {
        ++completed;
        matched = 0;
      }
    } else {
      matched = matches(event, 0) ? 1 : 0;
    }
  }
  return completed;
}

}  // namespace qm::simtool
