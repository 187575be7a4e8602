// Whether another program's window answers messages now, asked without
// waiting long on a busy or hung program.
#pragma once

#include <windows.h>

namespace qm::windows {

// The longest a caller waits on another program's window for one answer.
inline constexpr UINT kWindowAnswerMilliseconds = 200;

// False when the system counts the window's thread as hung (it has not
// asked for messages for some seconds) or it does not take an empty message
// within the timeout; true when it took it. A window of this thread takes
// it at once. IsHungAppWindow only reads what the system knows (under Wine
// too: 0 ms for a window busy for a second), and spares the wait.
inline bool windowAnswers(HWND window, UINT timeoutMilliseconds = kWindowAnswerMilliseconds) {
  if (IsHungAppWindow(window)) {
    return false;
  }
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeoutMilliseconds,
                             &result) != 0;
}

}  // namespace qm::windows
