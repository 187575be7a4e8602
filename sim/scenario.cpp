#include "scenario.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace qm::scenario {

namespace {

struct Token {
  std::string text;
  bool quoted = false;
};

// Carries the reason of a malformed line out of the nested readers; caught
// in parse(), never leaves this file.
struct Malformed {
  std::string reason;
};

[[noreturn]] void fail(std::string reason) {
  throw Malformed{std::move(reason)};
}

// The shortest text that reads back as the same number.
std::string number(double v) {
  // Negative zero equals zero and is shown as such ("-0" would read back
  // as the whole number 0, shown "0").
  if (v == 0) {
    return "0";
  }
  if (v == std::trunc(v) && std::fabs(v) < 1e15) {
    char text[40];
    std::snprintf(text, sizeof text, "%.0f", v);
    return text;
  }
  for (int precision = 1; precision <= 17; ++precision) {
    char text[40];
    std::snprintf(text, sizeof text, "%.*g", precision, v);
    if (std::strtod(text, nullptr) == v) {
      return text;
    }
  }
  return std::to_string(v);
}

constexpr std::size_t kExcerptCharacters = 40;
constexpr std::string_view kMaxEndText = "31 days (2678400 s)";
static_assert(kMaxEndSeconds == 2678400);
constexpr std::int64_t kMaxFailingBootstraps = 1000000;

std::string shown(const Token& token) {
  return excerpt(token.text);
}

// A bare word as an error message shows it, cut like an excerpt.
std::string bare(std::string_view text) {
  const std::string quoted = excerpt(text);
  const bool cut = quoted.ends_with("...");
  return quoted.substr(1, quoted.size() - (cut ? 5 : 2)) + (cut ? "..." : "");
}

// The length of the UTF-8 sequence at text[i], or 0 when none starts there.
// A code point is accepted only in its shortest form and outside the
// surrogates.
std::size_t utf8Length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  char32_t point = 0;
  if (lead < 0x80) {
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    point = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    point = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) {
    return 0;
  }
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      return 0;
    }
    point = (point << 6) | (byte(i + k) & 0x3F);
  }
  const bool shortest = length == 2 || (length == 3 && point >= 0x800) ||
                        (length == 4 && point >= 0x10000 && point <= 0x10FFFF);
  if (!shortest || (point >= 0xD800 && point <= 0xDFFF)) {
    return 0;
  }
  return length;
}

// A control character at text[i] (C0 but the tab, DEL, C1) as \xNN or
// \uNNNN, or nothing.
std::optional<std::string> controlAt(std::string_view text, std::size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  char escaped[8];
  if ((c < 0x20 && c != '\t') || c == 0x7F) {
    std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
    return escaped;
  }
  // U+0080..U+009F: a terminal may take them as the start of a sequence.
  if (c == 0xC2 && i + 1 < text.size()) {
    const auto next = static_cast<unsigned char>(text[i + 1]);
    if (next >= 0x80 && next <= 0x9F) {
      std::snprintf(escaped, sizeof escaped, "\\u%04X", next);
      return escaped;
    }
  }
  return std::nullopt;
}

std::string escapedByte(char c) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
  return escaped;
}

// Refuses what no scenario line holds before any word is read, so that no
// control character reaches a command or a terminal.
void checkLine(std::string_view line) {
  if (line.size() > kMaxLineBytes) {
    fail("the line is longer than " + std::to_string(kMaxLineBytes) + " bytes");
  }
  for (std::size_t i = 0; i < line.size();) {
    if (std::optional<std::string> control = controlAt(line, i)) {
      fail("a control character (" + *control + ") at byte " + std::to_string(i + 1) +
           "; only blanks and tabs may stand between words, and a text writes a line break "
           "as \\n");
    }
    const std::size_t length = utf8Length(line, i);
    if (length == 0) {
      fail("a byte that is not UTF-8 (" + escapedByte(line[i]) + ") at byte " +
           std::to_string(i + 1) + "; save the scenario as UTF-8");
    }
    i += length;
  }
}

