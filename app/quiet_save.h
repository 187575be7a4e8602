// Live's own Save command, pressed in the background through its menu: a
// save that neither brings Live forward nor sends a key. Whether Live takes
// it is learned per Live process; where it does not, the keys save.
#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "live_reader.h"
#include "platform.h"

namespace qm {

// Presses in a row that Live did not take before a process gets only keys.
inline constexpr int kQuietSaveMissesAllowed = 2;

class QuietSave {
 public:
  using Logger = std::function<void(std::string_view)>;
  QuietSave(LiveReader& reader, Logger log) : reader_(reader), log_(std::move(log)) {}

  // A new Live process starts with a clean record.
  void follow(std::optional<int> pid) {
    if (pid != pid_) {
      pid_ = pid;
      misses_ = 0;
    }
  }
  // Whether this Live process may still be saved quietly.
  bool allowed() const { return pid_ && misses_ < kQuietSaveMissesAllowed; }
  // Finds the command and presses it when it is enabled.
  Reply<ApplicationMenus::Press> press() { return reader_.pressSaveCommand(*pid_); }
  // Live's title showed the press saved, or it did not within the watch.
  void taken() { misses_ = 0; }
  void missed() {
    if (++misses_ == kQuietSaveMissesAllowed) {
      log_("Quiet saves are off until Live restarts: it did not take its menu's Save command.");
    }
  }

 private:
  LiveReader& reader_;
  Logger log_;
  std::optional<int> pid_;
  int misses_ = 0;
};

}  // namespace qm
