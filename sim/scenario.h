// The scenario language of quillmark-sim: one command a line, read into a
// list of timed commands before anything runs, so a malformed file is
// refused before the simulated session starts.
//
// A new command takes an Op here, its reading in readCommand()
// (scenario.cpp), its effect in Session::execute() (session_commands.cpp)
// and a line in the tool's --help (help.cpp); the keyword also goes into
// tests/fuzz/scenario.dict.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qm::scenario {

// Bounds no real scenario meets; beyond them a scenario is refused.
inline constexpr std::size_t kMaxScenarioBytes = 1 << 20;
inline constexpr std::size_t kMaxLineBytes = 4096;
// A month of virtual time: a second or so of real time per simulated week.
inline constexpr double kMaxEndSeconds = 31 * 86400.0;

enum class Op {
  note,               // note "TEXT": a line in the timeline
  launch,             // launch
  liveStart,          // live start [hidden]           flag: hidden
  liveQuit,           // live quit
  liveHide,           // live hide
  liveSet,            // live set "NAME"|untitled      words: {} for untitled, else {NAME}
  liveEdits,          // live edits
  liveSaveTakes,      // live save-takes D             seconds: D
  liveDeaf,           // live deaf on|off              flag: on
  liveDialog,         // live dialog open|close        flag: open
  liveNamesSet,       // live names-set "NAME"         words[0]: NAME
  liveTitleMark,      // live title-mark on|off        flag: on
  liveTitle,          // live title "TEXT"             words[0]: TEXT
  liveBusy,           // live busy D                   seconds: D
  liveUserSaves,      // live user-saves
  liveMenuSave,       // live menu-save works|ignored|disabled|none      count: 0 to 3
  appStart,           // app start ID                  words[0]: ID
  appQuit,            // app quit ID
  front,              // front ID|none                 words: {} for none
  trust,              // trust on|off                  flag: on
  alertAnswer,        // alert answer first|second [open D]   count: button, seconds: D
  failEventSource,    // fail event-source
  failKeyEvent,       // fail key-event N              count: N
  prefSet,            // pref set KEY TYPE VALUE       words[0]: KEY, value
  prefRemove,         // pref remove KEY
  watcher,            // watcher present|absent        flag: present
  library,            // library available|unavailable flag: available
  logsFolder,         // logs-folder present|absent    flag: present
  launchctl,          // launchctl present|missing|hangs     count: 0, 1, 2
  bootstrapFails,     // bootstrap fails N             count: N
  bootstrapDisabled,  // bootstrap disabled
  activations,        // decline-activation none|plain|all   count: 0, 1, 2
  appLocation,        // app-location applications|disk-image|translocated|removable|network
                      //                               count: 0 to 4
  userTypes,          // user types [for D]            flag: for, seconds: D
  userHolds,          // user holds shift|control|option|command|mouse   count: 0..4
  userReleases,       // user releases shift|...|mouse|all               count: 0..4, 5 for all
  keyboardLayout,     // keyboard-layout us|dvorak|colemak               count: 0, 1, 2
  session,            // session lock|unlock|end|switch-away|switch-back  count: 0 to 4
                      // session lock|unlock silent    flag: silent
  systemSleep,        // system sleep D                seconds: D
  clockJump,          // clock jump D                  seconds: D, signed
  click,              // click "A" ["B" ...]           words: the title path
  quitKey,            // quit-key
  picture,            // picture "FILE.png"            words[0]: FILE.png
  expect,             // expect WHAT ...               check, words, count, flag, value
  run,                // run T: the end of the scenario
};

enum class Check {
  status,
  ableton,
  permission,
  autosave,
  toggle,
  tooltip,
  countdown,              // words[0]: the text
  checked,                // words: {} for none, else {TITLE}
  visible,                // words[0]: TITLE
  hidden,                 // words[0]: TITLE
  log,                    // words[0]: MESSAGE
  logCount,               // words[0]: MESSAGE, count: N
  noLog,                  // words[0]: MESSAGE
  saves,                  // count
  front,                  // words: {} for none, else {ID}
  running,                // flag
  alerts,                 // count
  prompts,                // count
  launchctl,              // count
  pref,                   // words[0]: KEY, value (Absent for absent)
  file,                   // words[0]: path under home, flag: present
  opened,                 // words[0]: URL
  openedCount,            // count
  strayKeys,              // count
  live,                   // flag: hidden
  liveSaves,              // count
  liveDialog,             // flag: open
  notification,           // words: {} for none, else {TITLE}
  notifications,          // count
  menuSaves,              // count
  liveActivations,        // count
  mainThreadWaitsAtMost,  // seconds
};

// A preference value as a scenario writes it; Absent only in expectations.
struct Absent {
  bool operator==(const Absent&) const = default;
};
using PrefValue = std::variant<Absent, std::int64_t, double, bool, std::string>;

// The expectation's name as the language writes it ("log-count").
const char* name(Check check);

// How a value is shown in expectations and failures: 42, 2.5, yes, "text",
// absent.
std::string describe(const PrefValue& value);

struct Command {
  int line = 0;
  // The command as written, without its time prefix and comment.
  std::string text;
  // Seconds since the start of the scenario.
  double time = 0;
  Op op = Op::note;
  Check check = Check::status;
  std::vector<std::string> words;
  std::int64_t count = 0;
  double seconds = 0;
  bool flag = false;
  PrefValue value;
};

struct Scenario {
  std::vector<Command> commands;
  // Where the scenario ends: the time of `run`, or of the last line.
  double endTime = 0;
};

struct ParseError {
  int line = 0;
  std::string reason;
};

// Reads a whole scenario. Reading stops after a `run` line. False with the
// first error's line and reason when the text is malformed: a control
// character or a byte that is not UTF-8, a line longer than kMaxLineBytes,
// a time beyond kMaxEndSeconds, a text larger than kMaxScenarioBytes
// (line 0).
bool parse(std::string_view text, Scenario* scenario, ParseError* error);

// Quotes a text the way the language writes it, with \" \\ \n escapes.
std::string quote(std::string_view text);

// A text as an error message shows it: quoted, a line break as \n, a tab
// as \t, any other control character as \xNN (\uNNNN), cut after 40
// characters with "..." after the closing quote.
std::string excerpt(std::string_view text);

// Where the virtual clock stands when the scenario ends, in seconds since
// its start: its end time, or later when a sleep runs past it. A sleep adds
// its length and takes no script time: lines timed inside it run at the wake.
double monotonicEnd(const Scenario& scenario);

// Seconds as a plain decimal that reads back as the same time ("90",
// "0.30000000000000004"), never with an exponent.
std::string timeText(double seconds);

}  // namespace qm::scenario