std::vector<Token> tokenize(std::string_view line) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    if (c == '#') {
      break;
    }
    Token token;
    if (c == '"') {
      token.quoted = true;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char d = line[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d == '\t') {
          fail("a tab inside a text; texts hold no control characters");
        }
        if (d != '\\') {
          token.text += d;
          continue;
        }
        if (i == line.size()) {
          break;
        }
        const char e = line[i++];
        if (e == '"' || e == '\\') {
          token.text += e;
        } else if (e == 'n') {
          token.text += '\n';
        } else {
          fail("unknown escape \\" + bare(std::string_view(&e, 1)) + " (only \\\" \\\\ \\n)");
        }
      }
      if (!closed) {
        fail("unterminated text: a \" is missing");
      }
      if (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
          line[i] != '#') {
        fail("a blank must follow the closing \" of " + excerpt(token.text));
      }
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
             line[i] != '#') {
        if (line[i] == '"') {
          fail("a text in quotes must stand apart, not inside " + excerpt(line.substr(0, i + 1)));
        }
        token.text += line[i++];
      }
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

// Walks the tokens of one line.
class Reader {
 public:
  explicit Reader(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  bool atEnd() const { return next_ == tokens_.size(); }
  const Token* peek() const { return atEnd() ? nullptr : &tokens_[next_]; }

  const Token& take(const char* what) {
    if (atEnd()) {
      fail(std::string("missing ") + what);
    }
    return tokens_[next_++];
  }

  // A bare word out of a fixed set; returns its index.
  std::size_t choice(const char* what, std::initializer_list<const char*> words) {
    const Token& token = take(what);
    std::size_t index = 0;
    for (const char* word : words) {
      if (!token.quoted && token.text == word) {
        return index;
      }
      ++index;
    }
    std::string list;
    index = 0;
    for (const char* word : words) {
      list += (index++ == 0 ? "" : index == words.size() ? " or " : ", ");
      list += word;
    }
    fail(std::string(what) + " must be " + list + ", not " + shown(token));
  }

  std::string text(const char* what) {
    const Token& token = take(what);
    if (!token.quoted) {
      fail(std::string(what) + " must be a text in double quotes, not " + bare(token.text));
    }
    return token.text;
  }

  // An identifier or key: a bare word, or a quoted one.
  std::string name(const char* what) { return take(what).text; }

  // A whole number from 0 to `most`.
  std::int64_t count(const char* what,
                     std::int64_t most = std::numeric_limits<std::int64_t>::max()) {
    const Token& token = take(what);
    std::int64_t value = 0;
    const char* first = token.text.data();
    const char* last = first + token.text.size();
    auto [end, error] = std::from_chars(first, last, value);
    if (token.quoted || token.text.empty() || end != last || token.text[0] == '-' ||
        token.text[0] == '+' || (error != std::errc() && error != std::errc::result_out_of_range)) {
      fail(std::string(what) + " must be a whole number 0 or more, not " + shown(token));
    }
    if (error == std::errc::result_out_of_range || value > most) {
      fail(std::string(what) + " must be at most " + std::to_string(most) + ", not " +
           shown(token));
    }
    return value;
  }

  double seconds(const char* what) { return parseSeconds(take(what), what); }

  // Seconds with an optional sign: -1h, +90, 30m.
  double signedSeconds(const char* what) { return parseSeconds(take(what), what, true); }

  void end() {
    if (!atEnd()) {
      fail("unexpected " + shown(tokens_[next_]) + " at the end of the line");
    }
  }

  static double parseSeconds(const Token& token, const char* what, bool withSign = false) {
    const std::string& t = token.text;
    const bool sign = withSign && !t.empty() && (t[0] == '-' || t[0] == '+');
    const std::size_t digits = sign ? 1 : 0;
    std::size_t i = digits;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
      ++i;
    }
    const std::size_t whole = i;
    if (i < t.size() && t[i] == '.') {
      ++i;
      while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
        ++i;
      }
    }
    const std::size_t numberEnd = i;
    double unit = 1;
    if (i < t.size()) {
      switch (t[i]) {
        case 's':
          unit = 1;
          break;
        case 'm':
          unit = 60;
          break;
        case 'h':
          unit = 3600;
          break;
        case 'd':
          unit = 86400;
          break;
        default:
          unit = 0;
      }
      ++i;
    }
    if (token.quoted || whole == digits || unit == 0 || i != t.size() ||
        (numberEnd > whole && numberEnd == whole + 1)) {
      fail(
          std::string(what) +
          (withSign ? " must be seconds like 90, -1h or +1.5" : " must be seconds like 90 or 1.5") +
          ", optionally with a unit s, m, h or d, not " + shown(token));
    }
    const double value = std::strtod(t.substr(digits, numberEnd - digits).c_str(), nullptr) * unit;
    if (!std::isfinite(value) || value > kMaxEndSeconds) {
      fail(std::string(what) + " must be at most " + std::string(kMaxEndText) +
           (withSign ? " either way" : "") + ", not " + bare(t));
    }
    return sign && t[0] == '-' ? -value : value;
  }

 private:
  std::vector<Token> tokens_;
  std::size_t next_ = 0;
};

