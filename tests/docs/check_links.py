"""Checks the documentation's Markdown files: every relative link or image
points at a file inside the repository that exists, every #anchor names a
heading of its file (as GitHub makes anchors from headings), and heading
levels do not skip (a ### right under a #).

    check_links.py ROOT FILE.md...

Links to other sites (https:, mailto:) are not followed: this runs offline.
Text in code blocks and code spans is not read as links.
"""

import os
import re
import sys
from urllib.parse import unquote

INLINE = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]*)>?(?:\s+\"[^\"]*\")?\s*\)")
REFERENCE = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s+.*)?$")
HTML = re.compile(r"<(?:a|img)\b[^>]*?\b(?:href|src)=\"([^\"]*)\"", re.IGNORECASE)
HEADING = re.compile(r"^\s{0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
FENCE = re.compile(r"^\s{0,3}(```|~~~)")
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")


def prose_lines(text):
    """(number, line) of the lines outside fenced and indented code blocks,
    with code spans blanked out."""
    fenced = None
    previous_blank = True
    in_indented = False
    for number, line in enumerate(text.splitlines(), 1):
        fence = FENCE.match(line)
        if fenced:
            if fence and fence.group(1) == fenced:
                fenced = None
            continue
        if fence:
            fenced = fence.group(1)
            continue
        blank = not line.strip()
        indented = line.startswith("    ") or line.startswith("\t")
        # An indented line opens a code block only after a blank line; a
        # list item's continuation lines are indented by less.
        if indented and (previous_blank or in_indented):
            in_indented = True
            previous_blank = blank
            continue
        if not blank:
            in_indented = False
        previous_blank = blank
        yield number, re.sub(r"(`+)(.+?)\1", lambda m: " " * len(m.group(0)), line)


def slug(heading):
    """GitHub's anchor for a heading's text."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link's text only
    text = text.replace("`", "").lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def headings(path):
    """The anchors of a Markdown file's headings, and (number, level) of each."""
    anchors, levels, seen = set(), [], {}
    with open(path, encoding="utf-8") as file:
        text = file.read()
    fenced = None
    for number, line in enumerate(text.splitlines(), 1):
        fence = FENCE.match(line)
        if fenced:
            fenced = None if fence and fence.group(1) == fenced else fenced
            continue
        if fence:
            fenced = fence.group(1)
            continue
        match = HEADING.match(line)
        if not match:
            continue
        base = slug(match.group(2))
        count = seen.get(base, 0)
        seen[base] = count + 1
        anchors.add(base if count == 0 else f"{base}-{count}")
        levels.append((number, len(match.group(1))))
    return anchors, levels


def links(path):
    """(line number, target) of every link and image in a Markdown file."""
    with open(path, encoding="utf-8") as file:
        text = file.read()
    for number, line in prose_lines(text):
        for pattern in (INLINE, HTML):
            for match in pattern.finditer(line):
                yield number, match.group(1)
        reference = REFERENCE.match(line)
        if reference:
            yield number, reference.group(1)


def check_file(root, path):
    """The problems of one Markdown file, as 'file:line: text'."""
    problems = []
    root = os.path.realpath(root)
    shown = os.path.relpath(path, root)
    _, levels = headings(path)
    for (_, above), (number, level) in zip([(0, 0)] + levels, levels):
        if level > above + 1:
            problems.append(f"{shown}:{number}: heading level {level} under level {above}")
    for number, target in links(path):
        if not target or SCHEME.match(target) or target.startswith("//"):
            continue
        part, _, anchor = target.partition("#")
        part = unquote(part)
        if part.startswith("/"):
            problems.append(f"{shown}:{number}: {target}: an absolute path breaks on GitHub")
            continue
        linked = os.path.realpath(os.path.join(os.path.dirname(path), part)) if part else \
            os.path.realpath(path)
        if os.path.commonpath([root, linked]) != root:
            problems.append(f"{shown}:{number}: {target}: outside the repository")
            continue
        if not os.path.exists(linked):
            problems.append(f"{shown}:{number}: {target}: no such file")
            continue
        if anchor and linked.endswith(".md"):
            anchors, _ = headings(linked)
            if unquote(anchor).lower() not in anchors:
                problems.append(f"{shown}:{number}: {target}: no heading has the anchor "
                                f"#{anchor}")
    return problems


def main(argv):
    if len(argv) < 3:
        sys.exit("usage: check_links.py ROOT FILE.md...")
    root, files = argv[1], argv[2:]
    problems = [problem for path in files for problem in check_file(root, path)]
    for problem in problems:
        print("FAIL", problem)
    print(f"{len(files)} files: " + ("ok" if not problems else f"{len(problems)} problems"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
