// Helpers for the suites that watch the status menu, the schedule and the
// Live monitor: the menu read back from the simulated status item by
// position, and launches in the usual situations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "menu_rows.h"
#include "test_support.h"

namespace qm::test {

// Positions of the items in the status menu as built, from the table the
// tool reads the menu by.
enum MenuRow : std::size_t {
  kTitleRow = simtool::rowIndex(simtool::MenuRow::title),
  kStatusRow = simtool::rowIndex(simtool::MenuRow::status),
  kLiveRow = simtool::rowIndex(simtool::MenuRow::ableton),
  kPermissionRow = simtool::rowIndex(simtool::MenuRow::permission),
  kAutosaveRow = simtool::rowIndex(simtool::MenuRow::autosave),
  kIntervalRow = simtool::rowIndex(simtool::MenuRow::interval),
  kToggleRow = simtool::rowIndex(simtool::MenuRow::toggle),
  kSaveNowRow = simtool::rowIndex(simtool::MenuRow::saveNow),
  kOpenSettingsRow = simtool::rowIndex(simtool::MenuRow::openSettings),
  kReportRow = simtool::rowIndex(simtool::MenuRow::report),
  kQuitRow = simtool::rowIndex(simtool::MenuRow::quit),
};
using simtool::kMenuRowCount;

class MenuTest : public CoreTest {
 protected:
  // The status menu's items as the simulated status bar holds them.
  const std::vector<sim::SimMenuItemRef>& menuItems() const {
    const sim::SimStatusItemRef item = process->statusItem();
    if (!item || !item->menu()) {
      throw std::logic_error("no status menu yet");
    }
    return item->menu()->items();
  }
  const sim::SimMenuItem& row(MenuRow which) const { return *menuItems().at(which); }
  std::string statusLine() const { return row(kStatusRow).title(); }
  std::string liveLine() const { return row(kLiveRow).title(); }
  std::string permissionLine() const { return row(kPermissionRow).title(); }
  std::string autosaveLine() const { return row(kAutosaveRow).title(); }
  std::string toggleTitle() const { return row(kToggleRow).title(); }
  std::string toolTip() const { return process->statusItem()->toolTip(); }

  // The interval submenu's items, in menu order.
  const std::vector<sim::SimMenuItemRef>& intervalMenuItems() const {
    return row(kIntervalRow).submenu()->items();
  }
  // Tags of the interval items that carry the check mark.
  std::vector<std::int64_t> checkedIntervals() const {
    std::vector<std::int64_t> checked;
    for (const sim::SimMenuItemRef& item : intervalMenuItems()) {
      if (item->state() == kControlStateValueOn) {
        checked.push_back(item->tag());
      }
    }
    return checked;
  }

  void setIntervalPreference(std::int64_t seconds) {
    world.setIntegerPreference(std::string(kIntervalDefaultsKey), seconds);
  }
  void setAutosavePreference(bool enabled) {
    world.setBoolPreference(std::string(kEnabledDefaultsKey), enabled);
  }
  // Keeps the first-launch alert away from suites that are not about it.
  void markAccessibilityAsked() {
    world.setBoolPreference(std::string(kAccessibilityPromptShownDefaultsKey), true);
  }

  // Launches now; returns the launch time.
  Date launchNow() {
    const Date at = world.now();
    launch();
    return at;
  }

  // Live running and the permission granted, then a launch.
  Date launchWithLiveTrusted() {
    livePid = startLive();
    world.setTrusted(true);
    return launchNow();
  }

  std::size_t countMessages(const std::string& message) const {
    std::size_t count = 0;
    for (const std::string& line : logMessages()) {
      count += line == message ? 1 : 0;
    }
    return count;
  }

  int livePid = 0;
};

// Live running and the permission granted before each test, which launches
// when it is ready.
class LiveRunningTest : public MenuTest {
 protected:
  void SetUp() override {
    markAccessibilityAsked();
    livePid = startLive();
    world.setTrusted(true);
  }
  int saves() const { return completedSaveSequences(world.keyEvents(), livePid); }
};

inline constexpr const char* kNotStartedLine =
    "Autosave timer not started: app is disabled, Ableton is missing, or Accessibility is "
    "missing.";
inline constexpr const char* kFiredLine = "Autosave timer fired.";

}  // namespace qm::test