// A whole number in the text's entire length; `outOfRange` tells a number
// too large for 64 bits from no number at all.
std::optional<std::int64_t> wholeNumber(const std::string& t, bool* outOfRange) {
  std::int64_t integer = 0;
  auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), integer);
  const bool whole = !t.empty() && end == t.data() + t.size();
  *outOfRange = whole && error == std::errc::result_out_of_range;
  if (!whole || error != std::errc()) {
    return std::nullopt;
  }
  return integer;
}

// A finite decimal number: digits, sign, point and exponent only (no hex,
// no inf or nan).
std::optional<double> realNumber(const std::string& t) {
  if (t.empty() || t.find_first_not_of("0123456789+-.eE") != std::string::npos) {
    return std::nullopt;
  }
  char* stop = nullptr;
  const double real = std::strtod(t.c_str(), &stop);
  if (stop != t.c_str() + t.size() || !std::isfinite(real)) {
    return std::nullopt;
  }
  return real;
}

PrefValue readValue(Reader& in, bool forExpectation) {
  const Token& token = in.take("a value");
  if (token.quoted) {
    return token.text;
  }
  const std::string& t = token.text;
  if (t == "yes") {
    return true;
  }
  if (t == "no") {
    return false;
  }
  if (forExpectation && t == "absent") {
    return Absent{};
  }
  bool outOfRange = false;
  if (std::optional<std::int64_t> integer = wholeNumber(t, &outOfRange)) {
    return *integer;
  }
  if (std::optional<double> real = realNumber(t)) {
    return *real;
  }
  fail("a preference value must be a number, yes, no, a text in quotes" +
       std::string(forExpectation ? " or absent" : "") + ", not " + shown(token));
}

// pref set KEY TYPE VALUE: the value is read as its type asks, and refused
// in that type's terms.
void readPrefSet(Reader& in, Command& command) {
  command.words.push_back(in.name("a preference key"));
  const std::size_t type = in.choice("the value's type", {"int", "real", "bool", "string"});
  if (type == 2) {
    command.value = in.choice("a bool value", {"yes", "no"}) == 0;
    return;
  }
  if (type == 3) {
    command.value = in.text("a string value");
    return;
  }
  const Token& token = in.take("a value");
  const std::string shownValue = token.quoted ? shown(token) : bare(token.text);
  bool outOfRange = false;
  const std::optional<std::int64_t> integer =
      token.quoted ? std::nullopt : wholeNumber(token.text, &outOfRange);
  if (type == 0) {
    if (!integer) {
      fail(outOfRange ? "int needs a whole number from -9223372036854775808 to "
                        "9223372036854775807, not " +
                            shownValue
                      : "int needs a whole number, not " + shownValue);
    }
    command.value = *integer;
    return;
  }
  const std::optional<double> real = token.quoted ? std::nullopt : realNumber(token.text);
  if (!real) {
    fail("real needs a finite number like 2.5 or 1e-3, not " + shownValue);
  }
  command.value = *real;
}

