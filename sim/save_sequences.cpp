#include "save_sequences.h"

#include "app_delegate.h"

namespace qm::simtool {

int completedSaveSequences(const std::vector<sim::PostedKeyEvent>& events, int pid) {
  const auto matches = [](const sim::PostedKeyEvent& event, std::size_t step) {
    return event.keyCode == kSaveKeyStrokes[step].virtualKey &&
           event.keyDown == kSaveKeyStrokes[step].keyDown && event.flags == kEventFlagMaskCommand;
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
