#!/usr/bin/env python3
"""quillmark-sim as a command: exit statuses, failure reports, arguments, the
home folder and the printed timeline.

Usage: cli_test.py QUILLMARK_SIM [unittest options]
"""
import os
import re
import signal
import struct
import subprocess
import sys
import tempfile
import unittest

TOOL = None


def sim(*arguments, scenario=None, cwd=None):
    """Runs the tool, the scenario text given on standard input when set."""
    return subprocess.run([TOOL, *arguments], input=scenario, capture_output=True,
                          text=True, cwd=cwd, timeout=60)


def sim_file(text, *arguments):
    """Runs the tool on a scenario file; returns the result and the file's path."""
    handle, path = tempfile.mkstemp(suffix=".scenario")
    with os.fdopen(handle, "w") as file:
        file.write(text)
    try:
        return sim(*arguments, path), path
    finally:
        os.unlink(path)


def timed_lines(timeline):
    """(time, line) for each timeline line; a line without a time of its own
    shares the one above."""
    time = None
    lines = []
    for line in timeline.splitlines():
        if line[:1].isdigit():
            time = line.split("  ")[0]
        lines.append((time, line))
    return lines


def time_of(timeline, text):
    """The time of the first timeline line containing text."""
    return next((time for time, line in timed_lines(timeline) if text in line), None)


LIVE_AND_QUILLMARK = """\
live start
launch
"""


class MalformedScenarios(unittest.TestCase):
    def test_a_malformed_line_stops_everything_with_its_file_line_and_reason(self):
        result, path = sim_file("launch\n\n  lve start  # typo\nexpect running yes\n")
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stderr, f'{path}:3: unknown command "lve"\n')
        self.assertEqual(result.stdout, "", "nothing may run before the whole file is read")

    def test_standard_input_is_named_in_the_report(self):
        result = sim("-", scenario="at 10 launch\nat 5 live start\n")
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stderr,
                         "<stdin>:2: at 5 goes back in time: the previous line is at 10 s\n")

    def test_a_step_the_world_cannot_take_gives_exit_2_with_its_line(self):
        cases = {
            "launch\nat 5 launch\n": "<stdin>:2: launch: Quillmark still runs (pid 501); quit it first",
            "front com.example.absent\n": "<stdin>:1: com.example.absent does not run",
            "live quit\n": "<stdin>:1: com.ableton.live does not run",
            "live start\nafter 1 live start\n": "<stdin>:2: com.ableton.live already runs (pid 501)",
            "launch\napp quit local.vellum.Quillmark\n":
                '<stdin>:2: Quillmark quits through its menu: click "Quit" or quit-key',
            "alert answer second open 10\nlaunch\nat 1 system sleep 5\n":
                "<stdin>:3: system sleep while an alert is open: the simulated machine sleeps "
                "only once it is answered",
        }
        for scenario, message in cases.items():
            with self.subTest(scenario=scenario):
                result = sim("--quiet", "-", scenario=scenario)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stderr, message + "\n")


