#include "builtin_scenario.h"

namespace qm::simtool {

// A day with Live, compressed into two minutes of virtual time: the
// 10-second test interval stands in for the long ones.
const char* const kBuiltinScenario = R"scenario(# A day with Live, compressed.
note "The user opens Live; Finder keeps the focus."
live start
alert answer first open 6
at 3 note "The watcher finds Live without Quillmark and starts it."
launch
expect status "✕ Grant Accessibility access"
expect launchctl 2
at 4 expect alerts 1
at 11 expect opened "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility"
at 14 note "In System Settings the user grants Accessibility."
trust on
at 15 expect status "✓ Next save in 10:00"
at 20 note "The user picks the 10-second test interval."
click "Interval" "10 seconds (test)"
expect checked "10 seconds (test)"
at 31 expect saves 1
expect front com.apple.finder
at 35 note "A manual save restarts the schedule."
click "Save Now"
expect status "✓ Saved at 09:00 · next 00:10"
at 46 expect saves 3
at 50 click "Pause Autosave"
expect status "✕ Autosave paused"
at 70 expect saves 3
click "Start Autosave"
at 81 expect saves 4
at 84 note "The user types a while in Finder: the next save waits for a pause."
user types for 8
at 91 expect status "◐ Waiting for a pause in typing"
at 95 expect saves 5
expect stray-keys 0
at 95 note "The user closes Live; Quillmark follows."
live quit
at 97 expect status "Ableton closed, quitting..."
at 105 expect running no
expect log-count "Autosave command sent successfully." 4
)scenario";

}  // namespace qm::simtool
