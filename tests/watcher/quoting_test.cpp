// Paths reaching the shell and pgrep intact: quoting, pattern escaping, and
// commands that are never run cut short.
#include <gtest/gtest.h>
#include <regex.h>
#include <string.h>

#include <string>
#include <vector>

#include "support.h"
#include "watcher.h"

namespace {

std::string quote(const std::string& text) {
  std::string out(shell_quote(text.c_str(), nullptr, 0) + 1, '\0');
  shell_quote(text.c_str(), out.data(), out.size());
  out.pop_back();
  return out;
}

std::string escape(const std::string& text) {
  std::string out(ere_escape(text.c_str(), nullptr, 0) + 1, '\0');
  ere_escape(text.c_str(), out.data(), out.size());
  out.pop_back();
  return out;
}

// Matched the way pgrep matches: extended syntax, anywhere in the text.
bool ere_matches(const std::string& pattern, const std::string& text) {
  regex_t compiled;
  EXPECT_EQ(regcomp(&compiled, pattern.c_str(), REG_EXTENDED | REG_NOSUB), 0) << pattern;
  bool matched = regexec(&compiled, text.c_str(), 0, nullptr, 0) == 0;
  regfree(&compiled);
  return matched;
}

const std::vector<std::string> kHostile = {
    "plain",
    "",
    "it's",
    "'",
    "''",
    "'\\''",
    "$x",
    "${HOME}",
    "$(touch pwned)",
    "`touch pwned`",
    "a; touch pwned",
    "a && b || c",
    "a|b>c<d",
    "new\nline",
    "  two  spaces  ",
    "tab\there",
    "back\\slash\\",
    "\"double\"",
    "*?[a]{1,2}",
    "~root",
    "-n",
    "%s%d%%",
    "/Users/x/Applications/Quill (1) $x's.app/Contents/MacOS/Quillmark",
};

TEST(ShellQuote, ShellReadsBackTheExactBytes) {
  qmtest::TempDir tmp;
  for (const std::string& text : kHostile) {
    int status = -1;
    std::string out = qmtest::shell_output(
        "cd '" + tmp.path().string() + "' && printf %s " + quote(text), &status);
    EXPECT_EQ(status, 0) << text;
    EXPECT_EQ(out, text);
  }
  EXPECT_FALSE(qmtest::fs::exists(tmp.path() / "pwned"));
}

TEST(ShellQuote, StaysOneWord) {
  for (const std::string& text : kHostile) {
    std::string out = qmtest::shell_output("set -- " + quote(text) + "; printf %s $#");
    EXPECT_EQ(out, "1") << text;
  }
}

TEST(ShellQuote, ReportsFullLengthAndNeverOverrunsASmallBuffer) {
  const std::string text = "a'b";  // quoted: 'a'\''b' (8 bytes)
  char buffer[16];
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(shell_quote(text.c_str(), buffer, 5), 8u);
  EXPECT_STREQ(buffer, "'a'\\");
  EXPECT_EQ(buffer[5], '#');
  EXPECT_EQ(shell_quote(text.c_str(), buffer, 9), 8u);
  EXPECT_STREQ(buffer, "'a'\\''b'");
}

TEST(EreEscape, EscapedPathMatchesItselfLiterally) {
  for (const std::string& text : kHostile) {
    std::string pattern = escape(text);
    EXPECT_TRUE(ere_matches(pattern, text)) << text;
    EXPECT_TRUE(ere_matches(pattern, "/bin/sh " + text + " --flag")) << text;
  }
}

// Each look-alike is matched by the raw path read as a pattern, which is how a
// probe could see the wrong process, or (for "(1)") never its own.
struct LookAlike {
  std::string path;
  std::string other;
};
const std::vector<LookAlike> kLookAlikes = {
    {"Quill.app", "Quill_app"},
    {"a+b", "aab"},
    {"x*y", "y"},
    {"[ab]", "a"},
    {"a{2}", "aa"},
    {"a|zz", "zz"},
    {"a?b", "b"},
    {"^x", "x"},
    {"x$", "x"},
    {"(1)", "1"},
    {"a\\d", "ad"},
    {"Quill (1).app", "Quill 1.app"},
};

TEST(EreEscape, LookAlikesNoLongerMatch) {
  for (const auto& [path, other] : kLookAlikes) {
    ASSERT_TRUE(ere_matches(path, other)) << path;
    EXPECT_FALSE(ere_matches(escape(path), other)) << path;
    EXPECT_TRUE(ere_matches(escape(path), path)) << path;
  }
}

TEST(EreEscape, GrepAgreesThroughTheShell) {
  // A second engine, fed through the same quoting the probe uses.
  for (const auto& [path, other] : kLookAlikes) {
    int status = -1;
    qmtest::shell_output("printf '%s\\n' " + quote(path) + " | grep -Eq -- " + quote(escape(path)),
                         &status);
    EXPECT_EQ(status, 0) << path;
    qmtest::shell_output("printf '%s\\n' " + quote(other) + " | grep -Eq -- " + quote(escape(path)),
                         &status);
    EXPECT_EQ(status, 1) << path;
  }
}

// --- Commands and their 4096-byte bound -----------------------------------

TEST(Commands, TextsAreExact) {
  // Built for another uid than the test's own: the uid is an argument.
  char command[kCommandCapacity];
  ASSERT_TRUE(build_live_probe_command(501, command, sizeof command));
#ifdef __APPLE__
  EXPECT_STREQ(command,
               "/usr/bin/pgrep -U 501 -x 'Live' >/dev/null 2>&1 || /usr/bin/pgrep -U 501 -f "
               "'/Ableton Live.*\\.app/Contents/MacOS/Liv[e]' >/dev/null 2>&1");
#else
  EXPECT_STREQ(command,
               "LC_ALL=C.UTF-8 /usr/bin/pgrep -A -U 501 -x 'Live' >/dev/null 2>&1 || "
               "LC_ALL=C.UTF-8 /usr/bin/pgrep -A -U 501 -f "
               "'/Ableton Live.*\\.app/Contents/MacOS/Liv[e]' >/dev/null 2>&1");
#endif
  ASSERT_TRUE(
      build_probe_command("/A/Q.app/Contents/MacOS/Quillmark", 501, command, sizeof command));
#ifdef __APPLE__
  EXPECT_STREQ(command,
               "/usr/bin/pgrep -U 501 -f -- '/A/Q\\.app/Contents/MacOS/Quillmar[k]' >/dev/null "
               "2>&1");
  ASSERT_TRUE(build_launch_command("/A/Q.app", command, sizeof command));
  EXPECT_STREQ(command, "/usr/bin/open -g -- '/A/Q.app' >/dev/null 2>&1");
#else
  EXPECT_STREQ(command,
               "LC_ALL=C.UTF-8 /usr/bin/pgrep -A -U 501 -f -- "
               "'/A/Q\\.app/Contents/MacOS/Quillmar[k]' >/dev/null 2>&1");
  ASSERT_TRUE(build_launch_command("/A/Q.app", command, sizeof command));
  EXPECT_STREQ(command,
               "[ -x '/A/Q.app/Contents/MacOS/Quillmark' ] && /usr/bin/setsid -f -- "
               "'/A/Q.app/Contents/MacOS/Quillmark' </dev/null >/dev/null 2>&1");
#endif
}

// Grows a path made of `unit` until its command no longer fits: the refusal
// must come only when the next unit's expansion (at most 8 bytes, a quote
// written twice) would pass the 4095th byte, and must leave no cut command.
template <typename Build>
void expect_tight_bound(const std::string& unit, Build build) {
  std::string path;
  char command[kCommandCapacity];
  size_t last_fit = 0;
  for (;;) {
    std::string longer = path + unit;
    memset(command, '#', sizeof command);
    if (!build(longer.c_str(), command, sizeof command)) {
      EXPECT_STREQ(command, "") << unit;
      break;
    }
    last_fit = strlen(command);
    path = longer;
  }
  EXPECT_LE(last_fit, kCommandCapacity - 1) << unit;
  EXPECT_GT(last_fit + 8, kCommandCapacity - 1) << unit;
}

int build_probe_for_uid_0(const char* path, char* out, size_t capacity) {
  return build_probe_command(path, 0, out, capacity);
}

TEST(Commands, ProbeFitsUpToTheLastByte) {
  expect_tight_bound("a", build_probe_for_uid_0);
  expect_tight_bound("'", build_probe_for_uid_0);
  expect_tight_bound(".", build_probe_for_uid_0);
}

TEST(Commands, LaunchFitsUpToTheLastByte) {
  expect_tight_bound("a", build_launch_command);
  expect_tight_bound("'", build_launch_command);
}

TEST(Commands, ProbeWithPlainBytesReachesExactly4095) {
  char command[kCommandCapacity];
  // The fixed text around the quoted pattern, plus the bracket pair.
  std::string fixed = "LC_ALL=C.UTF-8 /usr/bin/pgrep -A -U 0 -f -- '' >/dev/null 2>&1[]";
#ifdef __APPLE__
  fixed = "/usr/bin/pgrep -U 0 -f -- '' >/dev/null 2>&1[]";
#endif
  std::string path(kCommandCapacity - 1 - fixed.size(), 'a');
  ASSERT_TRUE(build_probe_command(path.c_str(), 0, command, sizeof command));
  EXPECT_EQ(strlen(command), kCommandCapacity - 1);
  path += 'a';
  EXPECT_FALSE(build_probe_command(path.c_str(), 0, command, sizeof command));
}

TEST(Commands, DerivedPathsCanStillOverflowThroughQuoting) {
  // A 1023-byte executable path full of quotes quadruples under quoting.
  std::string app = "/" + std::string(900, '\'') + ".app";
  std::string executable = app + "/Contents/MacOS/Quillmark";
  ASSERT_LT(executable.size(), kPathCapacity);
  EXPECT_FALSE(commands_fit(app.c_str(), executable.c_str()));
  EXPECT_TRUE(commands_fit("/A.app", "/A.app/Contents/MacOS/Quillmark"));
  // The longest derivable plain paths always fit.
  std::string long_app = "/" + std::string(993, 'a') + ".app";  // 998 bytes
  EXPECT_TRUE(commands_fit(long_app.c_str(), (long_app + "/Contents/MacOS/Quillmark").c_str()));
}

}  // namespace