constexpr std::pair<const char*, Check> kChecks[] = {
    {"status", Check::status},
    {"ableton", Check::ableton},
    {"permission", Check::permission},
    {"autosave", Check::autosave},
    {"toggle", Check::toggle},
    {"tooltip", Check::tooltip},
    {"countdown", Check::countdown},
    {"checked", Check::checked},
    {"visible", Check::visible},
    {"hidden", Check::hidden},
    {"log", Check::log},
    {"log-count", Check::logCount},
    {"no-log", Check::noLog},
    {"saves", Check::saves},
    {"front", Check::front},
    {"running", Check::running},
    {"alerts", Check::alerts},
    {"prompts", Check::prompts},
    {"launchctl", Check::launchctl},
    {"pref", Check::pref},
    {"file", Check::file},
    {"opened", Check::opened},
    {"opened-count", Check::openedCount},
    {"stray-keys", Check::strayKeys},
    {"live", Check::live},
    {"live-saves", Check::liveSaves},
    {"live-dialog", Check::liveDialog},
    {"notification", Check::notification},
    {"notifications", Check::notifications},
    {"menu-saves", Check::menuSaves},
    {"live-activations", Check::liveActivations},
    {"main-thread-waits-at-most", Check::mainThreadWaitsAtMost},
};

void readExpectation(Reader& in, Command& command) {
  const Token& what = in.take("what to expect");
  const auto* found = std::find_if(std::begin(kChecks), std::end(kChecks), [&](const auto& entry) {
    return !what.quoted && what.text == entry.first;
  });
  if (found == std::end(kChecks)) {
    fail("unknown expectation " + shown(what));
  }
  command.check = found->second;
  switch (command.check) {
    case Check::status:
    case Check::ableton:
    case Check::permission:
    case Check::autosave:
    case Check::toggle:
    case Check::tooltip:
    case Check::countdown:
    case Check::visible:
    case Check::hidden:
    case Check::log:
    case Check::noLog:
    case Check::opened:
      command.words.push_back(in.text("the expected text"));
      break;
    case Check::logCount:
      command.words.push_back(in.text("the log message"));
      command.count = in.count("the number of lines");
      break;
    case Check::checked:
      if (const Token* next = in.peek(); next && !next->quoted && next->text == "none") {
        in.take("none");
      } else {
        command.words.push_back(in.text("the checked item's title or none"));
      }
      break;
    case Check::front:
      if (std::string id = in.name("a bundle identifier or none"); id != "none") {
        command.words.push_back(std::move(id));
      }
      break;
    case Check::running:
      command.flag = in.choice("running's value", {"yes", "no"}) == 0;
      break;
    case Check::saves:
    case Check::alerts:
    case Check::prompts:
    case Check::launchctl:
    case Check::openedCount:
    case Check::strayKeys:
    case Check::liveSaves:
    case Check::notifications:
    case Check::menuSaves:
    case Check::liveActivations:
      command.count = in.count("the expected number");
      break;
    case Check::mainThreadWaitsAtMost:
      command.seconds = in.seconds("the most waiting in one second");
      break;
    case Check::liveDialog:
      command.flag = in.choice("Live's dialog", {"open", "closed"}) == 0;
      break;
    case Check::notification:
      if (const Token* next = in.peek(); next && !next->quoted && next->text == "none") {
        in.take("none");
      } else {
        command.words.push_back(in.text("the notification's title or none"));
      }
      break;
    case Check::live:
      command.flag = in.choice("Live's state", {"hidden", "shown"}) == 0;
      break;
    case Check::pref:
      command.words.push_back(in.name("a preference key"));
      command.value = readValue(in, true);
      break;
    case Check::file: {
      std::string path = in.text("a path under the home folder");
      if (path.empty() || path[0] == '/') {
        fail("the path must be relative to the home folder: " + excerpt(path));
      }
      for (std::size_t start = 0; start <= path.size();) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        if (slash - start == 2 && path.compare(start, 2, "..") == 0) {
          fail("the path must stay under the home folder, without a .. part: " + excerpt(path));
        }
        start = slash + 1;
      }
      command.words.push_back(std::move(path));
      command.flag = in.choice("present or absent", {"present", "absent"}) == 0;
      break;
    }
  }
}

// A set's name: a text that Live's title can show.
std::string setName(Reader& in, const char* what) {
  std::string name = in.text(what);
  if (name.empty()) {
    fail(std::string(what) + " must not be empty");
  }
  return name;
}

