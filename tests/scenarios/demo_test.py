#!/usr/bin/env python3
"""scripts/demo run from another folder: its arguments are the user's paths,
and the build speaks only when it fails, but for one line before the first.
A stand-in cmake keeps the test from building; the demo then runs the
quillmark-sim given here.

Usage: demo_test.py DEMO_SCRIPT QUILLMARK_SIM [unittest options]
"""
import os
import subprocess
import sys
import tempfile
import unittest

DEMO = None
TOOL = None

FAKE_CMAKE = """#!/bin/sh
echo "cmake says $*"
echo "$*" >> "$FAKE_CMAKE_LOG"
# Builds quillmark-sim where the demo looks for it, when asked to.
if [ "$1" = --build ] && [ -n "${FAKE_CMAKE_BUILDS:-}" ]; then
  ln -s "$FAKE_CMAKE_BUILDS" "$2/sim/quillmark-sim"
fi
exit "${FAKE_CMAKE_STATUS:-0}"
"""

FIRST_BUILD = "Building quillmark-sim…\n"


class DemoFromAnotherFolder(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory(dir="/tmp")
        self.addCleanup(self.folder.cleanup)
        self.user = os.path.join(self.folder.name, "user")
        build = os.path.join(self.folder.name, "build")
        tools = os.path.join(self.folder.name, "bin")
        for path in (self.user, os.path.join(build, "sim"), tools):
            os.makedirs(path)
        self.tool_link = os.path.join(build, "sim", "quillmark-sim")
        os.symlink(TOOL, self.tool_link)
        cmake = os.path.join(tools, "cmake")
        with open(cmake, "w") as file:
            file.write(FAKE_CMAKE)
        os.chmod(cmake, 0o755)
        self.cmake_log = os.path.join(self.folder.name, "cmake.log")
        self.environment = dict(os.environ, PATH=tools + os.pathsep + os.environ["PATH"],
                                QM_DEMO_BUILD_DIR=build, FAKE_CMAKE_LOG=self.cmake_log)

    def demo(self, *arguments, status=0):
        environment = dict(self.environment, FAKE_CMAKE_STATUS=str(status))
        return subprocess.run([DEMO, *arguments], cwd=self.user, env=environment,
                              capture_output=True, text=True, timeout=60)

    def test_relative_paths_are_read_and_written_in_the_users_folder(self):
        with open(os.path.join(self.user, "my.scenario"), "w") as file:
            file.write("live start\nlaunch\nexpect running yes\n")
        result = self.demo("--icon", "out.png", "my.scenario")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Quillmark on a simulated desktop · my.scenario · ", result.stdout)
        self.assertRegex(result.stdout, r"end +1 check, all held")
        self.assertEqual(sorted(os.listdir(self.user)), ["my.scenario", "out.png", "out@2x.png"])
        # The checkout is built in the build folder it is given, from its own root.
        with open(self.cmake_log) as file:
            calls = file.read().splitlines()
        root = os.path.dirname(os.path.dirname(os.path.realpath(DEMO)))
        self.assertIn(f"-S {root} -B {self.environment['QM_DEMO_BUILD_DIR']}", calls[0])

    def test_the_build_speaks_only_when_it_fails(self):
        quiet = self.demo("--quiet")
        self.assertEqual(quiet.returncode, 0, quiet.stderr)
        self.assertNotIn("cmake says", quiet.stdout + quiet.stderr)
        self.assertNotIn(FIRST_BUILD, quiet.stderr)

        failed = self.demo(status=1)
        self.assertNotEqual(failed.returncode, 0)
        self.assertIn("cmake says -S", failed.stderr)
        self.assertEqual(failed.stdout, "")

    def test_the_first_build_is_announced_once(self):
        os.remove(self.tool_link)
        self.environment["FAKE_CMAKE_BUILDS"] = TOOL
        first = self.demo("--quiet")
        self.assertEqual(first.returncode, 0, first.stderr)
        self.assertEqual(first.stderr, FIRST_BUILD)
        self.assertEqual(first.stdout, "")

        again = self.demo("--quiet")
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertEqual(again.stderr, "")

        os.remove(self.tool_link)
        failed = self.demo(status=1)
        self.assertNotEqual(failed.returncode, 0)
        self.assertTrue(failed.stderr.startswith(FIRST_BUILD + "cmake says -S"), failed.stderr)


if __name__ == "__main__":
    DEMO = os.path.abspath(sys.argv.pop(1))
    TOOL = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
