// The scenario reader of quillmark-sim: line times, texts, every command's
// fields, and the line number and reason of each kind of malformed line.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "scenario.h"

namespace qm::scenario {
namespace {

Scenario parsed(const std::string& text) {
  Scenario scenario;
  ParseError error;
  EXPECT_TRUE(parse(text, &scenario, &error)) << "line " << error.line << ": " << error.reason;
  return scenario;
}

ParseError rejected(const std::string& text) {
  Scenario scenario;
  ParseError error;
  EXPECT_FALSE(parse(text, &scenario, &error)) << text;
  return error;
}

Command only(const std::string& line) {
  Scenario scenario = parsed(line);
  EXPECT_EQ(scenario.commands.size(), 1u) << line;
  return scenario.commands.empty() ? Command{} : scenario.commands[0];
}

TEST(ScenarioTimes, LinesTakeAtAfterOrThePreviousLinesTime) {
  const Scenario scenario = parsed(
      "launch\n"
      "at 1.5 trust on\n"
      "front none\n"
      "after 2 live start\n"
      "after 0.25 live quit\n"
      "at 10m launch\n"
      "after 1h launch\n"
      "at 2d launch\n"
      "after 30s launch\n");
  std::vector<double> times;
  for (const Command& command : scenario.commands) {
    times.push_back(command.time);
  }
  EXPECT_EQ(times, (std::vector<double>{0, 1.5, 1.5, 3.5, 3.75, 600, 4200, 172800, 172830}));
  EXPECT_EQ(scenario.endTime, 172830);
}

TEST(ScenarioTimes, RunEndsTheScenarioAndNothingAfterItIsRead) {
  const Scenario scenario = parsed(
      "at 5 launch\n"
      "run 7d\n"
      "this line is never read\n");
  ASSERT_EQ(scenario.commands.size(), 2u);
  EXPECT_EQ(scenario.commands[1].op, Op::run);
  EXPECT_EQ(scenario.endTime, 7 * 86400);
}

TEST(ScenarioTimes, ScenarioWithoutRunEndsAtItsLastLine) {
  EXPECT_EQ(parsed("launch\nat 42 expect running yes\n# the end\n\n").endTime, 42);
  EXPECT_EQ(parsed("").endTime, 0);
  EXPECT_TRUE(parsed("   \n# only comments\n").commands.empty());
}

TEST(ScenarioTexts, EscapesCommentsAndBlanks) {
  const Command command = only(R"(  click "Say \"hi\"" "a\\b\nc # not a comment"  # a comment)");
  EXPECT_EQ(command.op, Op::click);
  EXPECT_EQ(command.words, (std::vector<std::string>{"Say \"hi\"", "a\\b\nc # not a comment"}));
  EXPECT_EQ(command.line, 1);
  // The command as written, for the timeline, without comment and prefix.
  EXPECT_EQ(only(R"(at 3 click "Say \"hi\""   # why)").text, R"(click "Say \"hi\"")");
  EXPECT_EQ(only("expect status \"\"").words, (std::vector<std::string>{""}));
  EXPECT_EQ(only("expect status \"✓ Next save in 10:00\"\r").words[0], "✓ Next save in 10:00");
  EXPECT_EQ(only("\xEF\xBB\xBFlaunch").op, Op::launch);
}

TEST(ScenarioTexts, QuoteWritesWhatTheReaderReads) {
  const std::string text = "a \"quoted\" back\\slash\nnewline";
  EXPECT_EQ(quote(text), R"("a \"quoted\" back\\slash\nnewline")");
  EXPECT_EQ(only("note " + quote(text)).words[0], text);
}

TEST(ScenarioCommands, WorldCommandsCarryTheirArguments) {
  Command c = only("live start hidden");
  EXPECT_EQ(c.op, Op::liveStart);
  EXPECT_TRUE(c.flag);
  EXPECT_FALSE(only("live start").flag);
  EXPECT_EQ(only("live quit").op, Op::liveQuit);

  c = only("app start com.example.editor");
  EXPECT_EQ(c.op, Op::appStart);
  EXPECT_EQ(c.words[0], "com.example.editor");
  EXPECT_EQ(only("app quit \"com.example.editor\"").words[0], "com.example.editor");

  EXPECT_EQ(only("front com.apple.finder").words, std::vector<std::string>{"com.apple.finder"});
  EXPECT_TRUE(only("front none").words.empty());
  EXPECT_TRUE(only("trust on").flag);
  EXPECT_FALSE(only("trust off").flag);

  c = only("alert answer second");
  EXPECT_EQ(c.op, Op::alertAnswer);
  EXPECT_EQ(c.count, 1);
  EXPECT_EQ(c.seconds, 0);
  c = only("alert answer first open 2.5");
  EXPECT_EQ(c.count, 0);
  EXPECT_EQ(c.seconds, 2.5);

  EXPECT_EQ(only("fail event-source").op, Op::failEventSource);
  c = only("fail key-event 4");
  EXPECT_EQ(c.op, Op::failKeyEvent);
  EXPECT_EQ(c.count, 4);

  EXPECT_EQ(only("watcher absent").op, Op::watcher);
  EXPECT_FALSE(only("watcher absent").flag);
  EXPECT_FALSE(only("library unavailable").flag);
  EXPECT_FALSE(only("logs-folder absent").flag);
  EXPECT_EQ(only("launchctl present").count, 0);
  EXPECT_EQ(only("launchctl missing").count, 1);
  EXPECT_EQ(only("launchctl hangs").count, 2);
  c = only("bootstrap fails 3");
  EXPECT_EQ(c.op, Op::bootstrapFails);
  EXPECT_EQ(c.count, 3);
  EXPECT_EQ(only("bootstrap disabled").op, Op::bootstrapDisabled);
  c = only("decline-activation plain");
  EXPECT_EQ(c.op, Op::activations);
  EXPECT_EQ(c.count, 1);
  EXPECT_EQ(only("decline-activation all").count, 2);
  c = only("app-location translocated");
  EXPECT_EQ(c.op, Op::appLocation);
  EXPECT_EQ(c.count, 2);
  EXPECT_EQ(only("app-location applications").count, 0);
  EXPECT_EQ(only("app-location network").count, 4);

  c = only("click \"Interval\" \"5 minutes\"");
  EXPECT_EQ(c.words, (std::vector<std::string>{"Interval", "5 minutes"}));
  EXPECT_EQ(only("quit-key").op, Op::quitKey);
  c = only("picture \"docs/menu.png\"");
  EXPECT_EQ(c.op, Op::picture);
  EXPECT_EQ(c.words, (std::vector<std::string>{"docs/menu.png"}));
  EXPECT_EQ(only("launch").op, Op::launch);

  EXPECT_EQ(only("live hide").op, Op::liveHide);
  c = only("user types for 1.5m");
  EXPECT_EQ(c.op, Op::userTypes);
  EXPECT_TRUE(c.flag);
  EXPECT_EQ(c.seconds, 90);
  EXPECT_FALSE(only("user types").flag);
  c = only("user holds mouse");
  EXPECT_EQ(c.op, Op::userHolds);
  EXPECT_EQ(c.count, 4);
  c = only("user releases all");
  EXPECT_EQ(c.op, Op::userReleases);
  EXPECT_EQ(c.count, 5);
  c = only("keyboard-layout colemak");
  EXPECT_EQ(c.op, Op::keyboardLayout);
  EXPECT_EQ(c.count, 2);
}

TEST(ScenarioCommands, SleepJumpsAndUserSwitchingCarryTheirArguments) {
  Command c = only("system sleep 10m");
  EXPECT_EQ(c.op, Op::systemSleep);
  EXPECT_EQ(c.seconds, 600);
  c = only("clock jump -1h");
  EXPECT_EQ(c.op, Op::clockJump);
  EXPECT_EQ(c.seconds, -3600);
  EXPECT_EQ(only("clock jump +1.5").seconds, 1.5);
  EXPECT_EQ(only("clock jump 90").seconds, 90);
  EXPECT_EQ(only("session switch-away").count, 3);
  EXPECT_EQ(only("session switch-back").count, 4);
  // Told unless silent, and only a lock or an unlock can be.
  EXPECT_FALSE(only("session lock").flag);
  c = only("session unlock silent");
  EXPECT_EQ(c.op, Op::session);
  EXPECT_EQ(c.count, 1);
  EXPECT_TRUE(c.flag);
  EXPECT_TRUE(only("session lock silent").flag);
}

TEST(ScenarioTimes, ASleepTakesNoScriptTimeButMovesTheEnd) {
  Scenario s = parsed("at 100 system sleep 500\nafter 10 note \"in\"\nrun 200\n");
  EXPECT_EQ(s.commands[1].time, 110);
  EXPECT_EQ(s.endTime, 200);
  EXPECT_EQ(monotonicEnd(s), 600);
  // A sleep timed inside another starts at its wake; a later line ends later.
  s = parsed("at 10 system sleep 20\nat 20 system sleep 5\n");
  EXPECT_EQ(monotonicEnd(s), 35);
  s = parsed("at 10 system sleep 20\nat 20 system sleep 5\nat 100 note \"x\"\n");
  EXPECT_EQ(monotonicEnd(s), 100);
}

TEST(ScenarioCommands, LivesSetTakesANameOrUntitledAndItsFaults) {
  Command c = only("live set \"Beat [v2]\"");
  EXPECT_EQ(c.op, Op::liveSet);
  EXPECT_EQ(c.words, std::vector<std::string>{"Beat [v2]"});
  // Bare, the set never saved; quoted, a set of that name.
  EXPECT_TRUE(only("live set untitled").words.empty());
  EXPECT_EQ(only("live set \"untitled\"").words, std::vector<std::string>{"untitled"});
  EXPECT_EQ(only("live edits").op, Op::liveEdits);
  c = only("live save-takes 1.5m");
  EXPECT_EQ(c.op, Op::liveSaveTakes);
  EXPECT_EQ(c.seconds, 90);
  EXPECT_TRUE(only("live deaf on").flag);
  EXPECT_FALSE(only("live dialog close").flag);
  EXPECT_EQ(only("live names-set \"Jam\"").words[0], "Jam");
  EXPECT_FALSE(only("live title-mark off").flag);
  c = only("live title \"\"");
  EXPECT_EQ(c.op, Op::liveTitle);
  EXPECT_EQ(c.words, std::vector<std::string>{""});

  c = only("live busy 1.5");
  EXPECT_EQ(c.op, Op::liveBusy);
  EXPECT_EQ(c.seconds, 1.5);
  EXPECT_EQ(only("live user-saves").op, Op::liveUserSaves);
  c = only("live menu-save works");
  EXPECT_EQ(c.op, Op::liveMenuSave);
  EXPECT_EQ(c.count, 0);
  EXPECT_EQ(only("live menu-save ignored").count, 1);
  EXPECT_EQ(only("live menu-save disabled").count, 2);
  EXPECT_EQ(only("live menu-save none").count, 3);

  EXPECT_EQ(only("expect live-saves 2").check, Check::liveSaves);
  c = only("expect menu-saves 3");
  EXPECT_EQ(c.check, Check::menuSaves);
  EXPECT_EQ(c.count, 3);
  c = only("expect live-activations 0");
  EXPECT_EQ(c.check, Check::liveActivations);
  EXPECT_EQ(c.count, 0);
  c = only("expect main-thread-waits-at-most 0.5");
  EXPECT_EQ(c.check, Check::mainThreadWaitsAtMost);
  EXPECT_EQ(c.seconds, 0.5);
  EXPECT_EQ(std::string(name(Check::mainThreadWaitsAtMost)), "main-thread-waits-at-most");
  EXPECT_FALSE(only("expect live-dialog closed").flag);
  EXPECT_TRUE(only("expect notification none").words.empty());
  EXPECT_EQ(only("expect notification \"none\"").words, std::vector<std::string>{"none"});
  EXPECT_EQ(only("expect notifications 1").count, 1);
}

TEST(ScenarioCommands, PreferenceValuesKeepTheirTypes) {
  Command c = only("pref set autosave.interval.seconds int -45");
  EXPECT_EQ(c.op, Op::prefSet);
  EXPECT_EQ(c.words[0], "autosave.interval.seconds");
  EXPECT_EQ(c.value, PrefValue(std::int64_t{-45}));
  EXPECT_EQ(only("pref set k real 2.5").value, PrefValue(2.5));
  EXPECT_EQ(only("pref set k real 3").value, PrefValue(3.0));
  EXPECT_EQ(only("pref set k bool yes").value, PrefValue(true));
  EXPECT_EQ(only("pref set k bool no").value, PrefValue(false));
  EXPECT_EQ(only("pref set k string \"12abc\"").value, PrefValue(std::string("12abc")));
  c = only("pref remove autosave.enabled");
  EXPECT_EQ(c.op, Op::prefRemove);
  EXPECT_EQ(c.words[0], "autosave.enabled");

  EXPECT_EQ(describe(PrefValue(std::int64_t{600})), "600");
  EXPECT_EQ(describe(PrefValue(0.1)), "0.1");
  EXPECT_EQ(describe(PrefValue(300.0)), "300");
  EXPECT_EQ(describe(PrefValue(-0.0)), "0");
  EXPECT_EQ(describe(PrefValue(true)), "yes");
  EXPECT_EQ(describe(PrefValue(std::string("a\"b"))), R"("a\"b")");
  EXPECT_EQ(describe(PrefValue(Absent{})), "absent");
}

TEST(ScenarioCommands, ExpectationsCarryWhatTheyCompare) {
  Command c = only("expect log-count \"Autosave timer fired.\" 3");
  EXPECT_EQ(c.op, Op::expect);
  EXPECT_EQ(c.check, Check::logCount);
  EXPECT_EQ(c.words[0], "Autosave timer fired.");
  EXPECT_EQ(c.count, 3);

  EXPECT_EQ(only("expect checked none").words.size(), 0u);
  EXPECT_EQ(only("expect checked \"none\"").words, std::vector<std::string>{"none"});
  EXPECT_EQ(only("expect front none").words.size(), 0u);
  EXPECT_TRUE(only("expect running yes").flag);
  EXPECT_EQ(only("expect pref autosave.enabled absent").value, PrefValue(Absent{}));
  EXPECT_EQ(only("expect pref autosave.enabled no").value, PrefValue(false));
  EXPECT_EQ(only("expect pref k \"absent\"").value, PrefValue(std::string("absent")));
  c = only("expect file \"Library/LaunchAgents/x.plist\" absent");
  EXPECT_EQ(c.check, Check::file);
  EXPECT_FALSE(c.flag);

  const std::vector<std::pair<std::string, Check>> names = {
      {"status \"s\"", Check::status},
      {"ableton \"s\"", Check::ableton},
      {"permission \"s\"", Check::permission},
      {"autosave \"s\"", Check::autosave},
      {"toggle \"s\"", Check::toggle},
      {"tooltip \"s\"", Check::tooltip},
      {"countdown \"09:59\"", Check::countdown},
      {"visible \"Quit\"", Check::visible},
      {"hidden \"Quit\"", Check::hidden},
      {"log \"m\"", Check::log},
      {"no-log \"m\"", Check::noLog},
      {"saves 2", Check::saves},
      {"alerts 1", Check::alerts},
      {"prompts 1", Check::prompts},
      {"launchctl 2", Check::launchctl},
      {"opened \"u:x\"", Check::opened},
      {"opened-count 0", Check::openedCount},
      {"stray-keys 0", Check::strayKeys},
      {"live hidden", Check::live},
  };
  for (const auto& [line, check] : names) {
    c = only("expect " + line);
    EXPECT_EQ(c.check, check) << line;
    EXPECT_EQ(std::string(name(check)), line.substr(0, line.find(' '))) << line;
  }
}

TEST(ScenarioMalformed, EachLineErrorNamesItsLineAndReason) {
  struct Case {
    std::string text;
    int line;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"launch\n\nlve start\n", 3, "unknown command \"lve\""},
      {"at 10 launch\nat 5 live start\n", 2,
       "at 5 goes back in time: the previous line is at 10 s"},
      {"at 10 launch\nrun 9\n", 2, "run 9 goes back in time"},
      {"at 1 run 5\n", 1, "run takes its own time"},
      {"at launch\n", 1, "the time must be seconds like 90 or 1.5"},
      {"after\n", 1, "after needs a time"},
      {"at -1 launch\n", 1, "the time must be seconds"},
      {"at 1.5x launch\n", 1, "the time must be seconds"},
      {"at 1. launch\n", 1, "the time must be seconds"},
      {"note \"open\n", 1, "unterminated text"},
      {"note \"a\\tb\"\n", 1, "unknown escape \\t"},
      {"note \"a\"b\n", 1, "a blank must follow the closing \""},
      {"click Save\n", 1, "the item's title must be a text in double quotes, not Save"},
      {"click\n", 1, "missing the item's title"},
      {"live start visible\n", 1, "must be hidden, not \"visible\""},
      {"trust maybe\n", 1, "trust's value must be on or off, not \"maybe\""},
      {"fail key-event 5\n", 1, "one of 1, 2, 3, 4, not 5"},
      {"fail key-event two\n", 1, "must be a whole number 0 or more"},
      {"bootstrap fails -1\n", 1, "must be a whole number 0 or more"},
      {"decline-activation some\n", 1, "must be none, plain or all"},
      {"app-location Desktop\n", 1,
       "must be applications, disk-image, translocated, removable or network"},
      {"pref set k int 2.5\n", 1, "int needs a whole number, not 2.5"},
      {"pref set k bool maybe\n", 1, "must be yes or no"},
      {"pref set k string plain\n", 1, "must be a text in double quotes"},
      {"pref set k float 1\n", 1, "must be int, real, bool or string"},
      {"expect weather \"sunny\"\n", 1, "unknown expectation \"weather\""},
      {"expect status\n", 1, "missing the expected text"},
      {"expect saves many\n", 1, "must be a whole number"},
      {"expect running maybe\n", 1, "must be yes or no"},
      {"user holds alt\n", 1, "must be shift, control, option, command or mouse"},
      {"user types for\n", 1, "missing how long the user types"},
      {"keyboard-layout azerty\n", 1, "must be us, dvorak or colemak"},
      {"expect pref k\n", 1, "missing a value"},
      {"expect file \"/etc/passwd\" present\n", 1, "must be relative to the home folder"},
      {"launch now\n", 1, "unexpected \"now\" at the end of the line"},
      {"expect status \"a\" \"b\"\n", 1, "unexpected \"b\" at the end of the line"},
      {"\"launch\"\n", 1, "must begin with a command"},
      {"live set Song\n", 1, "the set must be a name in double quotes or untitled, not Song"},
      {"live set \"\"\n", 1, "the set's name must not be empty"},
      {"live names-set\n", 1, "missing the name the set is saved as"},
      {"live save-takes -4\n", 1, "how long a save takes must be"},
      {"live dialog shut\n", 1, "live dialog's change must be open or close, not \"shut\""},
      {"live sleep\n", 1, "live's action must be start, quit, hide, set, edits"},
      {"live sleep\n", 1, "title, busy, user-saves or menu-save, not \"sleep\""},
      {"expect live-dialog close\n", 1, "must be open or closed"},
      {"expect notification Saved\n", 1, "the notification's title or none must be a text"},
      {"system sleep -5\n", 1, "how long the system sleeps must be seconds like 90 or 1.5"},
      {"system sleep\n", 1, "missing how long the system sleeps"},
      {"system wake\n", 1, "the system's change must be sleep, not \"wake\""},
      {"clock jump\n", 1, "missing how far the clock jumps"},
      {"clock jump --1h\n", 1, "must be seconds like 90, -1h or +1.5"},
      {"clock jump -\n", 1, "must be seconds like 90, -1h or +1.5, optionally with a unit"},
      {"clock jump -32d\n", 1, "must be at most 31 days (2678400 s) either way, not -32d"},
      {"clock set 1h\n", 1, "the clock's change must be jump"},
      {"session switch\n", 1, "must be lock, unlock, end, switch-away or switch-back"},
      {"session lock quietly\n", 1, "the word after the session's change must be silent"},
      {"session end silent\n", 1, "unexpected \"silent\" at the end of the line"},
      {"live busy\n", 1, "missing how long Live is busy"},
      {"live busy -1\n", 1, "how long Live is busy must be seconds"},
      {"live user-saves now\n", 1, "unexpected \"now\" at the end of the line"},
      {"live menu-save broken\n", 1,
       "Live's Save command must be works, ignored, disabled or none, not \"broken\""},
      {"expect main-thread-waits-at-most\n", 1, "missing the most waiting in one second"},
      {"expect main-thread-waits-at-most lots\n", 1,
       "the most waiting in one second must be seconds"},
      {"expect menu-saves -1\n", 1, "must be a whole number 0 or more"},
      {"picture menu.png\n", 1, "the picture's file must be a text in double quotes"},
      {"picture \"menu.jpg\"\n", 1, "the picture's file must end in .png, not \"menu.jpg\""},
      {"picture \".png\"\n", 1, "the picture's file must end in .png"},
  };
  for (const Case& c : cases) {
    const ParseError error = rejected(c.text);
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_NE(error.reason.find(c.reason), std::string::npos)
        << c.text << " gave: " << error.reason;
  }
}

TEST(ScenarioMalformed, ControlCharactersAreRefusedAndNeverEchoedRaw) {
  using namespace std::string_literals;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"expect running yes\0garbage"s, "a control character (\\x00) at byte 19"},
      {"note \"bell\a\""s, "a control character (\\x07) at byte 11"},
      {"click \"\x1B[2J\""s, "a control character (\\x1B) at byte 8"},
      {"note \"a\rb\"\r"s, "a control character (\\x0D) at byte 8"},
      {"note \"del\x7F\""s, "(\\x7F)"},
      {"note \"csi\xC2\x9B\""s, "(\\u009B)"},
      {"note \"a\tb\""s, "a tab inside a text"},
      {"note \"latin1 \xE9t\xE9\""s, "a byte that is not UTF-8 (\\xE9) at byte 14"},
      {"note \"\xC0\xAF\""s, "not UTF-8 (\\xC0)"},
  };
  for (const auto& [line, reason] : cases) {
    const ParseError error = rejected("launch\n" + line + "\n");
    EXPECT_EQ(error.line, 2) << reason;
    EXPECT_NE(error.reason.find(reason), std::string::npos) << error.reason;
    EXPECT_EQ(error.reason.find_first_of("\0\a\x1B\r\x7F"s), std::string::npos) << error.reason;
  }
  // Tabs separate words, a final CR ends a line, \n writes a line break.
  EXPECT_EQ(only("note\t\"a\\nb\"\r").words[0], "a\nb");
}

TEST(ScenarioMalformed, ErrorsCutLongInputAndEscapeWhatTheyQuote) {
  const std::string word(4000, 'w');
  const ParseError error = rejected(word + "\n");
  EXPECT_EQ(error.reason, "unknown command \"" + std::string(40, 'w') + "\"...");
  EXPECT_EQ(rejected("trust \"on\\n\"\n").reason, "trust's value must be on or off, not \"on\\n\"");
  EXPECT_EQ(excerpt("ä\x01\"\\\t"), "\"ä\\x01\\\"\\\\\\t\"");
  EXPECT_EQ(excerpt(std::string(41, 'x')), "\"" + std::string(40, 'x') + "\"...");
  EXPECT_EQ(excerpt(std::string(40, 'x')), "\"" + std::string(40, 'x') + "\"");
}

TEST(ScenarioMalformed, SizeLineLengthAndVirtualTimeAreBounded) {
  EXPECT_EQ(rejected("note \"" + std::string(kMaxLineBytes, 'x') + "\"\n").reason,
            "the line is longer than 4096 bytes");
  const ParseError huge = rejected(std::string(kMaxScenarioBytes + 1, '\n'));
  EXPECT_EQ(huge.line, 0);
  EXPECT_EQ(huge.reason, "the scenario is larger than 1048576 bytes");
  EXPECT_TRUE(parsed(std::string(kMaxScenarioBytes, '\n')).commands.empty());

  EXPECT_EQ(parsed("at 31d launch\n").endTime, kMaxEndSeconds);
  EXPECT_EQ(rejected("at 31d launch\nafter 1 launch\n").line, 2);
  EXPECT_NE(rejected("at 30d launch\nafter 1d launch\nafter 1d launch\n")
                .reason.find("after 1d comes at 2764800 s, later than a scenario may run, 31 days"),
            std::string::npos);
  EXPECT_NE(rejected("run 32d\n").reason.find("must be at most 31 days (2678400 s), not 32d"),
            std::string::npos);
  EXPECT_NE(rejected("at 1e9 launch\n").reason.find("the time must be"), std::string::npos);
  EXPECT_NE(rejected("alert answer first open 100d\n").reason.find("must be at most 31 days"),
            std::string::npos);
}

TEST(ScenarioMalformed, FilePathsStayUnderTheHome) {
  for (const char* path : {"..", "../../etc/passwd", "Library/../../x", "a/.."}) {
    EXPECT_NE(rejected("expect file \"" + std::string(path) + "\" present\n")
                  .reason.find("must stay under the home folder, without a .. part"),
              std::string::npos)
        << path;
  }
  EXPECT_EQ(only("expect file \"Library/..x/.../x..\" absent").words[0], "Library/..x/.../x..");
}

TEST(ScenarioMalformed, NumbersAreRefusedInTheUsersTerms) {
  EXPECT_EQ(rejected("pref set k int 100000000000000000000\n").reason,
            "int needs a whole number from -9223372036854775808 to 9223372036854775807, not "
            "100000000000000000000");
  EXPECT_EQ(rejected("pref set a real abc\n").reason,
            "real needs a finite number like 2.5 or 1e-3, not abc");
  EXPECT_EQ(rejected("pref set a real 1e999\n").reason,
            "real needs a finite number like 2.5 or 1e-3, not 1e999");
  EXPECT_EQ(rejected("pref set a real inf\n").reason,
            "real needs a finite number like 2.5 or 1e-3, not inf");
  EXPECT_EQ(rejected("pref set a int \"5\"\n").reason, "int needs a whole number, not \"5\"");
  EXPECT_EQ(rejected("expect saves 99999999999999999999\n").reason,
            "the expected number must be at most 9223372036854775807, not "
            "\"99999999999999999999\"");
  EXPECT_EQ(rejected("bootstrap fails 4294967297\n").reason,
            "how many bootstrap runs fail must be at most 1000000, not \"4294967297\"");
  EXPECT_EQ(only("pref set k real 100000000000000000000").value, PrefValue(1e20));
  EXPECT_EQ(only("pref set k int -9223372036854775808").value,
            PrefValue(std::numeric_limits<std::int64_t>::min()));
}

TEST(ScenarioTexts, TimeTextReadsBackAsTheSameTime) {
  for (double t : {0.0, 90.0, 0.1 + 0.2, 1e-5, 2678400.0, 1.0 / 3}) {
    const std::string text = timeText(t);
    EXPECT_EQ(text.find_first_of("eE"), std::string::npos) << text;
    EXPECT_EQ(only("at " + text + " launch").time, t) << text;
  }
}

}  // namespace
}  // namespace qm::scenario
