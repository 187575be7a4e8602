// The status menu as the application builds it, row by row. The tool and
// the core tests read the simulated menu by these positions, and the state
// lines by the names a scenario gives them.
#pragma once

#include <cstddef>
#include <iterator>
#include <string_view>

namespace qm::simtool {

enum class MenuRow : std::size_t {
  title,
  status,
  ableton,
  permission,
  autosave,
  separatorAfterLines,
  interval,
  toggle,
  saveNow,
  openSettings,
  separatorBeforeReport,
  report,
  separatorBeforeQuit,
  quit,
};

constexpr std::size_t rowIndex(MenuRow row) {
  return static_cast<std::size_t>(row);
}

struct MenuRowInfo {
  MenuRow row;
  // The word `expect` and the timeline use for a row whose title follows the
  // state; empty for the rows with fixed titles.
  std::string_view name;
  // The timeline prints the row's title whenever it changes.
  bool followed;
};

inline constexpr MenuRowInfo kMenuRows[] = {
    {MenuRow::title, "", false},
    {MenuRow::status, "status", true},
    {MenuRow::ableton, "ableton", true},
    {MenuRow::permission, "permission", true},
    {MenuRow::autosave, "autosave", true},
    {MenuRow::separatorAfterLines, "", false},
    {MenuRow::interval, "", false},
    {MenuRow::toggle, "toggle", false},
    {MenuRow::saveNow, "", false},
    {MenuRow::openSettings, "", false},
    {MenuRow::separatorBeforeReport, "", false},
    {MenuRow::report, "", false},
    {MenuRow::separatorBeforeQuit, "", false},
    {MenuRow::quit, "", false},
};
inline constexpr std::size_t kMenuRowCount = std::size(kMenuRows);

constexpr bool rowsInMenuOrder() {
  for (std::size_t i = 0; i < kMenuRowCount; ++i) {
    if (rowIndex(kMenuRows[i].row) != i) {
      return false;
    }
  }
  return true;
}
static_assert(rowsInMenuOrder(), "kMenuRows lists every row at its position");

// The row a scenario names ("status"), or null.
constexpr const MenuRowInfo* menuRowNamed(std::string_view name) {
  for (const MenuRowInfo& info : kMenuRows) {
    if (!name.empty() && info.name == name) {
      return &info;
    }
  }
  return nullptr;
}

}  // namespace qm::simtool