class FailedExpectations(unittest.TestCase):
    SCENARIO = LIVE_AND_QUILLMARK + """\
expect status "✓ Everything fine"
expect running yes
after 2 expect saves 3
expect pref autosave.interval.seconds 600
expect pref autosave.enabled yes
"""

    def test_each_failure_names_its_line_the_expected_and_the_actual_value(self):
        result = sim("-", scenario=self.SCENARIO)
        self.assertEqual(result.returncode, 1)
        failures = [line for line in result.stdout.splitlines() if "FAILED" in line]
        self.assertEqual(len(failures), 3, result.stdout)
        self.assertIn('line 3: expect status: expected "✓ Everything fine", '
                      'actual "✕ Grant Accessibility access"', failures[0])
        self.assertIn("line 5: expect saves: expected 3, actual 0", failures[1])
        self.assertIn("line 7: expect pref: expected yes, actual absent", failures[2])
        self.assertRegex(result.stdout, r"end +5 checks, 3 failed")

    def test_quiet_prints_the_failures_and_nothing_else(self):
        result = sim("--quiet", "-", scenario=self.SCENARIO)
        self.assertEqual(result.returncode, 1)
        lines = result.stdout.splitlines()
        self.assertEqual(len(lines), 3, result.stdout)
        for line in lines:
            self.assertRegex(line, r"^09:00:0[02]\.000  FAILED +line \d: ")

    def test_quiet_prints_nothing_when_all_hold(self):
        result = sim("--quiet", "-", scenario=LIVE_AND_QUILLMARK + "expect running yes\n")
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))

    def test_choosing_an_item_the_user_cannot_choose_is_a_failure(self):
        scenario = """\
click "Save Now"
launch
trust on
after 1 click "Open Accessibility Settings"
click "Quillmark"
click "Interval"
click "Interval" "7 minutes"
click "Pause Autosave"
"""
        result = sim("--quiet", "-", scenario=scenario)
        self.assertEqual(result.returncode, 1)
        lines = result.stdout.splitlines()
        self.assertEqual(len(lines), 5, result.stdout)
        expected = [
            'line 1: click "Save Now": expected Quillmark running, actual no Quillmark running',
            'line 4: click "Open Accessibility Settings": expected a visible, enabled item, '
            "actual the item is hidden",
            'line 5: click "Quillmark": expected a visible, enabled item, actual the item is disabled',
            'line 6: click "Interval": expected a visible, enabled item, '
            "actual the item does nothing when chosen",
            'line 7: click "Interval" "7 minutes": expected a visible, enabled item, '
            'actual no such item; "Interval" has "10 seconds (test)", "3 minutes", '
            '"5 minutes", "10 minutes", "15 minutes", "30 minutes"',
        ]
        for line, text in zip(lines, expected):
            self.assertTrue(line.endswith(text), line)


    def test_a_title_not_in_the_menu_lists_the_titles_the_user_sees_there(self):
        scenario = 'trust on\nlive start\nlaunch\nat 1 click "Intervall" "3 minutes"\n'
        result = sim("--quiet", "-", scenario=scenario)
        self.assertEqual(result.returncode, 1)
        self.assertTrue(result.stdout.endswith(
            'actual no such item; the menu has "Quillmark", "✓ Next save in 09:59", '
            '"✓ Ableton connected", "✓ Accessibility granted", '
            '"✓ Autosave on · every 10 min", "Interval", "Pause Autosave", "Save Now", '
            '"Report a Problem", "Quit"\n'), result.stdout)


class Arguments(unittest.TestCase):
    def test_bad_arguments_give_exit_2_and_a_hint(self):
        cases = [
            (["--frobnicate"], "unknown option --frobnicate"),
            (["--home"], "--home needs a value"),
            (["--icon", "icon.svg", "-"], "--icon needs a file name ending in .png"),
            (["a.scenario", "b.scenario"], "one scenario at a time"),
            (["/nonexistent/x.scenario"], "cannot read /nonexistent/x.scenario"),
            (["--home", "/a", "--home=/b"], "--home given twice"),
        ]
        for arguments, reason in cases:
            with self.subTest(arguments=arguments):
                result = sim(*arguments, scenario="")
                self.assertEqual(result.returncode, 2)
                self.assertIn(reason, result.stderr)
                self.assertIn("--help", result.stderr)

    def test_help_describes_the_command(self):
        result = sim("--help")
        self.assertEqual(result.returncode, 0)
        self.assertTrue(result.stdout.startswith(
            "Usage: quillmark-sim [--home DIR] [--icon FILE.png] [--quiet | --every-second]\n"
            "                     [SCENARIO | -]"))
        self.assertIn("FILE@2x.png at 44x44", result.stdout)
        self.assertIn("refused (exit 2) while it runs", result.stdout)

    def test_help_tells_a_new_user_the_menu_the_preferences_and_the_limits(self):
        text = sim("--help").stdout
        for needle in ['"10 seconds (test)"', '"Open Accessibility Settings"', "autosave.enabled",
                       "autosave.interval.minutes", "accessibility.prompt.shown",
                       'expect FIELD "?"', "library available|unavailable", "1 MiB",
                       "at most 4096", "31 days", "before the answer\ntakes effect",
                       "Открыть настройки", 'live set "NAME"', "live save-takes D",
                       'expect notification "TITLE"|none', "expect live-saves N",
                       "system sleep D", "clock jump D", "session switch-away|switch-back",
                       "session lock|unlock silent", "live busy D", "live user-saves",
                       "live menu-save works|ignored|disabled|none", "expect menu-saves N",
                       "expect live-activations N", "expect main-thread-waits-at-most D",
                       "Line times (at, after, run) and the timeline's time column are\non the "
                       "monotonic clock"]:
            self.assertIn(needle, text)


