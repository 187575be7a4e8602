#include "interruption.h"

#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <cstddef>
#include <iterator>
#include <vector>

extern char** environ;

namespace qm::simtool {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr const char* kSignalNames[] = {"INT", "TERM", "HUP", "PIPE"};
constexpr std::size_t kSignalCount = std::size(kSignals);

// A signal handler may make only async-signal-safe calls, and removing a
// folder tree takes more than those. So the handler replaces the tool with
// a shell that removes the home, then ends itself by the same signal: the
// same process, so whoever waits for it sees the usual death by that
// signal. The shell's arguments are made beforehand and kept to the end.
char** gShellArguments[kSignalCount] = {};

sigset_t interruptions() {
  sigset_t set;
  sigemptyset(&set);
  for (const int number : kSignals) {
    sigaddset(&set, number);
  }
  return set;
}

void removeHomeAndEnd(int number) {
  // The shell starts with this mask, and must be able to take the signal.
  const sigset_t all = interruptions();
  sigprocmask(SIG_UNBLOCK, &all, nullptr);
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    if (kSignals[i] == number && gShellArguments[i] != nullptr) {
      execve("/bin/sh", gShellArguments[i], environ);
    }
  }
  // No shell: ended all the same, the home left behind.
  signal(number, SIG_DFL);
  raise(number);
}

void prepareShells(const std::string& home) {
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    const std::vector<std::string> words = {
        "sh", "-c", "/bin/rm -rf -- \"$1\"; kill -s \"$2\" \"$$\"; exit \"$3\"",
        // $0 names the shell in its error messages.
        "quillmark-sim", home, kSignalNames[i], std::to_string(128 + kSignals[i])};
    char** arguments = new char*[words.size() + 1];
    for (std::size_t word = 0; word < words.size(); ++word) {
      arguments[word] = strdup(words[word].c_str());
    }
    arguments[words.size()] = nullptr;
    gShellArguments[i] = arguments;
  }
}

}  // namespace

bool makeTemporaryHomeRemovedWhenInterrupted(Home& home, std::string* reason) {
  // Held back until the handlers know the home, so none is left in between.
  const sigset_t held = interruptions();
  sigset_t previous;
  sigprocmask(SIG_BLOCK, &held, &previous);
  const bool made = home.makeTemporary(reason);
  if (made) {
    prepareShells(home.path());
    struct sigaction action {};
    action.sa_handler = removeHomeAndEnd;
    action.sa_mask = held;
    for (const int number : kSignals) {
      // A signal ignored from the start (Ctrl+C for a background job) stays
      // ignored.
      struct sigaction before {};
      if (sigaction(number, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
        sigaction(number, &action, nullptr);
      }
    }
  }
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  return made;
}

}  // namespace qm::simtool
