#!/usr/bin/env python3
"""Every relative link in the project's Markdown documents leads somewhere.

A link to a file must name one that exists, and a link to a heading (#anchor) one that the
target document has, with the anchors spelt the way a Markdown renderer derives them from the
headings. Links to other sites are not followed: nothing here goes on the network.

    check_links.py ROOT FILE.md...
"""
import pathlib
import re
import sys

LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
HEADING = re.compile(r"^#{1,6}\s+(.*?)\s*#*\s*$")


def anchors(path):
    found, fenced = set(), False
    for line in path.read_text(encoding="utf-8").splitlines():
        if line.startswith("```"):
            fenced = not fenced
        match = None if fenced else HEADING.match(line)
        if match:
            text = re.sub(r"[`*_]", "", match.group(1)).lower()
            found.add(re.sub(r"[^\w\- ]", "", text).replace(" ", "-"))
    return found


def main():
    root = pathlib.Path(sys.argv[1])
    broken = []
    for name in sys.argv[2:]:
        source = root / name
        fenced = False
        for number, line in enumerate(source.read_text(encoding="utf-8").splitlines(), 1):
            if line.startswith("```"):
                fenced = not fenced
            if fenced or line.startswith("    "):
                continue
            for target in LINK.findall(line):
                if re.match(r"^[a-z]+:", target):
                    continue
                path, _, anchor = target.partition("#")
                file = (source.parent / path).resolve() if path else source
                if not file.exists():
                    broken.append(f"{name}:{number}: no file {path}")
                elif anchor and file.suffix == ".md" and anchor not in anchors(file):
                    broken.append(f"{name}:{number}: {file.name} has no heading #{anchor}")
    for line in broken:
        print(line)
    sys.exit(1 if broken else 0)


if __name__ == "__main__":
    main()
