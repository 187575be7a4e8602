// A program that only waits to be ended: copied under Live's and
// Quillmark's names, it lets the tests run the watcher against real
// processes.
#include <windows.h>

int wmain() {
  Sleep(INFINITE);
  return 0;
}