class ScenarioInputs(unittest.TestCase):
    """What is not a scenario is refused with exit 2, never played as an empty one."""

    def assert_refused(self, result, reason):
        self.assertEqual(result.returncode, 2, result.stdout)
        self.assertIn(reason, result.stderr)
        self.assertNotIn("all held", result.stdout)

    def test_a_folder_or_a_read_error_is_not_an_empty_scenario(self):
        with tempfile.TemporaryDirectory() as folder:
            self.assert_refused(sim(folder), f"cannot read {folder}: it is a folder")
        if os.path.exists("/proc/self/mem"):
            self.assert_refused(sim("/proc/self/mem"), "cannot read /proc/self/mem: ")

    @unittest.skipIf(os.geteuid() == 0, "root reads every file")
    def test_an_unreadable_file_is_refused(self):
        handle, path = tempfile.mkstemp(suffix=".scenario")
        os.close(handle)
        os.chmod(path, 0)
        try:
            self.assert_refused(sim(path), f"cannot read {path}: Permission denied")
        finally:
            os.unlink(path)

    def test_endless_input_and_endless_time_are_refused_at_once(self):
        self.assert_refused(sim("/dev/zero"), "/dev/zero is larger than 1048576 bytes")
        self.assert_refused(sim("-", scenario="launch\n" * 200000),
                            "standard input is larger than 1048576 bytes")
        ten_years = "launch\n" + "after 365d expect running yes\n" * 10
        self.assert_refused(sim("-", scenario=ten_years),
                            "<stdin>:2: the time must be at most 31 days (2678400 s), not 365d")
        self.assert_refused(sim("-", scenario="launch\n" + "after 1d note \"day\"\n" * 40),
                            "<stdin>:33: after 1d comes at 2764800 s, later than a scenario may run")

    def test_control_characters_never_reach_the_terminal(self):
        result = sim("-", scenario="launch\nclick \"\x1b]0;owned\x07\x1b[2J\"\n")
        self.assert_refused(result, "<stdin>:2: a control character (\\x1B) at byte 8")
        self.assertNotIn("\x1b", result.stderr + result.stdout)
        result = sim("-", scenario="expect running yes\0garbage\n")
        self.assert_refused(result, "<stdin>:1: a control character (\\x00) at byte 19")
        self.assertNotIn("\0", result.stderr)

    def test_a_long_word_comes_back_cut(self):
        result = sim("-", scenario="w" * 4000 + "\n")
        self.assertEqual(result.stderr, '<stdin>:1: unknown command "' + "w" * 40 + '"...\n')

    def test_a_file_expectation_cannot_look_outside_the_home(self):
        result = sim("-", scenario='expect file "../../etc/passwd" present\n')
        self.assert_refused(result, "<stdin>:1: the path must stay under the home folder")

    def test_numbers_are_refused_in_the_users_terms(self):
        result = sim("-", scenario="pref set k int 100000000000000000000\n")
        self.assert_refused(result, "int needs a whole number from -9223372036854775808 to "
                                    "9223372036854775807, not 100000000000000000000")
        self.assertNotIn("e+20", result.stderr)
        result = sim("-", scenario="pref set a real abc\n")
        self.assert_refused(result, "real needs a finite number like 2.5 or 1e-3, not abc")
        self.assertNotIn("yes, no", result.stderr)

    def test_an_icon_into_a_missing_folder_says_so(self):
        result = sim("--icon", "/nonexistent/folder/icon.png", "-", scenario="launch\n")
        self.assert_refused(result, "cannot write the icon /nonexistent/folder/icon.png: "
                                    "there is no folder /nonexistent/folder")
        self.assertEqual(result.stdout, "")


