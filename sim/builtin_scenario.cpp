#include "builtin_scenario.h"

namespace qm::simtool {

// A day with Live, compressed into two minutes of virtual time: the
// 10-second test interval stands in for the long ones.
const char* const kBuiltinScenario = R"scenario(# A day with Live, compressed.
note "The user opens Live with the set “Song”; Finder keeps the focus."
live start
live set "Song"
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
at 20 note "The user picks the 10-second test interval and changes the set."
click "Interval" "10 seconds (test)"
expect checked "10 seconds (test)"
live edits
at 31 expect saves 1
expect status "✓ Autosaved “Song” at 09:00 · next 00:10"
expect front com.apple.finder
at 32 note "Nothing changes: Live is left alone."
at 42 expect saves 1
expect log "Autosave skipped: “Song” has no unsaved changes."
at 45 note "This Live saves from its own menu in the background: nothing comes forward."
live menu-save works
live edits
at 52 expect menu-saves 1
expect saves 1
expect log "Autosave command sent through Live's menu."
expect live-activations 1
at 55 note "The user types in Live: the next save waits for a pause."
front com.ableton.live
live edits
user types for 10
at 63 expect status "◐ Waiting for a pause in typing"
at 70 expect menu-saves 2
at 72 note "The user closes Live; Quillmark follows."
live quit
at 74 expect status "Ableton closed, quitting..."
at 82 expect running no
expect log-count "Autosave command sent successfully." 1
)scenario";

}  // namespace qm::simtool