void readLive(Reader& in, Command& command) {
  const std::size_t action = in.choice(
      "live's action", {"start", "quit", "hide", "set", "edits", "save-takes", "deaf", "dialog",
                        "names-set", "title-mark", "title", "busy", "user-saves", "menu-save"});
  switch (action) {
    case 0:
      command.op = Op::liveStart;
      if (!in.atEnd()) {
        in.choice("the word after live start", {"hidden"});
        command.flag = true;
      }
      break;
    case 1:
      command.op = Op::liveQuit;
      break;
    case 2:
      command.op = Op::liveHide;
      break;
    case 3:
      command.op = Op::liveSet;
      // A bare untitled is the set never saved; "untitled" in quotes is a name.
      if (const Token* next = in.peek(); next && !next->quoted && next->text == "untitled") {
        in.take("untitled");
      } else if (next && !next->quoted) {
        fail("the set must be a name in double quotes or untitled, not " + bare(next->text));
      } else {
        command.words.push_back(setName(in, "the set's name"));
      }
      break;
    case 4:
      command.op = Op::liveEdits;
      break;
    case 5:
      command.op = Op::liveSaveTakes;
      command.seconds = in.seconds("how long a save takes");
      break;
    case 6:
      command.op = Op::liveDeaf;
      command.flag = in.choice("live deaf's value", {"on", "off"}) == 0;
      break;
    case 7:
      command.op = Op::liveDialog;
      command.flag = in.choice("live dialog's change", {"open", "close"}) == 0;
      break;
    case 8:
      command.op = Op::liveNamesSet;
      command.words.push_back(setName(in, "the name the set is saved as"));
      break;
    case 9:
      command.op = Op::liveTitleMark;
      command.flag = in.choice("live title-mark's value", {"on", "off"}) == 0;
      break;
    case 10:
      command.op = Op::liveTitle;
      command.words.push_back(in.text("the title"));
      break;
    case 11:
      command.op = Op::liveBusy;
      command.seconds = in.seconds("how long Live is busy");
      break;
    case 12:
      command.op = Op::liveUserSaves;
      break;
    default:
      command.op = Op::liveMenuSave;
      command.count = static_cast<std::int64_t>(
          in.choice("Live's Save command", {"works", "ignored", "disabled", "none"}));
      break;
  }
}

