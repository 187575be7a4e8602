// The printed timeline: one event a line with its virtual time. It follows
// the world as its observer: menu and tooltip changes after every dispatched
// call, new lines of the application log, key events, focus changes,
// alerts, launchctl runs and terminations. A change that is only the
// countdown ticking or the waiting animation turning is printed only when
// the countdown reaches a whole minute, unless every tick is asked for. In
// quiet mode it prints only failed expectations and follows nothing, so a
// long run costs no more than the application itself.
#pragma once

#include <sys/types.h>
#include <array>
#include <cstdint>
#include <ostream>
#include <set>
#include <string>
#include <string_view>

#include "menu_rows.h"
#include "platform.h"
#include "scenario.h"
#include "sim_world.h"

namespace qm::simtool {

class Session;

// Seconds rounded to the millisecond, without trailing zeros: "0.75", "1".
std::string secondsText(double seconds);

class Timeline {
 public:
  struct Options {
    // Only failed expectations.
    bool quiet = false;
    // The session spans more than one calendar day.
    bool showDate = false;
    // Every tick of the countdown and frame of the waiting animation.
    bool everySecond = false;
  };
  Timeline(std::ostream& out, const Options& options);

  // Becomes the observer of the session's world (not in quiet mode).
  void follow(Session& session);

  void note(Date time, const std::string& text);
  // A scenario line carried out in the world or by the user.
  void command(Date time, const scenario::Command& command, const std::string& result = {});
  // A `system sleep` line with the time it wakes at, the wake, and a
  // `clock jump` line with the wall clock it leaves: the time column stays
  // on the world's monotonic clock.
  void sleep(Date time, const scenario::Command& command, Date wakeAt);
  void wake(Date time, double asleepSeconds);
  void clockJump(Date time, const scenario::Command& command, Date wallNow);
  void started(int pid, bool hidden);
  void failure(Date time, int line, const std::string& what, const std::string& expected,
               const std::string& actual);
  void summary(Date time, int expectations, int failures);
  // Prints what is still held back (key events, log lines).
  void flush();
  // A time as the time column shows it.
  std::string timeText(Date time) const;

 private:
  // The followed menu rows, then the tooltip.
  static constexpr std::size_t kFollowed = [] {
    std::size_t count = 1;
    for (const MenuRowInfo& row : kMenuRows) {
      count += row.followed ? 1 : 0;
    }
    return count;
  }();

  void onEvent(const sim::Event& event);
  void pollLog(Date time);
  void diffMenu(Date time);
  void addKey(const sim::Event& event);
  void addWait(const sim::Event& event);
  // Prints how many reads went unanswered unprinted, if any.
  void flushWaits(Date time);
  void flushKeys();
  void emit(Date time, std::string_view label, std::string_view text);
  std::string application(int pid) const;
  std::string shortPath(const std::string& path) const;

  std::ostream& out_;
  bool quiet_;
  bool showDate_;
  bool everySecond_;
  Session* session_ = nullptr;
  std::string home_;
  std::string lastTime_;

  // The application log as read so far.
  std::string logPath_;
  bool logSeen_ = false;
  ino_t logInode_ = 0;
  std::uintmax_t logOffset_ = 0;
  std::string logPartial_;

  // What the menu showed at the last print, per process.
  const void* menuOwner_ = nullptr;
  std::array<std::string, kFollowed> shown_;

  // Key events of one save, printed as one line; held: one reached Live
  // while it was busy.
  std::string keys_;
  Date keysTime_ = 0;
  int keysPid_ = 0;
  bool keysHeld_ = false;

  std::set<int> hidden_;

  // Reads a busy Live left unanswered: the first of each spell is printed,
  // the rest counted until Live answers again (unless every second is).
  Date waitSpellShown_ = 0;
  int quietWaits_ = 0;
  double quietWaitSeconds_ = 0;
};

}  // namespace qm::simtool
