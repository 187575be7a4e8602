// One Quillmark process on the simulated desktop: it implements every port of
// platform.h over its World, and lets a test read and click its status menu.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform.h"
#include "sim_ui.h"
#include "sim_world.h"

namespace qm::sim {

enum class ClickResult {
  ok,            // the item's action ran (it may have ended the process)
  notFound,      // no status menu, or no item with that title on the path
  hidden,        // the item or an item above it is hidden
  disabled,      // the item cannot be chosen
  noAction,      // enabled but does nothing when chosen (a submenu's item)
  processEnded,  // the process has terminated
};

// Where a click found no item with its title: the menu the user looked in
// and the titles of the items they could see there, in order.
struct MissingItem {
  // The submenu's item, empty for the status menu itself.
  std::string menu;
  std::vector<std::string> titles;
};

class Process final : private RunLoop,
                      private Workspace,
                      private Accessibility,
                      private KeyboardEvents,
                      private UserActivity,
                      private ApplicationWindows,
                      private ApplicationMenus,
                      private Notifications,
                      private Preferences,
                      private StatusBar,
                      private Alerts,
                      private Graphics,
                      private System {
 public:
  static constexpr const char* kBundleIdentifier = "local.vellum.Quillmark";
  static constexpr const char* kDefaultExecutablePath =
      "/Applications/Quillmark.app/Contents/MacOS/Quillmark";

  // Launches: the process shows up among the world's running applications
  // (not frontmost, as an accessory). The world must outlive the process.
  explicit Process(World& world);
  // Ends the process if it still runs; its pending calls are dropped.
  ~Process() override;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  Platform& platform() { return platform_; }
  World& world() { return world_; }
  int pid() const { return pid_; }

  // Runs test code that calls into the application as one main-thread event
  // (what came due during it runs at the next advance). Returns false when
  // the process terminated during it.
  bool run(const std::function<void()>& body);
  bool terminated() const { return terminatedAt_.has_value(); }
  std::optional<Date> terminatedAt() const { return terminatedAt_; }

  void setMainExecutablePath(std::string path) { executablePath_ = std::move(path); }

  // The newest status item that the application still holds (a released one
  // leaves the menu bar), or null.
  SimStatusItemRef statusItem() const;
  int statusItemCount() const { return static_cast<int>(statusItems_.size()); }
  // The item at a path of current titles from the status menu, e.g.
  // {"Interval", "5 minutes"}; null when there is none.
  SimMenuItemRef findItem(const std::vector<std::string>& path) const;
  // The user opens the status menu and chooses the item at `path`. The action
  // runs now, as one main-thread event.
  // When no item has a title on the path, `missing` (if given) tells where
  // the user looked.
  ClickResult click(const std::vector<std::string>& path, MissingItem* missing = nullptr);
  // With the status menu open, the user presses Command and `key`: the first
  // item (depth first) with that key equivalent that is neither hidden nor
  // under a hidden item is chosen if it is enabled.
  ClickResult pressKeyEquivalent(const std::string& key);

 private:
  // RunLoop
  Date now() const override;
  double monotonicNow() const override;
  TimerRef scheduleRepeatingTimer(double interval, std::function<void()> callback) override;
  void performAfterDelay(double delay, std::function<void()> callback) override;
  void sleepMicroseconds(std::uint32_t microseconds) override;
  // Workspace
  std::vector<RunningApplicationRef> runningApplicationsWithBundleIdentifier(
      const std::string& bundleIdentifier) override;
  RunningApplicationRef frontmostApplication() override;
  std::optional<int> frontmostProcessIdentifierNow() override;
  bool openURL(const std::string& url) override;
  // Accessibility
  bool isProcessTrustedWithOptions(bool prompt) override;
  // KeyboardEvents
  std::unique_ptr<EventSource> createEventSource(int stateId) override;
  std::optional<std::uint16_t> virtualKeyTypingWithCommand(char32_t character) override;
  // UserActivity
  double secondsSinceLastUserInput() override;
  bool isUserInputHeld() override;
  // ApplicationWindows: Live's window shows its set; others have none.
  Reply<std::optional<std::string>> mainWindowTitle(int pid) override;
  Reply<bool> showsModalDialog(int pid) override;
  ObservationRef observeTitleChanges(
      int pid, std::function<void(const std::optional<std::string>&)> changed) override;
  // ApplicationMenus: Live's Save command as the world's menu mode says;
  // others have none.
  Reply<Press> pressSaveCommand(int pid) override;
  // Notifications
  void postNotification(const std::string& title, const std::string& body) override;
  // Preferences
  std::int64_t integerForKey(const std::string& key) override;
  bool boolForKey(const std::string& key) override;
  bool hasObjectForKey(const std::string& key) override;
  void setInteger(std::int64_t value, const std::string& key) override;
  void setBool(bool value, const std::string& key) override;
  void removeObjectForKey(const std::string& key) override;
  // StatusBar
  StatusItemRef statusItemWithLength(double length) override;
  MenuRef createMenu(const std::string& title) override;
  MenuItemRef createMenuItem(const std::string& title, MenuAction action,
                             const std::string& keyEquivalent) override;
  MenuItemRef separatorItem() override;
  // Alerts
  long runModal(const AlertContent& alert) override;
  // Graphics
  std::unique_ptr<ImageCanvas> beginImage(Size size) override;
  // System
  [[noreturn]] void terminate() override;
  std::string mainExecutablePath() override { return executablePath_; }
  std::string homeDirectory() override;
  std::optional<std::string> userLibraryDirectory() override;
  std::uint32_t userId() override;
  int processIdentifier() override { return pid_; }
  VolumeKind volumeKind(const std::string& path) override;
  TaskResult runTask(const std::string& launchPath, const std::vector<std::string>& arguments,
                     double timeoutSeconds) override;
  void activate() override;
  std::string shortTimeString(Date date) override;
  std::optional<bool> sessionIsLocked() override;

  ClickResult choose(const SimMenuItemRef& item);
  RunningApplicationRef applicationRef(int pid);

  World& world_;
  // The simulated desktop is a macOS one.
  Desktop desktop_;
  Platform platform_;
  int pid_;
  std::optional<Date> terminatedAt_;
  std::string executablePath_ = kDefaultExecutablePath;
  std::vector<std::weak_ptr<SimStatusItem>> statusItems_;
};

}  // namespace qm::sim
