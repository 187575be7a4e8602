#include "help.h"

namespace qm::simtool {

const std::string_view kHelp =
    R"help(Usage: quillmark-sim [--home DIR] [--icon FILE.png] [--quiet | --every-second]
                     [SCENARIO | -]

Runs Quillmark's application core on a simulated macOS desktop with a virtual
clock and prints, one event a line with its virtual time, what the user sees
and what the system does: status lines and tooltip as they change, log lines,
key events, focus changes, alerts, launchctl runs, Live's window title and
dialogs, presses of Live's Save command, reads that Live left unanswered,
system notifications, sleep and wake, clock jumps, quit. Without
SCENARIO it plays a built-in session, a compressed day with Live; "-" reads
the scenario from standard input.

Options:
  --home DIR       the simulated user's home: the log lands in
                   DIR/Library/Logs, the launch agent in
                   DIR/Library/LaunchAgents. DIR is created when missing.
                   It must be empty, or hold only what an earlier run's
                   simulated world made there (Library/Logs/Quillmark.log,
                   the launch agent, Applications/Quillmark.app), which is
                   then removed. A folder holding anything else is refused
                   with the first entry in the way, and left as it is.
                   Default: a new temporary folder, removed at exit, also
                   when Ctrl+C, a termination request or a closed output
                   pipe ends the run.
  --icon FILE.png  also render the menu-bar icon with cairo, as two files:
                   FILE.png at 22x22 and FILE@2x.png at 44x44 (Retina).
  --quiet          print only failed expectations.
  --every-second   print every tick of the countdown and every frame of the
                   waiting animation. Without it, a change that is only
                   these shows when the countdown reads a whole minute
                   (:00), with any other change of its moment, and when the
                   animation starts or stops. Also every read that a busy
                   Live leaves unanswered; without it, only the first of
                   each busy spell, and how many more there were when Live
                   answers again.
  -h, --help       print this text.

Exit status: 0 when every expectation held, 1 when one failed, 2 for bad
arguments, an unreadable or malformed scenario or a step the world cannot
take. A signal that cuts the run short (Ctrl+C, a closed output pipe) ends
it as that signal does any program: 128 plus its number in a shell.

The world at the start, 2025-03-02 09:00:00 local time: Finder
(com.apple.finder) running and frontmost; Live (com.ableton.live) not
running, with no set; Accessibility not granted; no preferences; launchctl
present; an empty Library/Logs; the application at
~/Applications/Quillmark.app with the watcher beside its executable. An
alert takes its second button at once unless told otherwise. The short time
style is "HH:mm".

Scenario: one command a line, # starts a comment, blank lines are ignored.
Words are separated by blanks or tabs; texts stand in double quotes with
\" \\ \n escapes. Control characters (a tab inside a text too) and bytes
that are not UTF-8 are refused. A line may begin with "at T" (seconds since
the start, never going back) or "after D" (seconds after the previous line);
otherwise it runs at the previous line's time. Times take decimals and a
unit s, m, h or d: 90, 1.5, 10m, 7d.
Limits: a scenario holds at most 1 MiB (1048576 bytes), a line at most 4096
bytes, and no line's time, run or alert's open time exceeds 31 days of
virtual time (a simulated week takes about a second).

When a line runs: like a common-mode timer, after the timers due at its
instant, and also while an alert is open. A line at the very instant an
alert is answered runs while the alert is still open, before the answer
takes effect; write it "after 0.001" to see the effect. A line whose time a
save slept past (0.65 s per save) runs right after the save, in order.

Two clocks. Line times (at, after, run) and the timeline's time column are
on the monotonic clock, which counts through sleep and never jumps; Quillmark
measures every wait and countdown on it. The wall clock gives the log's
stamps and the times of day in the status; only clock jump sets it apart.
A sleep takes no script time: lines at its own instant still run before the
machine sleeps, a line timed inside it runs right after the wake, in order,
and "after" counts from the previous line's time, not from the wake.

The world:
  launch                    start Quillmark; refused (exit 2) while it runs
  live start [hidden]       start Live (the frontmost app stays as it is)
  live quit
  live hide                 Live hides itself (Command+H); the focus goes to
                            the application that had it before
  app start ID              another application, by bundle identifier
  app quit ID
  front ID                  make a running application frontmost
  front none                no application frontmost
  trust on|off              grant or revoke the Accessibility permission
  alert answer first|second [open D]
                            how the next alert is answered, after it stayed
                            open D seconds. At the first-launch alert, first
                            is "Открыть настройки" (opens System Settings at
                            the Accessibility pane), second is "Позже"
                            (later: nothing opens).
  fail event-source         the next save gets no keyboard event source
  fail key-event N          the next save cannot make its Nth key event (1-4)
  pref set KEY int N | real X | bool yes|no | string "S"
                            store a preference as the user or an older
                            version may have left it
  pref remove KEY
  watcher present|absent    QuillmarkWatcher beside the executable, or not
  library available|unavailable
                            whether the system gives a user Library folder
                            (without it no launch agent is installed)
  logs-folder present|absent
                            ~/Library/Logs (without it no log is written)
  launchctl present|missing|hangs
                            /bin/launchctl, a launchctl that cannot start, or
                            one that never ends (each run lasts until
                            Quillmark's 10-second limit ends it)
  bootstrap fails N         the next N launchctl bootstrap runs exit 5
                            ("Bootstrap failed: 5: Input/output error")
  bootstrap disabled        the user switched the agent off in System
                            Settings: every bootstrap exits 119 ("Bootstrap
                            failed: 119: Service is disabled")
  decline-activation none|plain|all
                            the system declines activation requests: plain
                            ones only (an activation that the frontmost app
                            hands over is granted), or all
  app-location applications|disk-image|translocated|removable|network
                            where the next launch runs Quillmark from: a
                            read-only disk image, a translocated copy, a
                            removable disk, a network share
  keyboard-layout us|dvorak|colemak
                            what each key types (default us); a save counts
                            only when its key events type Command+"s" in the
                            layout of their moment
  session lock|unlock|end   the desktop's session is locked (or disconnected),
                            unlocked, or ends at log-off; the running
                            Quillmark is told
  session switch-away|switch-back
                            fast user switching: another user's session
                            comes to the screen, or this one comes back;
                            Quillmark is told as of a lock and an unlock
  session lock|unlock silent
                            the session locks or unlocks and Quillmark is
                            not told. Asked, the system answers truly
                            whether the session is locked, after these
                            lines as after the four above
  system sleep D            the machine sleeps D seconds: Quillmark is told
                            of the sleep; both clocks move D while nothing
                            runs and nobody types; at the wake Quillmark is
                            told first, then each overdue timer fires once.
                            The wake counts as a key press. Refused (exit 2)
                            while an alert is open
  clock jump D              the wall clock is set D seconds on (-D: back),
                            as by the network; the monotonic clock does not
                            move, and Quillmark is told. D: -1h, +90, 30m
  note "TEXT"               a line in the timeline
  picture "FILE.png"        draw the menu-bar icon with Quillmark's menu open
                            as it is now, its submenu open beside it (check
                            marks shown, hidden items left out), into
                            FILE.png at twice its size in points. A drawing,
                            captioned as one, not a screenshot

Live's set. Until a line gives Live a set, its window's title tells nothing.
  live set "NAME"           Live shows the set NAME, saved: its title reads
                            "NAME [NAME] - Ableton Live 12 Suite", with * right
                            after NAME while it has unsaved changes; Cmd+S
                            saves it
  live set untitled         a set never saved: "Untitled* - Ableton Live 12
                            Suite"; Cmd+S opens Live's Save dialog (a modal
                            dialog) instead of saving
  live edits                the set gains unsaved changes
  live save-takes D         from now on each save takes D seconds before the
                            mark goes (default 0)
  live deaf on|off          the keys arrive but Live saves nothing, as when a
                            plug-in window holds the keyboard
  live dialog open|close    Live opens or closes a modal dialog of its own;
                            while one is open, Cmd+S does nothing
  live names-set "NAME"     the user answers the Save dialog: the set is
                            saved as NAME and the dialog closes
  live title-mark on|off    whether the title shows the mark at all
                            (default on)
  live title "TEXT"         the title is exactly TEXT until the next live set
                            or live title line; saves do not change it
  live busy D               for D seconds Live answers no read of its
                            windows or menus: each read costs Quillmark's
                            main thread the 0.25 s messaging timeout (nothing
                            of Quillmark runs meanwhile) and gets no answer.
                            Keys that reach Live meanwhile, and the user's
                            saves, wait until it is done and are handled
                            then; its title changes show only then. Quitting
                            Live ends it and drops what waited
  live user-saves           the user saves the set in Live (Cmd+S typed
                            there, or File > Save Live Set): saved as by
                            Quillmark's Cmd+S, after the save's time, or the
                            Save dialog for an untitled set; counted by
                            expect live-saves, never by expect saves; no key
                            press of the user, no focus change. It works
                            while Live is deaf, not while its dialog is open
  live menu-save works|ignored|disabled|none
                            Live's Save command as Quillmark finds it in
                            Live's menus. none (the default): no such
                            command; works: pressed, and Live saves as on
                            Cmd+S (deaf, it saves nothing); ignored: pressed,
                            nothing saved; disabled: not pressed. While
                            Live's own dialog is open the command reads
                            disabled. A press sends no key and moves no focus

What the user does:
  user types [for D]        one key press and release now into the frontmost
                            application, or one every 0.2 s for D seconds
                            (the last at D); the keys keep coming while
                            Quillmark sleeps during a save
  user holds shift|control|option|command|mouse
                            press and hold a key or the mouse button; a held
                            modifier joins any key that arrives meanwhile
  user releases shift|control|option|command|mouse|all
Pressing starts the user's pause of 2 s that an automatic save waits for;
a release does not. Keys that Quillmark posts are not the user's.
  click "TITLE" ["ITEM"]    choose a menu item, or an item of its submenu;
                            a hidden, disabled or missing item fails
  quit-key                  Command+Q with the menu open
The menu's items, top to bottom: "Quillmark" and four status lines (all
disabled), "Interval" with its submenu "10 seconds (test)", "3 minutes",
"5 minutes", "10 minutes", "15 minutes", "30 minutes", then "Pause Autosave"
or "Start Autosave", "Save Now", "Open Accessibility Settings" (hidden while
the permission is granted), "Report a Problem", "Quit".

The preferences the application reads and writes:
  autosave.interval.seconds   int, the interval; written at launch when it
                              is absent or below 1, and by the Interval menu
  autosave.interval.minutes   int, an older version's interval, read only
                              when the seconds are absent or below 1;
                              removed by the Interval menu
  autosave.enabled            bool, written by Pause and Start Autosave;
                              absent means on
  accessibility.prompt.shown  bool, written when the first-launch request
                              runs; while yes it never runs again

What must hold. Each comparison is exact; a failure prints the expected and
the actual value, so `expect FIELD "?"` is a way to see a value.
  expect status "TEXT"      the menu's status line, the first below the title
  expect ableton "TEXT"     the Live line
  expect permission "TEXT"  the Accessibility line
  expect autosave "TEXT"    the autosave line
  expect toggle "TEXT"      the title of Pause/Start Autosave
  expect tooltip "TEXT"     the menu-bar icon's tooltip
  expect countdown "MM:SS"  the time to the next save the application
                            computes, "00:00" when none is set
  expect checked "ITEM"|none
                            the checked interval item
  expect visible|hidden "TITLE"
                            a top-level menu item shown or hidden
  expect log "MESSAGE"      a line of Quillmark.log, without its
                            "[date time] " stamp, equals MESSAGE
  expect log-count "MESSAGE" N
                            exactly N such lines
  expect no-log "MESSAGE"   no such line
  expect saves N            complete Cmd+S sequences delivered to Live, with
                            no other modifier held
  expect stray-keys N       keys the user typed that reached Live
  expect live hidden|shown  whether Live is hidden
  expect live-saves N       saves Live itself made (a set saved by Cmd+S or
                            named in the Save dialog), as against expect
                            saves, which counts Cmd+S sequences delivered
  expect live-dialog open|closed
                            whether Live shows a modal dialog
  expect menu-saves N       presses of Live's Save command through its menus
                            that went through (works or ignored)
  expect live-activations N requests Quillmark made to bring Live to the
                            front, declined ones included (front and live
                            start lines are none)
  expect main-thread-waits-at-most D
                            in no one-second interval so far (anywhere, not
                            only whole seconds) did Quillmark's main thread
                            wait more than D seconds in all for Live to
                            answer; a failure names the worst second
  expect notification "TITLE"|none
                            the last system notification's title; none while
                            none was posted
  expect notifications N    system notifications posted so far
  expect front ID|none      the frontmost application
  expect running yes|no     whether a Quillmark process runs
  expect alerts N           alerts shown so far
  expect prompts N          system permission prompts shown so far
  expect launchctl N        launchctl runs that started
  expect opened "URL"       a URL Quillmark opened
  expect opened-count N     how many URLs it opened
  expect pref KEY 42|2.5|yes|no|"text"|absent
                            the stored value, compared as written (3 and
                            3.0 are alike)
  expect file "PATH" present|absent
                            a path under the home: relative, without ..,
                            and not led out by a symbolic link
  run T                     run to time T and stop reading

Examples: tests/scenarios/*.scenario in the source tree.
)help";

}  // namespace qm::simtool
