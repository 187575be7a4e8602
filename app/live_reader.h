// Every read of Live from outside (its windows, its menus) passes through
// one gate. While Live does not answer, it is asked at most once a second,
// whoever asks; a read asked for sooner answers "no answer" at once. A busy
// Live thus costs the main thread about one messaging timeout a second, and
// the menu and the countdown stay alive.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform.h"

namespace qm {

inline constexpr double kUnansweredReadPause = 1.0;

class LiveReader {
 public:
  LiveReader(RunLoop& runLoop, ApplicationWindows& windows, ApplicationMenus& menus)
      : runLoop_(runLoop), windows_(windows), menus_(menus) {}

  Reply<std::optional<std::string>> mainWindowTitle(int pid) {
    return ask(pid, [&] { return windows_.mainWindowTitle(pid); });
  }
  Reply<bool> showsModalDialog(int pid) {
    return ask(pid, [&] { return windows_.showsModalDialog(pid); });
  }
  Reply<ApplicationMenus::Press> pressSaveCommand(int pid) {
    return ask(pid, [&] { return menus_.pressSaveCommand(pid); });
  }
  // Announcements cost no wait: they are not gated.
  ObservationRef observeTitleChanges(
      int pid, std::function<void(const std::optional<std::string>&)> changed) {
    return windows_.observeTitleChanges(pid, std::move(changed));
  }

  // Whether the last read asked of Live was answered.
  bool responding() const { return !unansweredAt_; }

 private:
  template <typename Read>
  auto ask(int pid, Read read) -> decltype(read()) {
    using Answer = decltype(read());
    if (pid != pid_) {
      // Another Live process owes nothing of the last one's silence.
      pid_ = pid;
      unansweredAt_.reset();
    }
    // A NaN fails the comparison and asks again.
    if (unansweredAt_ && runLoop_.monotonicNow() - *unansweredAt_ < kUnansweredReadPause) {
      return Answer::noAnswer();
    }
    Answer answer = read();
    if (answer.answered()) {
      unansweredAt_.reset();
    } else {
      // From the end of the wait: the pause is Live's, not the read's.
      unansweredAt_ = runLoop_.monotonicNow();
    }
    return answer;
  }

  RunLoop& runLoop_;
  ApplicationWindows& windows_;
  ApplicationMenus& menus_;
  int pid_ = 0;
  std::optional<double> unansweredAt_;
};

}  // namespace qm