class HomeFolder(unittest.TestCase):
    def test_the_log_and_the_launch_agent_land_in_the_given_home(self):
        with tempfile.TemporaryDirectory() as parent:
            home = os.path.join(parent, "home with space")
            scenario = LIVE_AND_QUILLMARK + 'expect log "Autosave timer not started: app is ' \
                'disabled, Ableton is missing, or Accessibility is missing."\n'
            for run in range(2):
                with self.subTest(run=run):
                    # A second run replaces what the first one left there.
                    result = sim("--quiet", "--home", home, "-", scenario=scenario)
                    self.assertEqual((result.returncode, result.stdout), (0, ""))
                    with open(os.path.join(home, "Library/Logs/Quillmark.log")) as log:
                        lines = log.read().splitlines()
                    self.assertEqual(len(lines), 1)
                    self.assertRegex(lines[0], r"^\[2025-03-02 09:00:00\] Autosave timer not started")
                    plist = os.path.join(home, "Library/LaunchAgents",
                                         "local.vellum.quillmark-watcher.plist")
                    with open(plist) as file:
                        self.assertIn(f"<string>{home}/Applications/Quillmark.app/Contents/MacOS/"
                                      "QuillmarkWatcher</string>", file.read())

    def test_a_folder_with_foreign_files_is_refused_and_left_alone(self):
        with tempfile.TemporaryDirectory() as home:
            precious = os.path.join(home, "thesis.txt")
            with open(precious, "w") as file:
                file.write("keep me")
            result = sim("--home", home, "-", scenario="launch\n")
            self.assertEqual(result.returncode, 2)
            self.assertIn("is not empty and was not made by quillmark-sim: it holds thesis.txt;",
                          result.stderr)
            self.assertEqual(os.listdir(home), ["thesis.txt"])

    def test_an_earlier_runs_home_is_reused_but_never_a_file_put_there(self):
        with tempfile.TemporaryDirectory() as home:
            self.assertEqual(sim("--quiet", "--home", home, "-", scenario=LIVE_AND_QUILLMARK)
                             .returncode, 0)
            for foreign in ["notes.txt", "Library/Logs/notes.txt",
                            "Applications/Quillmark.app/Contents/Info.plist"]:
                with self.subTest(foreign=foreign):
                    path = os.path.join(home, foreign)
                    with open(path, "w") as file:
                        file.write("keep me")
                    result = sim("--home", home, "-", scenario=LIVE_AND_QUILLMARK)
                    self.assertEqual(result.returncode, 2)
                    self.assertIn(f"holds {foreign}, which quillmark-sim did not make",
                                  result.stderr)
                    with open(path) as file:
                        self.assertEqual(file.read(), "keep me")
                    self.assertTrue(os.path.exists(os.path.join(home, "Library/Logs/Quillmark.log")))
                    os.unlink(path)
            link = os.path.join(home, "Library/escape")
            os.symlink("/etc", link)
            result = sim("--home", home, "-", scenario=LIVE_AND_QUILLMARK)
            self.assertIn("holds Library/escape, which quillmark-sim did not make", result.stderr)
            os.unlink(link)
            self.assertEqual(sim("--quiet", "--home", home, "-", scenario=LIVE_AND_QUILLMARK)
                             .returncode, 0)

    def test_the_temporary_home_is_removed_at_exit(self):
        result = sim("-", scenario=LIVE_AND_QUILLMARK)
        self.assertEqual(result.returncode, 0)
        match = re.search(r"home (\S+) \(removed at exit\)", result.stdout.splitlines()[0])
        self.assertIsNotNone(match, result.stdout)
        self.assertFalse(os.path.exists(match.group(1)))

    def test_the_temporary_home_is_removed_when_the_run_is_cut_short(self):
        def start():
            """A week printed second by second, far longer than the test;
            it soon fills the pipe and waits."""
            tool = subprocess.Popen([TOOL, "--every-second", "-"], stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE)
            tool.stdin.write(b"launch\nat 7d expect running yes\n")
            tool.stdin.close()
            home = re.search(r"home (\S+) \(removed at exit\)", tool.stdout.readline().decode())
            self.assertTrue(os.path.isdir(home.group(1)))
            return tool, home.group(1)

        for cut in (signal.SIGINT, signal.SIGTERM, signal.SIGPIPE):
            with self.subTest(cut.name):
                tool, home = start()
                if cut == signal.SIGPIPE:
                    tool.stdout.close()  # as `quillmark-sim | head -1` ends
                else:
                    tool.send_signal(cut)
                self.assertEqual(tool.wait(timeout=10), -cut)
                tool.stdout.close()
                self.assertFalse(os.path.exists(home))