void readCommand(Reader& in, Command& command) {
  const Token& word = in.take("a command");
  const std::string& w = word.text;
  if (word.quoted) {
    fail("a line must begin with a command, not the text " + excerpt(w));
  }
  if (w == "note") {
    command.op = Op::note;
    command.words.push_back(in.text("the note"));
  } else if (w == "launch") {
    command.op = Op::launch;
  } else if (w == "live") {
    readLive(in, command);
  } else if (w == "user") {
    const std::size_t action = in.choice("the user's action", {"types", "holds", "releases"});
    if (action == 0) {
      command.op = Op::userTypes;
      if (!in.atEnd()) {
        in.choice("the word after types", {"for"});
        command.flag = true;
        command.seconds = in.seconds("how long the user types");
      }
    } else if (action == 1) {
      command.op = Op::userHolds;
      command.count = static_cast<std::int64_t>(
          in.choice("what the user holds", {"shift", "control", "option", "command", "mouse"}));
    } else {
      command.op = Op::userReleases;
      command.count = static_cast<std::int64_t>(in.choice(
          "what the user releases", {"shift", "control", "option", "command", "mouse", "all"}));
    }
  } else if (w == "session") {
    command.op = Op::session;
    command.count = static_cast<std::int64_t>(
        in.choice("the session's change", {"lock", "unlock", "end", "switch-away", "switch-back"}));
    // Only a lock or an unlock can go untold.
    if (command.count <= 1 && !in.atEnd()) {
      in.choice("the word after the session's change", {"silent"});
      command.flag = true;
    }
  } else if (w == "system") {
    command.op = Op::systemSleep;
    in.choice("the system's change", {"sleep"});
    command.seconds = in.seconds("how long the system sleeps");
  } else if (w == "clock") {
    command.op = Op::clockJump;
    in.choice("the clock's change", {"jump"});
    command.seconds = in.signedSeconds("how far the clock jumps");
  } else if (w == "keyboard-layout") {
    command.op = Op::keyboardLayout;
    command.count =
        static_cast<std::int64_t>(in.choice("the keyboard layout", {"us", "dvorak", "colemak"}));
  } else if (w == "app") {
    command.op = in.choice("app's action", {"start", "quit"}) == 0 ? Op::appStart : Op::appQuit;
    command.words.push_back(in.name("a bundle identifier"));
  } else if (w == "front") {
    command.op = Op::front;
    if (std::string id = in.name("a bundle identifier or none"); id != "none") {
      command.words.push_back(std::move(id));
    }
  } else if (w == "trust") {
    command.op = Op::trust;
    command.flag = in.choice("trust's value", {"on", "off"}) == 0;
  } else if (w == "alert") {
    command.op = Op::alertAnswer;
    in.choice("the word after alert", {"answer"});
    command.count = static_cast<std::int64_t>(in.choice("the button", {"first", "second"}));
    if (!in.atEnd()) {
      in.choice("the word after the button", {"open"});
      command.seconds = in.seconds("how long the alert stays open");
    }
  } else if (w == "fail") {
    if (in.choice("the fault", {"event-source", "key-event"}) == 0) {
      command.op = Op::failEventSource;
    } else {
      command.op = Op::failKeyEvent;
      command.count = in.count("the failing event's position");
      if (command.count < 1 || command.count > 4) {
        fail("the failing key event is one of 1, 2, 3, 4, not " + std::to_string(command.count));
      }
    }
  } else if (w == "pref") {
    if (in.choice("pref's action", {"set", "remove"}) == 0) {
      command.op = Op::prefSet;
      readPrefSet(in, command);
    } else {
      command.op = Op::prefRemove;
      command.words.push_back(in.name("a preference key"));
    }
  } else if (w == "watcher") {
    command.op = Op::watcher;
    command.flag = in.choice("the watcher's state", {"present", "absent"}) == 0;
  } else if (w == "library") {
    command.op = Op::library;
    command.flag = in.choice("the Library's state", {"available", "unavailable"}) == 0;
  } else if (w == "logs-folder") {
    command.op = Op::logsFolder;
    command.flag = in.choice("the Logs folder's state", {"present", "absent"}) == 0;
  } else if (w == "launchctl") {
    command.op = Op::launchctl;
    command.count =
        static_cast<std::int64_t>(in.choice("launchctl's state", {"present", "missing", "hangs"}));
  } else if (w == "bootstrap") {
    if (in.choice("the word after bootstrap", {"fails", "disabled"}) == 1) {
      command.op = Op::bootstrapDisabled;
    } else {
      command.op = Op::bootstrapFails;
      command.count = in.count("how many bootstrap runs fail", kMaxFailingBootstraps);
    }
  } else if (w == "decline-activation") {
    command.op = Op::activations;
    command.count = static_cast<std::int64_t>(
        in.choice("which activations are declined", {"none", "plain", "all"}));
  } else if (w == "app-location") {
    command.op = Op::appLocation;
    command.count = static_cast<std::int64_t>(
        in.choice("where the application lies",
                  {"applications", "disk-image", "translocated", "removable", "network"}));
  } else if (w == "click") {
    command.op = Op::click;
    command.words.push_back(in.text("the item's title"));
    while (!in.atEnd()) {
      command.words.push_back(in.text("a submenu item's title"));
    }
  } else if (w == "quit-key") {
    command.op = Op::quitKey;
  } else if (w == "picture") {
    command.op = Op::picture;
    command.words.push_back(in.text("the picture's file"));
    if (!command.words[0].ends_with(".png") || command.words[0].size() == 4) {
      fail("the picture's file must end in .png, not " + excerpt(command.words[0]));
    }
  } else if (w == "expect") {
    command.op = Op::expect;
    readExpectation(in, command);
  } else if (w == "run") {
    command.op = Op::run;
  } else {
    fail("unknown command " + shown(word));
  }
}

}  // namespace

const char* name(Check check) {
  for (const auto& [word, value] : kChecks) {
    if (value == check) {
      return word;
    }
  }
  return "?";
}

std::string excerpt(std::string_view text) {
  std::string shown = "\"";
  std::size_t characters = 0;
  std::size_t i = 0;
  while (i < text.size() && characters < kExcerptCharacters) {
    const char c = text[i];
    if (std::optional<std::string> control = controlAt(text, i)) {
      shown += c == '\n' ? "\\n" : *control;
      i += static_cast<unsigned char>(c) == 0xC2 ? 2 : 1;
    } else if (c == '"' || c == '\\') {
      shown += '\\';
      shown += c;
      ++i;
    } else if (c == '\t') {
      shown += "\\t";
      ++i;
    } else if (const std::size_t length = utf8Length(text, i); length > 0) {
      shown.append(text, i, length);
      i += length;
    } else {
      shown += escapedByte(c);
      ++i;
    }
    ++characters;
  }
  shown += '"';
  if (i < text.size()) {
    shown += "...";
  }
  return shown;
}