// --- Paths refused at start ------------------------------------------------

struct Refusal {
  std::string path;
  const char* reason;  // nullptr: accepted
  size_t offset;
};

TEST(PathRefusal, ControlCharactersAndBrokenUtf8) {
  const char* control = "holds a control character";
  std::vector<Refusal> cases = {
      {"/Applications/Quillmark.app", nullptr, 0},
      {"/Users/jörg/Quill (1) $x's.app", nullptr, 0},
      {"/a/\xF0\x9F\x8E\xB9 \xE2\x80\x8E\xC2\x85.app", nullptr, 0},  // emoji, LRM, NEL
      {"/a/tab\there.app", control, 6},
      {"/a/new\nline.app", control, 6},
      {"\x1b[2J.app", control, 0},
      {"/a/\x7f.app", control, 3},
  };
#ifdef __APPLE__
  cases.push_back({"/a/\xff.app", nullptr, 0});
#else
  const char* broken = "is not valid UTF-8";
  for (const char* bad : {"\xff", "\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                          "\xF4\x90\x80\x80", "\xC3", "\xE2\x82", "\xF0\x9F\x8E"}) {
    cases.push_back({std::string("/a/") + bad + ".app", broken, 3});
  }
  cases.push_back({"/a/\xF4\x8F\xBF\xBF.app", nullptr, 0});  // U+10FFFF, the last
#endif
  for (const Refusal& c : cases) {
    size_t offset = 99;
    const char* reason = path_refusal(c.path.c_str(), &offset);
    if (c.reason == nullptr) {
      EXPECT_EQ(reason, nullptr) << c.path;
    } else {
      EXPECT_STREQ(reason, c.reason) << c.path;
      EXPECT_EQ(offset, c.offset) << c.path;
    }
  }
}
