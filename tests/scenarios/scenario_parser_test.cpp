// The scenario reader of quillmark-sim: line times, texts, every command's
// fields, and the line number and reason of each kind of malformed line.
#include <gtest/gtest.h>

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
  EXPECT_FALSE(only("launchctl missing").flag);
  EXPECT_TRUE(only("launchctl present").flag);
  c = only("bootstrap fails 3");
  EXPECT_EQ(c.op, Op::bootstrapFails);
  EXPECT_EQ(c.count, 3);

  c = only("click \"Interval\" \"5 minutes\"");
  EXPECT_EQ(c.words, (std::vector<std::string>{"Interval", "5 minutes"}));
  EXPECT_EQ(only("quit-key").op, Op::quitKey);
  EXPECT_EQ(only("launch").op, Op::launch);
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
      {"pref set k int 2.5\n", 1, "int needs a whole number, not 2.5"},
      {"pref set k bool maybe\n", 1, "must be yes or no"},
      {"pref set k string plain\n", 1, "must be a text in double quotes"},
      {"pref set k float 1\n", 1, "must be int, real, bool or string"},
      {"expect weather \"sunny\"\n", 1, "unknown expectation \"weather\""},
      {"expect status\n", 1, "missing the expected text"},
      {"expect saves many\n", 1, "must be a whole number"},
      {"expect running maybe\n", 1, "must be yes or no"},
      {"expect pref k\n", 1, "missing a value"},
      {"expect file \"/etc/passwd\" present\n", 1, "must be relative to the home folder"},
      {"launch now\n", 1, "unexpected \"now\" at the end of the line"},
      {"expect status \"a\" \"b\"\n", 1, "unexpected \"b\" at the end of the line"},
      {"\"launch\"\n", 1, "must begin with a command"},
  };
  for (const Case& c : cases) {
    const ParseError error = rejected(c.text);
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_NE(error.reason.find(c.reason), std::string::npos)
        << c.text << " gave: " << error.reason;
  }
}

}  // namespace
}  // namespace qm::scenario
