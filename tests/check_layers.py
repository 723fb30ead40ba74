#!/usr/bin/python3
"""The layers' includes against the table in CONTRIBUTING.md, which says what
each layer may include: a file that includes a layer its row does not name
fails the test (naming the file, the line and the include). Layers that name
no Qt (core, study, platform) may not include Qt either. Within study/, the
rooms' includes are checked against the table of rooms alike, and the bottom
headers (study/study_options.h, study/results.h) may include no room."""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
table = (root / "CONTRIBUTING.md").read_text(encoding="utf-8")
rules = {}
for line in table.splitlines():
    m = re.match(r"\|\s*`(\w+)/`\s*\|.*\|\s*(.+?)\s*\|\s*$", line)
    if not m:
        continue
    layer, may = m.group(1), m.group(2)
    allowed = set(re.findall(r"`([\w./]+)`", may))
    rules[layer] = allowed
if not {"core", "study", "ui", "export", "cli", "platform"} <= rules.keys():
    sys.exit("CONTRIBUTING.md: the table of layers was not found")

include = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]')
faults = []
for layer, allowed in rules.items():
    folder = root / layer
    if not folder.is_dir():
        continue
    for path in sorted(folder.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".in"):
            continue
        for number, text in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            m = include.match(text)
            if not m:
                continue
            name = m.group(1)
            top = name.split("/")[0]
            if top in rules and top != layer:
                if f"{top}/" not in allowed and name not in allowed:
                    faults.append(f"{path.relative_to(root)}:{number}: {layer}/ includes {name}")
            elif name.startswith("Q") and layer in ("core", "study", "platform"):
                faults.append(f"{path.relative_to(root)}:{number}: {layer}/ includes Qt ({name})")
# The study's rooms: each may include its own files and those its row names.
rooms = {}
for line in table.splitlines():
    m = re.match(r"\|\s*`(study/\w+/)`\s*\|.*\|\s*(.+?)\s*\|\s*$", line)
    if m:
        rooms[m.group(1)] = re.findall(r"`(study/[\w./]+)`", m.group(2))
if not {"study/input/", "study/models/", "study/fit/", "study/uncertainty/",
        "study/output/"} <= rooms.keys():
    sys.exit("CONTRIBUTING.md: the table of the study's rooms was not found")
bottom = {"study/study_options.h": ["study/study_options.h"],
          "study/results.h": ["study/study_options.h"]}
for path in sorted((root / "study").rglob("*")):
    if path.suffix not in (".h", ".cpp"):
        continue
    name = str(path.relative_to(root))
    room = next((r for r in rooms if name.startswith(r)), None)
    allowed = rooms[room] + [room] if room else bottom.get(name)
    if allowed is None:
        continue  # the entry and its run include every room
    for number, text in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        m = include.match(text)
        if not m or not m.group(1).startswith("study/"):
            continue
        target = m.group(1)
        if not any(target == a or (a.endswith("/") and target.startswith(a)) for a in allowed):
            faults.append(f"{name}:{number}: {room or name} includes {target}")
# The study has one entry, study/study_fit.h; its run is its own.
for path in sorted(root.rglob("*")):
    if path.suffix not in (".h", ".cpp") or "build" in path.parts:
        continue
    name = str(path.relative_to(root))
    if name.startswith("study/"):
        continue
    for number, text in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        m = include.match(text)
        if m and m.group(1) == "study/study_run.h":
            faults.append(f"{name}:{number}: includes the study's run; use study/study_fit.h")
for f in faults:
    print(f)
sys.exit(1 if faults else 0)