double monotonicEnd(const Scenario& scenario) {
  double wake = 0;
  for (const Command& command : scenario.commands) {
    if (command.op == Op::systemSleep) {
      wake = std::max(wake, command.time) + command.seconds;
    }
  }
  return std::max(wake, scenario.endTime);
}

std::string timeText(double seconds) {
  char text[400];
  const auto [end, error] =
      std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed);
  return error == std::errc() ? std::string(text, end) : number(seconds);
}

std::string quote(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (c == '\n') {
      quoted += "\\n";
    } else {
      quoted += c;
    }
  }
  quoted += '"';
  return quoted;
}

std::string describe(const PrefValue& value) {
  struct Visitor {
    std::string operator()(const Absent&) const { return "absent"; }
    std::string operator()(std::int64_t v) const { return std::to_string(v); }
    std::string operator()(double v) const { return number(v); }
    std::string operator()(bool v) const { return v ? "yes" : "no"; }
    std::string operator()(const std::string& v) const { return quote(v); }
  };
  return std::visit(Visitor{}, value);
}

bool parse(std::string_view text, Scenario* scenario, ParseError* error) {
  // Editors on some systems begin UTF-8 files with a byte order mark.
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    text.remove_prefix(kByteOrderMark.size());
  }
  if (text.size() > kMaxScenarioBytes) {
    if (error != nullptr) {
      *error = ParseError{
          0, "the scenario is larger than " + std::to_string(kMaxScenarioBytes) + " bytes"};
    }
    return false;
  }
  Scenario result;
  double previous = 0;
  int lineNumber = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    try {
      // Lines may end in CR LF.
      if (line.ends_with('\r')) {
        line.remove_suffix(1);
      }
      checkLine(line);
      std::vector<Token> tokens = tokenize(line);
      if (tokens.empty()) {
        continue;
      }
      Command command;
      command.line = lineNumber;
      command.time = previous;
      std::size_t first = 0;
      if (!tokens[0].quoted && (tokens[0].text == "at" || tokens[0].text == "after")) {
        if (tokens.size() < 2) {
          fail(tokens[0].text + " needs a time");
        }
        const double value = Reader::parseSeconds(tokens[1], "the time");
        if (tokens[0].text == "at") {
          if (value < previous) {
            fail("at " + bare(tokens[1].text) + " goes back in time: the previous line is at " +
                 number(previous) + " s");
          }
          command.time = value;
        } else {
          command.time = previous + value;
          if (command.time > kMaxEndSeconds) {
            fail("after " + bare(tokens[1].text) + " comes at " + number(command.time) +
                 " s, later than a scenario may run, " + std::string(kMaxEndText));
          }
        }
        first = 2;
      }
      for (std::size_t i = first; i < tokens.size(); ++i) {
        command.text += (i == first ? "" : " ");
        command.text += tokens[i].quoted ? quote(tokens[i].text) : tokens[i].text;
      }
      Reader in(
          std::vector<Token>(tokens.begin() + static_cast<std::ptrdiff_t>(first), tokens.end()));
      readCommand(in, command);
      if (command.op == Op::run) {
        if (first != 0) {
          fail("run takes its own time; it cannot follow at or after");
        }
        const double until = in.seconds("the time to run to");
        if (until < previous) {
          fail("run " + number(until) + " goes back in time: the previous line is at " +
               number(previous) + " s");
        }
        command.time = until;
      }
      in.end();
      previous = command.time;
      const bool stop = command.op == Op::run;
      result.commands.push_back(std::move(command));
      if (stop) {
        break;
      }
    } catch (const Malformed& malformed) {
      if (error != nullptr) {
        *error = ParseError{lineNumber, malformed.reason};
      }
      return false;
    }
    if (end == text.size()) {
      break;
    }
  }
  result.endTime = previous;
  *scenario = std::move(result);
  return true;
}

}  // namespace qm::scenario