class Timeline(unittest.TestCase):
    def test_one_save_shows_as_focus_keys_focus_log_and_menu_lines(self):
        scenario = LIVE_AND_QUILLMARK + 'trust on\nat 2.5 click "Save Now"\n'
        result = sim("-", scenario=scenario)
        self.assertEqual(result.returncode, 0, result.stdout)
        lines = result.stdout.splitlines()
        start = lines.index('09:00:02.500  user       click "Save Now"')
        self.assertEqual(lines[start + 1:start + 7], [
            "              focus      com.ableton.live (pid 501)",
            "09:00:03.000  keys       Cmd↓ S↓ S↑ Cmd↑  → com.ableton.live (pid 501)",
            "09:00:03.150  focus      com.apple.finder (pid 500)",
            "              log        Manual save command sent successfully.",
            "              log        Autosave timer started: every 10 min.",
            "              status     ✓ Saved at 09:00 · next 10:00",
        ])

    def test_every_second_shows_the_waiting_animation_turn_line_by_line(self):
        result = sim("--every-second", "-", scenario="launch\nat 1 expect running yes\n")
        statuses = [(time, line[25:]) for time, line in timed_lines(result.stdout)
                    if "Waiting for Ableton" in line]
        self.assertEqual(statuses, [
            ("09:00:00.000", "◐ Waiting for Ableton Live"),
            ("09:00:00.250", "◓ Waiting for Ableton Live"),
            ("09:00:00.500", "◑ Waiting for Ableton Live"),
            ("09:00:00.750", "◒ Waiting for Ableton Live"),
            ("09:00:01.000", "◐ Waiting for Ableton Live"),
        ])

    def test_every_second_shows_each_tick_of_the_countdown(self):
        scenario = "trust on\n" + LIVE_AND_QUILLMARK + "at 90 expect running yes\n"
        result = sim("--every-second", "-", scenario=scenario)
        statuses = [line[25:] for _, line in timed_lines(result.stdout) if "status  " in line]
        self.assertEqual(statuses, [f"✓ Next save in {(600 - n) // 60:02d}:{(600 - n) % 60:02d}"
                                    for n in range(0, 91)])


    def test_the_first_launch_alert_prompt_and_launchctl_runs_are_shown(self):
        result = sim("-", scenario="alert answer first open 2\nlaunch\nat 4 expect alerts 1\n")
        text = result.stdout
        self.assertIn("launchctl  bootout gui/501 ~/Library/LaunchAgents/"
                      "local.vellum.quillmark-watcher.plist  → exit 0", text)
        self.assertIn("09:00:01.000  prompt     the system asks to grant Accessibility access", text)
        self.assertIn('alert      "Нужен Универсальный доступ"  buttons [Открыть настройки] [Позже]',
                      text)
        self.assertEqual(time_of(text, "alert      answered [Открыть настройки]"), "09:00:03.000")
        self.assertIn("url        x-apple.systempreferences:com.apple.preference.security?"
                      "Privacy_Accessibility", text)

    def test_lives_title_and_dialog_show_in_the_order_of_the_lines(self):
        scenario = ('live start\nlive set "Song"\nat 1 live edits\nat 2 live dialog open\n'
                    'live dialog open\nat 3 live dialog close\n')
        result = sim("-", scenario=scenario)
        self.assertEqual(result.returncode, 0, result.stdout)
        lines = [line for line in result.stdout.splitlines() if "live" in line][2:]
        self.assertEqual(lines, [
            '              live       title "Song [Song] - Ableton Live 12 Suite"',
            "09:00:01.000  user       live edits",
            '              live       title "Song* [Song] - Ableton Live 12 Suite"',
            "09:00:02.000  world      live dialog open",
            "              live       dialog opens",
            "              world      live dialog open",
            "09:00:03.000  world      live dialog close",
            "              live       dialog closes",
        ])

    def test_a_busy_live_the_users_own_save_and_a_silent_lock_show_as_lines(self):
        scenario = ('live start\nlive set "Song"\nat 1 live edits\nat 2 live busy 3\n'
                    'at 3 live user-saves\nat 4 session lock silent\n'
                    'after 0.5 session unlock silent\nlive menu-save works\n'
                    'at 6 expect live-saves 1\nexpect saves 0\nexpect menu-saves 0\n'
                    'expect live-activations 0\nexpect main-thread-waits-at-most 0\n')
        result = sim("-", scenario=scenario)
        self.assertEqual(result.returncode, 0, result.stdout)
        lines = result.stdout.splitlines()
        start = lines.index("09:00:02.000  world      live busy 3  → answers nothing until "
                            "09:00:05.000")
        self.assertEqual(lines[start + 1:start + 8], [
            "09:00:03.000  user       live user-saves  → when Live is done",
            "09:00:04.000  world      session lock silent  → Quillmark is not told",
            "09:00:04.500  world      session unlock silent  → Quillmark is not told",
            "              world      live menu-save works",
            "09:00:05.000  live       answers again",
            '              live       title "Song [Song] - Ableton Live 12 Suite"',
            "09:00:06.000  end        5 checks, all held",
        ])

    def test_a_silent_lock_is_not_told_to_quillmark(self):
        result = sim("-", scenario=LIVE_AND_QUILLMARK +
                     'at 5 session lock silent\nat 5.5 note "x"\nat 7 note "y"\n')
        self.assertEqual(result.returncode, 0, result.stdout)
        lines = result.stdout.splitlines()
        start = lines.index("09:00:05.000  world      session lock silent  → Quillmark is not told")
        self.assertEqual(lines[start + 1], "09:00:05.500  note       x")
        # Quillmark finds out by asking, at its next look.
        self.assertEqual(lines[start + 2],
                         "09:00:06.000  log        Session locked: no saves until it is unlocked.")

    def test_lines_about_live_need_live_running(self):
        for line in ("live busy 1", "live user-saves"):
            with self.subTest(line=line):
                result = sim("--quiet", "-", scenario=line + "\n")
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stderr, "<stdin>:1: com.ableton.live does not run\n")

    def test_a_session_over_several_days_shows_the_date(self):
        result = sim("-", scenario="live start\nlaunch\nat 1d live quit\nafter 10 expect running no\n")
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertIn("2025-03-03 09:00:00.000  world      live quit", result.stdout)
        self.assertRegex(result.stdout, r"2025-03-03 09:00:08\.000  quit +Quillmark \(pid 502\) terminated")

    def test_sleep_wake_and_clock_jumps_keep_the_time_column_on_the_monotonic_clock(self):
        # A jump moves only the wall clock; lines at the sleep's instant run
        # before it, a line timed inside it at the wake; a sleep across
        # midnight shows the date.
        scenario = ('at 10 clock jump -1h\nat 20 system sleep 1d\nnote "going"\n'
                    'at 30 note "inside"\n')
        result = sim("-", scenario=scenario)
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertEqual(result.stdout.splitlines()[1:-1], [
            "2025-03-02 09:00:10.000  world      clock jump -1h  → wall clock 2025-03-02 08:00:10.000",
            "2025-03-02 09:00:20.000  world      system sleep 1d  → asleep until "
            "2025-03-03 09:00:20.000",
            "                         note       going",
            "2025-03-03 09:00:20.000  wake       the system woke after 86400 s",
            "                         note       inside",
        ])


