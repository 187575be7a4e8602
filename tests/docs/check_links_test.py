"""The documentation link checker, on small trees of its own: what it must
flag and what it must leave alone."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_links  # noqa: E402


class Tree(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.root = self.folder.name
        os.makedirs(os.path.join(self.root, "docs", "images"))
        self.write("docs/images/menu.png", "png")
        self.write("docs/guide.md", "# Guide\n\n## What runs at logon, and why\n\n"
                   "## The reference is `--help`\n\n## Logs\n\n## Logs\n")

    def tearDown(self):
        self.folder.cleanup()

    def write(self, name, text):
        with open(os.path.join(self.root, name), "w", encoding="utf-8") as file:
            file.write(text)

    def problems(self, text, name="README.md"):
        self.write(name, text)
        return check_links.check_file(self.root, os.path.join(self.root, name))


class Files(Tree):
    def test_existing_files_and_images_pass(self):
        self.assertEqual(self.problems(
            "# T\n\n[guide](docs/guide.md) ![menu](docs/images/menu.png)\n"
            '<img src="docs/images/menu.png">\n[ref]: docs/guide.md\n'), [])

    def test_a_missing_file_is_named_with_its_line(self):
        self.assertEqual(self.problems("# T\n\nsee [x](docs/gone.md)\n"),
                         ["README.md:3: docs/gone.md: no such file"])

    def test_a_missing_image_is_flagged(self):
        self.assertEqual(len(self.problems("# T\n![menu](docs/images/windows.png)\n")), 1)

    def test_a_missing_reference_and_html_target_are_flagged(self):
        self.assertEqual(len(self.problems('# T\n[r]: docs/no.md\n<a href="no.md">x</a>\n')), 2)

    def test_links_resolve_from_the_linking_files_folder(self):
        self.write("README.md", "# T\n")
        self.assertEqual(self.problems("# G\n[up](../README.md) [pic](images/menu.png)\n",
                                       "docs/other.md"), [])
        self.assertEqual(len(self.problems("# G\n[pic](docs/images/menu.png)\n",
                                           "docs/other.md")), 1)

    def test_links_out_of_the_repository_and_absolute_paths_are_flagged(self):
        problems = self.problems("# T\n[a](../outside.md) [b](/docs/guide.md)\n")
        self.assertEqual(len(problems), 2)
        self.assertIn("outside the repository", problems[0])
        self.assertIn("absolute path", problems[1])

    def test_other_sites_are_not_followed(self):
        self.assertEqual(self.problems(
            "# T\n[r](https://github.com/vellum/quillmark/releases) [m](mailto:a@b.c)\n"), [])


class Anchors(Tree):
    def test_headings_anchor_as_on_github(self):
        self.assertEqual(self.problems(
            "# T\n[a](docs/guide.md#what-runs-at-logon-and-why) "
            "[b](docs/guide.md#the-reference-is---help) "
            "[c](docs/guide.md#logs) [d](docs/guide.md#logs-1)\n"), [])

    def test_a_missing_anchor_is_flagged(self):
        self.assertEqual(self.problems("# T\n[a](docs/guide.md#logs-2)\n"),
                         ["README.md:2: docs/guide.md#logs-2: no heading has the anchor #logs-2"])

    def test_an_anchor_in_the_same_file(self):
        self.assertEqual(self.problems("# T\n[a](#install-on-macos)\n\n## Install on macOS\n"),
                         [])
        self.assertEqual(len(self.problems("# T\n[a](#install-on-windows)\n")), 1)

    def test_a_heading_in_a_code_block_makes_no_anchor(self):
        self.assertEqual(len(self.problems("# T\n[a](#comment)\n\n```\n# comment\n```\n")), 1)


class Code(Tree):
    def test_code_is_not_read_as_links(self):
        self.assertEqual(self.problems(
            "# T\n\n`[a](gone.md)`\n\n    [b](gone.md)\n\n```\n[c](gone.md)\n```\n"), [])

    def test_prose_after_a_code_block_is_read_again(self):
        self.assertEqual(len(self.problems("# T\n\n    code\n\n[a](gone.md)\n")), 1)
        self.assertEqual(len(self.problems("# T\n\n```\ncode\n```\n[a](gone.md)\n")), 1)

    def test_a_list_items_continuation_is_prose(self):
        self.assertEqual(len(self.problems("# T\n\n- item\n  [a](gone.md)\n")), 1)


class Levels(Tree):
    def test_a_skipped_level_is_flagged(self):
        self.assertEqual(self.problems("# Quillmark\n\n### While you type\n"),
                         ["README.md:3: heading level 3 under level 1"])

    def test_a_file_must_not_open_below_level_one(self):
        self.assertEqual(len(self.problems("## Start\n")), 1)

    def test_going_back_up_any_number_of_levels_is_fine(self):
        self.assertEqual(self.problems("# A\n## B\n### C\n# D\n## E\n"), [])


class Command(Tree):
    def test_exit_status_tells_the_outcome(self):
        self.write("README.md", "# T\n[g](docs/guide.md)\n")
        readme = os.path.join(self.root, "README.md")
        self.assertEqual(check_links.main(["check_links.py", self.root, readme]), 0)
        self.write("README.md", "# T\n[g](docs/gone.md)\n")
        self.assertEqual(check_links.main(["check_links.py", self.root, readme]), 1)


if __name__ == "__main__":
    unittest.main()
