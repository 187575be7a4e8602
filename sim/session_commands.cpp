// Carrying out the scenario's lines that change the world or act as the user.
#include "session.h"

#include <filesystem>

#include "menu_picture.h"
#include "timeline.h"

namespace qm::simtool {

namespace fs = std::filesystem;
using scenario::Command;
using scenario::Op;
using scenario::quote;

namespace {

std::string clickProblem(sim::ClickResult result) {
  switch (result) {
    case sim::ClickResult::ok:
      return "chosen";
    case sim::ClickResult::notFound:
      return "no such item";
    case sim::ClickResult::hidden:
      return "the item is hidden";
    case sim::ClickResult::disabled:
      return "the item is disabled";
    case sim::ClickResult::noAction:
      return "the item does nothing when chosen";
    case sim::ClickResult::processEnded:
      return Session::kNotRunning;
  }
  return "?";
}

// What the user could have chosen instead, titles as the menu shows them.
std::string itemsThere(const sim::MissingItem& missing) {
  if (missing.titles.empty()) {
    return missing.menu.empty() ? "; Quillmark shows no menu"
                                : "; " + quote(missing.menu) + " opens no submenu";
  }
  std::string titles;
  for (const std::string& title : missing.titles) {
    titles += (titles.empty() ? "" : ", ") + quote(title);
  }
  return "; " + (missing.menu.empty() ? std::string("the menu") : quote(missing.menu)) + " has " +
         titles;
}

}  // namespace

void Session::execute(const Command& command) {
  switch (command.op) {
    case Op::note:
      timeline_.note(world_.now(), command.words[0]);
      break;
    case Op::launch:
      launch(command);
      break;
    case Op::liveStart: {
      const int pid =
          startApplication(command, std::string(kAbletonBundleIdentifier), command.flag);
      timeline_.command(world_.now(), command, "pid " + std::to_string(pid));
      break;
    }
    case Op::liveQuit:
      quitApplications(command, std::string(kAbletonBundleIdentifier));
      break;
    case Op::liveHide: {
      const int pid = requireLive(command);
      timeline_.command(world_.now(), command);
      world_.hideApplication(pid);
      break;
    }
    case Op::liveSet:
    case Op::liveEdits:
    case Op::liveSaveTakes:
    case Op::liveDeaf:
    case Op::liveDialog:
    case Op::liveNamesSet:
    case Op::liveTitleMark:
    case Op::liveTitle:
    case Op::liveMenuSave:
      // The line first, then the title it changes.
      timeline_.command(world_.now(), command);
      changeLive(command);
      break;
    case Op::liveBusy:
      requireLive(command);
      world_.setLiveBusy(command.seconds);
      timeline_.command(world_.now(), command,
                        world_.liveBusy()
                            ? "answers nothing until " + timeline_.timeText(world_.liveBusyUntil())
                            : std::string());
      break;
    case Op::liveUserSaves:
      requireLive(command);
      timeline_.command(world_.now(), command,
                        world_.liveBusy() ? "when Live is done" : std::string());
      world_.liveUserSaves();
      break;
    case Op::userTypes:
      if (command.flag) {
        world_.userTypesFor(command.seconds);
      } else {
        world_.userTypes();
      }
      timeline_.command(world_.now(), command);
      break;
    case Op::userHolds:
    case Op::userReleases: {
      using Held = sim::World::Held;
      static constexpr Held kHeld[] = {Held::shift, Held::control, Held::option, Held::command,
                                       Held::mouse};
      if (command.op == Op::userHolds) {
        world_.userHolds(kHeld[command.count]);
      } else if (command.count == std::ssize(kHeld)) {
        world_.userReleasesAll();
      } else {
        world_.userReleases(kHeld[command.count]);
      }
      timeline_.command(world_.now(), command);
      break;
    }
    case Op::session: {
      // The desktop tells the running Quillmark, as a main-thread event,
      // unless the line says it goes untold; the system answers truly when
      // asked either way.
      timeline_.command(world_.now(), command,
                        command.flag ? "Quillmark is not told" : std::string());
      if (command.count != 2) {
        world_.setSessionLocked(command.count == 0 || command.count == 3);
      }
      if (command.flag) {
        break;
      }
      if (Instance* instance = running()) {
        AppDelegate& delegate = *instance->delegate;
        const auto change = command.count;
        instance->process->run([&delegate, change] {
          if (change == 2) {
            delegate.sessionWillEnd();
          } else {
            // On the Mac, switching to another user takes the keyboard
            // away as a lock does.
            delegate.sessionLockChanged(change == 0 || change == 3);
          }
        });
      }
      break;
    }
    case Op::systemSleep:
      if (world_.alertOpen()) {
        throw ScenarioError(command.line,
                            "system sleep while an alert is open: the simulated machine "
                            "sleeps only once it is answered");
      }
      timeline_.sleep(world_.now(), command, world_.now() + command.seconds);
      // Told as one main-thread event; the world sleeps once this line's
      // instant is over (Session::play).
      if (Instance* instance = running()) {
        AppDelegate& delegate = *instance->delegate;
        instance->process->run([&delegate] { delegate.systemWillSleep(); });
      }
      break;
    case Op::clockJump:
      world_.jumpWallClock(command.seconds);
      timeline_.clockJump(world_.now(), command, world_.wallNow());
      if (Instance* instance = running()) {
        AppDelegate& delegate = *instance->delegate;
        instance->process->run([&delegate] { delegate.systemClockChanged(); });
      }
      break;
    case Op::keyboardLayout: {
      using Layout = sim::World::KeyboardLayout;
      static constexpr Layout kLayouts[] = {Layout::us, Layout::dvorak, Layout::colemak};
      world_.setKeyboardLayout(kLayouts[command.count]);
      timeline_.command(world_.now(), command);
      break;
    }
    case Op::appStart: {
      const int pid = startApplication(command, command.words[0], false);
      timeline_.command(world_.now(), command, "pid " + std::to_string(pid));
      break;
    }
    case Op::appQuit:
      quitApplications(command, command.words[0]);
      break;
    case Op::front:
      front(command);
      break;
    case Op::trust:
      world_.setTrusted(command.flag);
      timeline_.command(world_.now(), command);
      break;
    case Op::alertAnswer:
      world_.setNextAlertResponse(static_cast<int>(command.count), command.seconds);
      timeline_.command(world_.now(), command);
      break;
    case Op::failEventSource:
      world_.failNextEventSource();
      timeline_.command(world_.now(), command);
      break;
    case Op::failKeyEvent:
      world_.failKeyEventOfNextSave(static_cast<int>(command.count));
      timeline_.command(world_.now(), command);
      break;
    case Op::prefSet:
      setPreference(command);
      timeline_.command(world_.now(), command);
      break;
    case Op::prefRemove:
      world_.removePreference(command.words[0]);
      timeline_.command(world_.now(), command);
      break;
    case Op::watcher:
      if (command.flag) {
        touch(watcherPath_);
      } else {
        fs::remove(watcherPath_);
      }
      timeline_.command(world_.now(), command);
      break;
    case Op::library:
      world_.setLibraryAvailable(command.flag);
      timeline_.command(world_.now(), command);
      break;
    case Op::logsFolder:
      if (command.flag) {
        fs::create_directories(home_ + "/Library/Logs");
      } else {
        fs::remove_all(home_ + "/Library/Logs");
      }
      timeline_.command(world_.now(), command);
      break;
    case Op::launchctl:
      world_.setLaunchctlPresent(command.count != 1);
      world_.setLaunchctlHangs(command.count == 2);
      timeline_.command(world_.now(), command);
      break;
    case Op::bootstrapFails:
      world_.failNextBootstraps(static_cast<int>(command.count));
      timeline_.command(world_.now(), command);
      break;
    case Op::bootstrapDisabled:
      world_.setAgentDisabled(true);
      timeline_.command(world_.now(), command);
      break;
    case Op::activations: {
      using Decline = sim::World::ActivationDecline;
      static constexpr Decline kDeclines[] = {Decline::none, Decline::plain, Decline::all};
      world_.declineActivations(kDeclines[command.count]);
      timeline_.command(world_.now(), command);
      break;
    }
    case Op::appLocation:
      timeline_.command(world_.now(), command, placeBundle(static_cast<int>(command.count)));
      break;
    case Op::click:
    case Op::quitKey:
      click(command);
      break;
    case Op::picture:
      picture(command);
      break;
    case Op::expect:
      expect(command);
      break;
    case Op::run:
      break;
  }
}

void Session::changeLive(const Command& command) {
  const std::string& text = command.words.empty() ? std::string() : command.words[0];
  switch (command.op) {
    case Op::liveSet:
      if (command.words.empty()) {
        world_.setLiveSetUntitled();
      } else {
        world_.setLiveSet(text);
      }
      break;
    case Op::liveEdits:
      world_.liveEdits();
      break;
    case Op::liveSaveTakes:
      world_.setLiveSaveDuration(command.seconds);
      break;
    case Op::liveDeaf:
      world_.setLiveDeaf(command.flag);
      break;
    case Op::liveDialog:
      world_.setLiveDialogOpen(command.flag);
      break;
    case Op::liveNamesSet:
      world_.liveNamesSet(text);
      break;
    case Op::liveTitleMark:
      world_.setLiveTitleMark(command.flag);
      break;
    case Op::liveTitle:
      world_.setLiveTitle(text);
      break;
    case Op::liveMenuSave: {
      using Mode = sim::World::LiveMenuSave;
      static constexpr Mode kModes[] = {Mode::works, Mode::ignored, Mode::disabled, Mode::none};
      world_.setLiveMenuSave(kModes[command.count]);
      break;
    }
    default:
      break;
  }
}

std::string Session::placeBundle(int location) {
  // Where the bundle lies under the home: Applications, a mounted disk image,
  // or the random read-only copy macOS runs a downloaded app from.
  struct Place {
    const char* folder;
    // The volume it lies on, if not the fixed disk, and its kind.
    const char* volume;
    System::VolumeKind kind;
  };
  using Kind = System::VolumeKind;
  static const Place kPlaces[] = {
      {"/Applications", nullptr, Kind::fixed},
      {"/Volumes/Quillmark", "/Volumes/Quillmark", Kind::readOnly},
      {"/private/var/folders/qm/T/AppTranslocation/5A1C-77E2/d",
       "/private/var/folders/qm/T/AppTranslocation/5A1C-77E2", Kind::readOnly},
      {"/Volumes/Stick/Applications", "/Volumes/Stick", Kind::removable},
      {"/Volumes/Studio Share/Applications", "/Volumes/Studio Share", Kind::network},
  };
  const Place& place = kPlaces[location];
  const std::string macos = home_ + place.folder + "/Quillmark.app/Contents/MacOS";
  executablePath_ = macos + "/Quillmark";
  watcherPath_ = macos + "/QuillmarkWatcher";
  fs::create_directories(macos);
  touch(executablePath_);
  touch(watcherPath_);
  if (place.volume != nullptr) {
    world_.setVolume(home_ + place.volume, place.kind);
  }
  return std::string("~") + place.folder + "/Quillmark.app";
}

void Session::launch(const Command& command) {
  if (const Instance* instance = running()) {
    // LaunchServices would only bring the running one forward; a second
    // process of the same bundle never runs.
    throw ScenarioError(command.line, "launch: Quillmark still runs (pid " +
                                          std::to_string(instance->process->pid()) +
                                          "); quit it first");
  }
  auto instance = std::make_unique<Instance>();
  instance->process = std::make_unique<sim::Process>(world_);
  instance->process->setMainExecutablePath(executablePath_);
  const int pid = instance->process->pid();
  bundles_[pid] = sim::Process::kBundleIdentifier;
  instance->delegate = std::make_unique<AppDelegate>(instance->process->platform());
  AppDelegate& delegate = *instance->delegate;
  sim::Process& process = *instance->process;
  instances_.push_back(std::move(instance));
  timeline_.command(world_.now(), command, "Quillmark, pid " + std::to_string(pid));
  process.run([&delegate] { delegate.applicationDidFinishLaunching(); });
}

int Session::startApplication(const Command& command, const std::string& bundleIdentifier,
                              bool hidden) {
  if (bundleIdentifier == sim::Process::kBundleIdentifier) {
    throw ScenarioError(command.line, "Quillmark itself is started with launch");
  }
  const std::vector<int> pids = world_.runningApplications(bundleIdentifier);
  if (!pids.empty()) {
    throw ScenarioError(command.line, bundleIdentifier + " already runs (pid " +
                                          std::to_string(pids.front()) + ")");
  }
  const int pid = world_.startApplication(
      bundleIdentifier, bundleIdentifier == kAbletonBundleIdentifier ? "Live" : bundleIdentifier,
      hidden);
  bundles_[pid] = bundleIdentifier;
  timeline_.started(pid, hidden);
  return pid;
}

void Session::quitApplications(const Command& command, const std::string& bundleIdentifier) {
  if (bundleIdentifier == sim::Process::kBundleIdentifier) {
    throw ScenarioError(command.line,
                        "Quillmark quits through its menu: click \"Quit\" or quit-key");
  }
  if (world_.runningApplications(bundleIdentifier).empty()) {
    throw ScenarioError(command.line, bundleIdentifier + " does not run");
  }
  world_.quitApplications(bundleIdentifier);
  timeline_.command(world_.now(), command);
}

int Session::requireLive(const Command& command) const {
  const std::vector<int> pids = world_.runningApplications(std::string(kAbletonBundleIdentifier));
  if (pids.empty()) {
    throw ScenarioError(command.line, std::string(kAbletonBundleIdentifier) + " does not run");
  }
  return pids.front();
}

void Session::front(const Command& command) {
  if (command.words.empty()) {
    world_.setFrontmost(std::nullopt);
  } else {
    const std::vector<int> pids = world_.runningApplications(command.words[0]);
    if (pids.empty()) {
      throw ScenarioError(command.line, command.words[0] + " does not run");
    }
    world_.setFrontmost(pids.front());
  }
  timeline_.command(world_.now(), command);
}

void Session::setPreference(const Command& command) {
  const std::string& key = command.words[0];
  if (const auto* integer = std::get_if<std::int64_t>(&command.value)) {
    world_.setIntegerPreference(key, *integer);
  } else if (const auto* real = std::get_if<double>(&command.value)) {
    world_.setDoublePreference(key, *real);
  } else if (const auto* flag = std::get_if<bool>(&command.value)) {
    world_.setBoolPreference(key, *flag);
  } else if (const auto* text = std::get_if<std::string>(&command.value)) {
    world_.setStringPreference(key, *text);
  }
}

void Session::click(const Command& command) {
  timeline_.command(world_.now(), command);
  Instance* instance = running();
  if (instance == nullptr) {
    fail(command, command.text, "Quillmark running", kNotRunning);
    return;
  }
  sim::MissingItem missing;
  const sim::ClickResult result = command.op == Op::quitKey
                                      ? instance->process->pressKeyEquivalent("q")
                                      : instance->process->click(command.words, &missing);
  if (result != sim::ClickResult::ok) {
    fail(command, command.text,
         command.op == Op::quitKey ? "a visible, enabled item with Command+Q"
                                   : "a visible, enabled item",
         clickProblem(result) + (result == sim::ClickResult::notFound && command.op == Op::click
                                     ? itemsThere(missing)
                                     : ""));
  }
}

void Session::picture(const Command& command) {
  timeline_.command(world_.now(), command);
  const sim::SimStatusItem* item = statusItem();
  if (item == nullptr) {
    throw ScenarioError(command.line, "picture: Quillmark shows no menu to draw");
  }
  std::string error;
  if (!writeMenuPicture(*item, command.words[0], &error)) {
    throw ScenarioError(command.line, error);
  }
}

}  // namespace qm::simtool
