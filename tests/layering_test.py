#!/usr/bin/python3
"""The layers of the sources hold.

    layering_test.py SOURCE-ROOT QTCORE-INCLUDE-DIR [FILE...]

Fails (exit 1), naming each offending line, when
- a file of src/core includes a header of the ui layer ("ui/...") or a Qt
  header that is not Qt Core's (a widget, the GUI module, ...);
- a file outside src/ui/app includes the main window's header;
- a file outside src/ui/play, other than the main window and its memory,
  includes the Play page's header (the rest of the program drives playback
  through TPlayback);
- the folders of src/core include each other in a cycle (search includes
  playlists and playlists includes search): each folder builds on the ones
  below it.
With FILE arguments only those files are checked, as if they stood where
their paths (relative to SOURCE-ROOT) say: how the test of this guard shows
that it catches a stray include.
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
MAIN_WINDOW = "ui/app/MainWindow.h"
PLAY_PAGE = "ui/play/PlayPage.h"
# The window holds the page and remembers which playlist it shows.
PAGE_HOLDERS = ("src/ui/play/", "src/ui/app/MainWindow.", "src/ui/app/WindowMemory.")


def problems(path, text, qtcore):
    found = []
    in_core = path.startswith("src/core/")
    in_app = path.startswith("src/ui/app/")
    for number, line in enumerate(text.splitlines(), 1):
        match = INCLUDE.match(line)
        if not match:
            continue
        quote, header = match.groups()
        where = "%s:%d: %s" % (path, number, line.strip())
        if header == MAIN_WINDOW and not in_app:
            found.append(where + "  (only ui/app may include the main window)")
        if header == PLAY_PAGE and not path.startswith(PAGE_HOLDERS):
            found.append(where + "  (only ui/play and the window that holds the page name it)")
        if not in_core:
            continue
        if quote == '"' and header.startswith("ui/"):
            found.append(where + "  (the core never includes the ui layer)")
        if quote == "<" and header.startswith("Q"):
            name = header.split("/", 1)[1] if header.startswith("QtCore/") else header
            if "/" in header and not header.startswith("QtCore/") or \
                    not os.path.exists(os.path.join(qtcore, name)):
                found.append(where + "  (the core uses Qt Core only)")
    return found


def core_folder_cycle(paths_and_texts):
    """A cycle of src/core folders by their includes, as a list, or None."""
    uses = {}
    for path, text in paths_and_texts:
        if not path.startswith("src/core/"):
            continue
        folder = path.split("/")[2]
        for line in text.splitlines():
            match = INCLUDE.match(line)
            if match and match.group(1) == '"' and match.group(2).startswith("core/"):
                used = match.group(2).split("/")[1]
                if used != folder:
                    uses.setdefault(folder, set()).add(used)

    def walk(folder, trail):
        if folder in trail:
            return trail[trail.index(folder):] + [folder]
        for used in sorted(uses.get(folder, ())):
            cycle = walk(used, trail + [folder])
            if cycle:
                return cycle
        return None

    for folder in sorted(uses):
        cycle = walk(folder, [])
        if cycle:
            return cycle
    return None


def main():
    root, qtcore = sys.argv[1], sys.argv[2]
    files = sys.argv[3:]
    if not files:
        for folder in ("src", "tools", "server"):
            for base, _, names in os.walk(os.path.join(root, folder)):
                for name in names:
                    if name.endswith((".h", ".cpp")):
                        files.append(os.path.relpath(os.path.join(base, name), root))
    found = []
    texts = []
    for path in sorted(files):
        with open(os.path.join(root, path), encoding="utf-8") as source:
            texts.append((path, source.read()))
            found += problems(path, texts[-1][1], qtcore)
    cycle = core_folder_cycle(texts)
    if cycle:
        found.append("src/core folders include each other: " + " -> ".join(cycle))
    for line in found:
        print(line)
    if not os.path.exists(os.path.join(qtcore, "QObject")):
        print("no Qt Core headers in " + qtcore)
        return 1
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
