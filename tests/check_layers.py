#!/usr/bin/python3
"""The layers' includes against the table in CONTRIBUTING.md, which says what
each layer may include: a file that includes a layer its row does not name
fails the test (naming the file, the line and the include). Layers that name
no Qt (core, study, platform) may not include Qt either."""
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
for f in faults:
    print(f)
sys.exit(1 if faults else 0)