class StoryTimeline(unittest.TestCase):
    """By default the countdown's ticks and the animation's frames stay out,
    but for a whole minute, a start and a stop."""

    def menu_lines(self, result, label):
        return [(time, line[25:]) for time, line in timed_lines(result.stdout)
                if line[14:25] == f"{label:<10} "]

    def test_the_countdown_shows_its_whole_minutes_and_whatever_changes_with_it(self):
        scenario = ("trust on\n" + LIVE_AND_QUILLMARK +
                    'at 150 click "Interval" "10 seconds (test)"\nat 161 expect saves 1\n')
        result = sim("-", scenario=scenario)
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertEqual(self.menu_lines(result, "status"), [
            ("09:00:00.000", "✓ Next save in 10:00"),
            ("09:01:00.000", "✓ Next save in 09:00"),
            ("09:02:00.000", "✓ Next save in 08:00"),
            # A tick along with the interval's change.
            ("09:02:30.000", "✓ Next save in 00:10"),
            ("09:02:40.650", "✓ Autosaved at 09:02 · next 00:00"),
            # A countdown that starts anew.
            ("09:02:40.650", "✓ Autosaved at 09:02 · next 00:10"),
        ])
        self.assertEqual([text[-5:] for _, text in self.menu_lines(result, "tooltip")],
                         ["10:00", "09:00", "08:00", "00:10", "00:00", "00:10"])

    def test_a_time_of_day_is_no_countdown(self):
        scenario = ("trust on\n" + LIVE_AND_QUILLMARK + 'at 5 click "Pause Autosave"\n'
                    'at 10 click "Save Now"\nat 20 clock jump -1h\nat 30 click "Save Now"\n')
        result = sim("-", scenario=scenario)
        self.assertEqual(self.menu_lines(result, "status")[-2:], [
            ("09:00:10.650", "Saved at 09:00"),
            ("09:00:30.650", "Saved at 08:00"),
        ])

    def test_the_built_in_day_reads_in_about_a_hundred_lines(self):
        result = sim()
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertLessEqual(len(result.stdout.splitlines()), 100)
        self.assertGreater(len(sim("--every-second").stdout.splitlines()), 150)

    def test_the_animation_shows_when_it_starts_and_when_it_stops(self):
        result = sim("-", scenario="launch\nat 2 live start\nat 3 expect running yes\n")
        self.assertEqual(self.menu_lines(result, "status"), [
            ("09:00:00.000", "◐ Waiting for Ableton Live"),
            ("09:00:02.250", "✕ Grant Accessibility access"),
        ])
        self.assertEqual(self.menu_lines(result, "ableton"), [
            ("09:00:00.000", "◐ Ableton waiting"),
            ("09:00:02.250", "✓ Ableton connected"),
        ])


