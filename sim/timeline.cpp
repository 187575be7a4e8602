#include "timeline.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>

#include "app_delegate.h"
#include "session.h"

namespace qm::simtool {

namespace {

constexpr std::size_t kLabelWidth = 10;
constexpr std::uint64_t kCommandFlag = kEventFlagMaskCommand;

// Command, or the letter the key types in the layout of its moment.
std::string keyName(const sim::PostedKeyEvent& key) {
  if (key.keyCode == kVirtualKeyCommand) {
    return "Cmd";
  }
  if (key.typed.size() == 1 && key.typed[0] >= 'a' && key.typed[0] <= 'z') {
    return std::string(1, static_cast<char>(key.typed[0] - 'a' + 'A'));
  }
  return key.typed.empty() ? "key" + std::to_string(key.keyCode) : key.typed;
}

std::string readName(sim::LiveWait::Read read) {
  switch (read) {
    case sim::LiveWait::Read::title:
      return "its window's title";
    case sim::LiveWait::Read::dialog:
      return "whether it shows a dialog";
    case sim::LiveWait::Read::saveCommand:
      return "its Save command";
  }
  return "?";
}

// A menu title or the tooltip, read for what ticks in it: a leading frame of
// the waiting animation and a trailing countdown "MM:SS" after one of the
// words the menu puts before it (a time of day, "Saved at 09:00", is not one).
constexpr std::string_view kBeforeCountdown[] = {"Next save in ", "next ", "Next save "};

struct Reading {
  std::string_view steady;
  bool animated = false;
  int countdown = -1;
};

Reading readTitle(std::string_view title) {
  Reading reading;
  for (std::string_view symbol : kWaitingSymbols) {
    if (title.starts_with(symbol)) {
      reading.animated = true;
      title.remove_prefix(symbol.size());
      break;
    }
  }
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  const std::size_t colon = title.rfind(':');
  if (colon != std::string_view::npos && colon + 3 == title.size() && digit(title[colon + 1]) &&
      digit(title[colon + 2])) {
    std::size_t start = colon;
    while (start > 0 && digit(title[start - 1])) {
      --start;
    }
    const std::string_view before = title.substr(0, start);
    if (start < colon &&
        std::any_of(std::begin(kBeforeCountdown), std::end(kBeforeCountdown),
                    [&](std::string_view words) { return before.ends_with(words); })) {
      int minutes = 0;
      for (std::size_t i = start; i < colon; ++i) {
        minutes = minutes * 10 + (title[i] - '0');
      }
      reading.countdown = minutes * 60 + (title[colon + 1] - '0') * 10 + (title[colon + 2] - '0');
      title = title.substr(0, start);
    }
  }
  reading.steady = title;
  return reading;
}

// True when `now` differs from `before` only by the countdown going down or
// the animation turning: a countdown that goes up starts anew, which is news.
bool onlyTicks(std::string_view before, std::string_view now) {
  const Reading a = readTitle(before);
  const Reading b = readTitle(now);
  return a.steady == b.steady && a.animated == b.animated &&
         (a.countdown >= 0) == (b.countdown >= 0) && b.countdown <= a.countdown;
}

// A tick worth a line: the countdown at a whole minute.
bool onTheMinute(std::string_view title) {
  const int countdown = readTitle(title).countdown;
  return countdown >= 0 && countdown % 60 == 0;
}

}  // namespace

std::string secondsText(double seconds) {
  char text[48];
  std::snprintf(text, sizeof text, "%.3f", std::round(seconds * 1000.0) / 1000.0);
  std::string shown = text;
  while (shown.back() == '0') {
    shown.pop_back();
  }
  if (shown.back() == '.') {
    shown.pop_back();
  }
  return shown == "-0" ? "0" : shown;
}

Timeline::Timeline(std::ostream& out, const Options& options)
    : out_(out),
      quiet_(options.quiet),
      showDate_(options.showDate),
      everySecond_(options.everySecond) {}

void Timeline::follow(Session& session) {
  session_ = &session;
  home_ = session.home();
  logPath_ = session.logPath();
  if (!quiet_) {
    session.world().setObserver([this](const sim::Event& event) { onEvent(event); });
  }
}

// ---------------------------------------------------------------------------
// Lines

std::string Timeline::timeText(Date time) const {
  const auto milliseconds = static_cast<long long>(std::llround(time * 1000.0));
  const auto seconds = static_cast<std::time_t>(milliseconds / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[48];
  const std::size_t length =
      std::strftime(text, sizeof text, showDate_ ? "%Y-%m-%d %H:%M:%S" : "%H:%M:%S", &local);
  std::snprintf(text + length, sizeof text - length, ".%03lld", milliseconds % 1000);
  return text;
}

void Timeline::emit(Date time, std::string_view label, std::string_view text) {
  if (label != "keys") {
    flushKeys();
  }
  std::string stamp = timeText(time);
  const std::size_t width = stamp.size();
  if (stamp == lastTime_ && !quiet_) {
    // Events of one instant share its time, printed once.
    out_ << std::string(width, ' ');
  } else {
    out_ << stamp;
    lastTime_ = std::move(stamp);
  }
  out_ << "  " << label;
  for (std::size_t i = label.size(); i < kLabelWidth; ++i) {
    out_ << ' ';
  }
  out_ << ' ';
  const std::string indent(width + 2 + kLabelWidth + 1, ' ');
  for (char c : text) {
    out_ << c;
    if (c == '\n') {
      out_ << indent;
    }
  }
  out_ << '\n';
}

void Timeline::note(Date time, const std::string& text) {
  if (!quiet_) {
    pollLog(time);
    emit(time, "note", text);
  }
}

void Timeline::command(Date time, const scenario::Command& command, const std::string& result) {
  if (quiet_) {
    return;
  }
  pollLog(time);
  const bool user =
      command.op == scenario::Op::click || command.op == scenario::Op::quitKey ||
      command.op == scenario::Op::userTypes || command.op == scenario::Op::userHolds ||
      command.op == scenario::Op::userReleases || command.op == scenario::Op::liveHide ||
      command.op == scenario::Op::liveEdits || command.op == scenario::Op::liveNamesSet ||
      command.op == scenario::Op::liveUserSaves;
  emit(time, user ? "user" : "world",
       result.empty() ? command.text : command.text + "  → " + result);
}

void Timeline::sleep(Date time, const scenario::Command& command, Date wakeAt) {
  Timeline::command(time, command, "asleep until " + timeText(wakeAt));
}

void Timeline::wake(Date time, double asleepSeconds) {
  if (!quiet_) {
    pollLog(time);
    emit(time, "wake", "the system woke after " + scenario::timeText(asleepSeconds) + " s");
  }
}

void Timeline::clockJump(Date time, const scenario::Command& command, Date wallNow) {
  Timeline::command(time, command, "wall clock " + timeText(wallNow));
}

void Timeline::started(int pid, bool hidden) {
  if (hidden) {
    hidden_.insert(pid);
  }
}

void Timeline::failure(Date time, int line, const std::string& what, const std::string& expected,
                       const std::string& actual) {
  if (!quiet_) {
    pollLog(time);
  }
  emit(time, "FAILED",
       "line " + std::to_string(line) + ": " + what + ": expected " + expected + ", actual " +
           actual);
}

void Timeline::summary(Date time, int expectations, int failures) {
  if (quiet_) {
    return;
  }
  flush();
  flushWaits(time);
  if (session_ != nullptr && !session_->world().liveWaits().empty()) {
    const sim::World::WaitWindow worst = session_->world().worstLiveWaitSecond();
    emit(time, "waits",
         "Quillmark's main thread waited for Live at most " + secondsText(worst.seconds) +
             " s in one second, from " + timeText(worst.start));
  }
  std::string text =
      std::to_string(expectations) + " check" + (expectations == 1 ? "" : "s") + ", ";
  text += failures == 0 ? "all held" : std::to_string(failures) + " failed";
  emit(time, "end", text);
}

void Timeline::flush() {
  if (!quiet_ && session_ != nullptr) {
    pollLog(session_->world().now());
  }
  flushKeys();
  out_.flush();
}

// ---------------------------------------------------------------------------
// Following the world

std::string Timeline::application(int pid) const {
  return session_->bundleIdentifier(pid) + " (pid " + std::to_string(pid) + ")";
}

std::string Timeline::shortPath(const std::string& path) const {
  if (!home_.empty() && path.compare(0, home_.size(), home_) == 0 &&
      (path.size() == home_.size() || path[home_.size()] == '/')) {
    std::string shortened = "~";
    shortened.append(path, home_.size());
    return shortened;
  }
  return path;
}

void Timeline::onEvent(const sim::Event& event) {
  using Kind = sim::Event::Kind;
  pollLog(event.time);
  const sim::World& world = session_->world();
  switch (event.kind) {
    case Kind::keyEventPosted:
      addKey(event);
      break;
    case Kind::activation:
      emit(event.time, "focus", application(event.pid));
      break;
    case Kind::unhiding:
      // Every save unhides Live; only an actual change is worth a line.
      if (hidden_.erase(event.pid) > 0) {
        emit(event.time, "unhide", application(event.pid));
      }
      break;
    case Kind::hiding:
      hidden_.insert(event.pid);
      emit(event.time, "hide", application(event.pid));
      break;
    case Kind::alertShown: {
      const sim::AlertRecord& alert = world.alerts()[event.index];
      std::string text = scenario::quote(alert.content.messageText) + "  buttons";
      for (const std::string& title : alert.content.buttonTitles) {
        text += " [" + title + "]";
      }
      emit(event.time, "alert", text);
      break;
    }
    case Kind::alertAnswered: {
      const sim::AlertRecord& alert = world.alerts()[event.index];
      const int button = alert.pressedButton.value_or(-1);
      const auto& titles = alert.content.buttonTitles;
      std::string text = "answered [";
      text += button >= 0 && static_cast<std::size_t>(button) < titles.size()
                  ? titles[static_cast<std::size_t>(button)]
                  : std::string("OK");
      text += "]";
      emit(event.time, "alert", text);
      break;
    }
    case Kind::accessibilityPrompt:
      emit(event.time, "prompt", "the system asks to grant Accessibility access");
      break;
    case Kind::urlOpened:
      emit(event.time, "url", world.openedURLs()[event.index].url);
      break;
    case Kind::taskRun: {
      const sim::TaskRun& run = world.taskRuns()[event.index];
      std::string text;
      for (const std::string& argument : run.arguments) {
        if (!text.empty()) {
          text += ' ';
        }
        text += shortPath(argument);
      }
      if (run.timedOut) {
        text += "  → still running at the time limit, ended";
      } else {
        text += run.status ? "  → exit " + std::to_string(*run.status) : "  → cannot start";
      }
      emit(event.time, run.launchPath == sim::World::kLaunchctlPath ? "launchctl" : run.launchPath,
           text);
      break;
    }
    case Kind::terminated:
      emit(event.time, "quit", "Quillmark (pid " + std::to_string(event.pid) + ") terminated");
      break;
    case Kind::notificationPosted: {
      const sim::NotificationRecord& notification = world.notifications()[event.index];
      emit(event.time, "notify",
           scenario::quote(notification.title) + "  " + scenario::quote(notification.body));
      break;
    }
    case Kind::liveTitleChanged: {
      const std::optional<std::string> title = world.liveTitle();
      emit(event.time, "live", title ? "title " + scenario::quote(*title) : "no title");
      break;
    }
    case Kind::liveDialogChanged:
      emit(event.time, "live", world.liveDialogOpen() ? "dialog opens" : "dialog closes");
      break;
    case Kind::liveWaited:
      addWait(event);
      break;
    case Kind::liveAnswersAgain:
      flushWaits(event.time);
      emit(event.time, "live", "answers again");
      break;
    case Kind::menuPressed:
      emit(event.time, "menu", "File ▸ Save Live Set  → " + application(event.pid));
      break;
    case Kind::afterDispatch:
      diffMenu(event.time);
      break;
  }
}

void Timeline::addWait(const sim::Event& event) {
  const sim::World& world = session_->world();
  const sim::LiveWait& wait = world.liveWaits()[event.index];
  // A spell made longer shows again, with its new end.
  if (!everySecond_ && world.liveBusyUntil() == waitSpellShown_) {
    ++quietWaits_;
    quietWaitSeconds_ += wait.seconds;
    return;
  }
  flushWaits(event.time);
  waitSpellShown_ = world.liveBusyUntil();
  emit(event.time, "wait",
       "Quillmark (pid " + std::to_string(wait.pid) + ") asked " + application(wait.livePid) +
           " for " + readName(wait.read) + ": no answer in " + scenario::timeText(wait.seconds) +
           " s");
}

void Timeline::flushWaits(Date time) {
  if (quietWaits_ == 0) {
    return;
  }
  const int count = quietWaits_;
  quietWaits_ = 0;
  emit(time, "wait",
       std::to_string(count) + " more read" + (count == 1 ? "" : "s") + " went unanswered, " +
           secondsText(quietWaitSeconds_) + " s of waiting in all");
  quietWaitSeconds_ = 0;
}

void Timeline::addKey(const sim::Event& event) {
  const sim::PostedKeyEvent& key = session_->world().keyEvents()[event.index];
  if (!keys_.empty() && keysPid_ != key.pid) {
    flushKeys();
  }
  if (keys_.empty()) {
    keysTime_ = event.time;
    keysPid_ = key.pid;
    keysHeld_ = false;
  } else {
    keys_ += ' ';
  }
  keys_ += keyName(key) + (key.keyDown ? "↓" : "↑");
  if (key.flags != kCommandFlag) {
    char flags[32];
    std::snprintf(flags, sizeof flags, "(flags 0x%llx)",
                  static_cast<unsigned long long>(key.flags));
    keys_ += flags;
  }
  if (!key.delivered) {
    keys_ += "(lost)";
  }
  keysHeld_ = keysHeld_ || key.heldByBusyLive;
}

void Timeline::flushKeys() {
  if (keys_.empty()) {
    return;
  }
  std::string text = std::move(keys_);
  keys_.clear();
  emit(keysTime_, "keys",
       text + "  → " + application(keysPid_) + (keysHeld_ ? ", held while it is busy" : ""));
}

void Timeline::pollLog(Date time) {
  if (logPath_.empty()) {
    return;
  }
  struct stat info {};
  if (::stat(logPath_.c_str(), &info) != 0) {
    logSeen_ = false;
    logOffset_ = 0;
    logPartial_.clear();
    return;
  }
  const auto size = static_cast<std::uintmax_t>(info.st_size);
  if (!logSeen_ || info.st_ino != logInode_ || size < logOffset_) {
    // A new file (the first line is written by renaming a temporary file).
    logSeen_ = true;
    logInode_ = info.st_ino;
    logOffset_ = 0;
    logPartial_.clear();
  }
  if (size == logOffset_) {
    return;
  }
  std::ifstream in(logPath_, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(logOffset_));
  std::string added(size - logOffset_, '\0');
  in.read(added.data(), static_cast<std::streamsize>(added.size()));
  added.resize(static_cast<std::size_t>(in.gcount()));
  logOffset_ += added.size();
  logPartial_ += added;
  std::size_t start = 0;
  for (std::size_t end; (end = logPartial_.find('\n', start)) != std::string::npos;
       start = end + 1) {
    std::string_view line(logPartial_.data() + start, end - start);
    const std::size_t close = line.find("] ");
    if (!line.empty() && line[0] == '[' && close != std::string_view::npos) {
      line.remove_prefix(close + 2);
    }
    emit(time, "log", line);
  }
  logPartial_.erase(0, start);
}

void Timeline::diffMenu(Date time) {
  const sim::Process* process = session_->runningQuillmark();
  if (process == nullptr) {
    return;
  }
  if (process != menuOwner_) {
    menuOwner_ = process;
    shown_.fill({});
  }
  const sim::SimStatusItem* item = session_->statusItem();
  if (item == nullptr || session_->menuRow(MenuRow::status) == nullptr) {
    return;
  }
  // The followed rows' titles, then the tooltip, each with its label.
  std::array<std::string_view, kFollowed> labels;
  std::array<std::string_view, kFollowed> titles;
  std::size_t count = 0;
  for (const MenuRowInfo& row : kMenuRows) {
    if (row.followed) {
      labels[count] = row.name;
      titles[count] = session_->menuRow(row.row)->title();
      ++count;
    }
  }
  labels[count] = "tooltip";
  titles[count] = item->toolTip();

  // Ticks alone make a line only on the minute; along with any other change
  // every changed title is printed, so that the moment reads whole.
  bool news = everySecond_;
  for (std::size_t i = 0; i < kFollowed && !news; ++i) {
    news = titles[i] != shown_[i] && !onlyTicks(shown_[i], titles[i]);
  }
  for (std::size_t i = 0; i < kFollowed; ++i) {
    if (titles[i] != shown_[i] && (news || onTheMinute(titles[i]))) {
      shown_[i] = titles[i];
      emit(time, labels[i], shown_[i]);
    }
  }
}

}  // namespace qm::simtool
