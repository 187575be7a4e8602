// A program that only waits to be ended: copied under Live's and
// Quillmark's names, it lets the tests run the watcher against real
// processes. Built twice more: as a Quillmark that ends at once (a crash),
// and as one that holds Quillmark's per-user mutex as a running copy does.
#include <windows.h>

#ifdef QM_STAND_IN_HOLDS_INSTANCE_MUTEX
#include "watcher_win.h"
#endif

int wmain() {
#ifdef QM_STAND_IN_EXITS_AT_ONCE
  return 0;
#else
#ifdef QM_STAND_IN_HOLDS_INSTANCE_MUTEX
  wchar_t name[kMutexNameCapacity];
  if (!quillmark_mutex_name(name, kMutexNameCapacity) ||
      CreateMutexW(nullptr, FALSE, name) == nullptr) {
    return 1;
  }
#endif
  Sleep(INFINITE);
  return 0;
#endif
}
