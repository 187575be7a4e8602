// One simulated session: the world with its home folder, the Quillmark
// processes launched on it one after another, and the scenario's lines
// played on the virtual clock.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app_delegate.h"
#include "menu_rows.h"
#include "scenario.h"
#include "sim_process.h"
#include "sim_world.h"

namespace qm::simtool {

class Timeline;

// A line that cannot be carried out in the world as it stands (launch while
// Quillmark runs, front an application that does not run): the scenario is
// wrong, not the application.
struct ScenarioError : std::runtime_error {
  ScenarioError(int line, const std::string& reason) : std::runtime_error(reason), line(line) {}
  int line;
};

class Session {
 public:
  static constexpr const char* kFinderBundleIdentifier = "com.apple.finder";
  // What a line that needs Quillmark reports while none runs.
  static constexpr const char* kNotRunning = "no Quillmark running";

  // Lays out the home folder (Library/Logs, the application bundle with the
  // watcher beside the executable) and the world's first state.
  Session(const std::string& home, Timeline& timeline);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Plays the scenario to its end. Returns the number of failed
  // expectations; throws ScenarioError.
  int play(const scenario::Scenario& scenario);

  sim::World& world() { return world_; }
  const sim::World& world() const { return world_; }
  const std::string& home() const { return home_; }
  const std::string& logPath() const { return logPath_; }
  // The bundle identifier of an application this session started.
  std::string bundleIdentifier(int pid) const;

  // The newest Quillmark process, when it has not terminated.
  sim::Process* runningQuillmark() const;
  // session_menu.cpp: its status item and a row of its menu, or null while none runs or its
  // menu is not built yet.
  const sim::SimStatusItem* statusItem() const;
  const sim::SimMenuItem* menuRow(MenuRow row) const;

 private:
  struct Instance {
    // The delegate goes before its process.
    std::unique_ptr<sim::Process> process;
    std::unique_ptr<AppDelegate> delegate;
  };

  // Queues a line to run at its time after `start`.
  void queue(const scenario::Command& command, Date start);
  // The world sleeps as long as a `system sleep` line says, then Quillmark
  // is told of the wake. Only between advances.
  void sleepThrough(const scenario::Command& command);
  // session_commands.cpp: the world's and the user's lines.
  void execute(const scenario::Command& command);
  void launch(const scenario::Command& command);
  int startApplication(const scenario::Command& command, const std::string& bundleIdentifier,
                       bool hidden);
  void quitApplications(const scenario::Command& command, const std::string& bundleIdentifier);
  void front(const scenario::Command& command);
  // Live's pid; a line that needs Live running is refused without it.
  int requireLive(const scenario::Command& command) const;
  // The set open in Live, its title, its dialogs and how it takes Cmd+S.
  void changeLive(const scenario::Command& command);
  void setPreference(const scenario::Command& command);
  void click(const scenario::Command& command);
  // Draws the menu as it stands into the line's PNG file (menu_picture.h).
  void picture(const scenario::Command& command);
  // Puts the bundle with the watcher at location 0 (Applications), 1 (a
  // read-only disk image) or 2 (translocated); the next launch runs it.
  // Returns the bundle's path as the timeline shows it.
  std::string placeBundle(int location);
  // session_expectations.cpp
  void expect(const scenario::Command& command);

  Instance* running() const;
  void fail(const scenario::Command& command, const std::string& what, const std::string& expected,
            const std::string& actual);
  // Creates an empty file, or leaves an existing one as it is.
  static void touch(const std::string& path);

  std::string home_;
  std::string logPath_;
  std::string executablePath_;
  std::string watcherPath_;
  Timeline& timeline_;
  sim::World world_;
  std::vector<std::unique_ptr<Instance>> instances_;
  std::map<int, std::string> bundles_;
  int failures_ = 0;
};

}  // namespace qm::simtool