class Pictures(unittest.TestCase):
    def test_a_picture_of_the_menu_lands_where_the_user_runs_the_tool(self):
        with tempfile.TemporaryDirectory() as folder:
            scenario = "trust on\n" + LIVE_AND_QUILLMARK + 'at 1 picture "menu.png"\n'
            result = sim("-", scenario=scenario, cwd=folder)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn('09:00:01.000  world      picture "menu.png"', result.stdout)
            with open(os.path.join(folder, "menu.png"), "rb") as file:
                header = file.read(24)
            self.assertEqual(header[:8], b"\x89PNG\r\n\x1a\n")
            # Twice its size in points, as on a Retina display.
            width, height = struct.unpack(">II", header[16:24])
            self.assertEqual((width % 2, height % 2), (0, 0))
            self.assertGreater(height, 400)

    def test_a_picture_that_cannot_be_drawn_stops_the_scenario(self):
        cases = [
            ('picture "menu.png"\n', "<stdin>:1: picture: Quillmark shows no menu to draw"),
            (LIVE_AND_QUILLMARK + 'picture "/nonexistent/folder/menu.png"\n',
             "<stdin>:3: cannot write the picture /nonexistent/folder/menu.png: "
             "there is no folder /nonexistent/folder"),
        ]
        for scenario, message in cases:
            with self.subTest(scenario=scenario):
                result = sim("--quiet", "-", scenario=scenario)
                self.assertEqual((result.returncode, result.stderr), (2, message + "\n"))


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main(verbosity=2)
