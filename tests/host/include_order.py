#!/usr/bin/env python3
"""The host's folders include only downward: each folder may include its own headers and those of
the folders after it in LAYERS, the driver's and the spectra library's public headers, and the
platform layer's portable threads, locks, events, clock and INI reader; nothing else of the project.
Prints every include that breaks this and exits 1 if there is any."""
import pathlib
import re
import sys

LAYERS = ["cli", "qualification", "live", "acquisition", "analysis", "instrument", "files", "os", "text"]
PUBLIC = {"dorvane.h", "dorvane_spectra.h", "dorvane_helpers.h"}
PLATFORM = {"platform/clock.h", "platform/event.h", "platform/ini.h", "platform/mutex.h", "platform/thread.h"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def breaches(host: pathlib.Path):
    for path in sorted(host.rglob("*")):
        if path.suffix not in (".h", ".cpp") or "web" in path.parts or "node_modules" in path.parts:
            continue
        folder = path.relative_to(host).parts[0]
        if folder not in LAYERS:
            yield f"{path}: the folder {folder} has no place in the host's order"
            continue
        below = LAYERS[LAYERS.index(folder):]
        for name in INCLUDE.findall(path.read_text(encoding="utf-8")):
            parts = name.split("/")
            if name in PUBLIC or name in PLATFORM:
                continue
            if parts[0] == "host" and len(parts) > 2 and parts[1] in below:
                continue
            if parts[0] == "host" and len(parts) > 2 and parts[1] in LAYERS:
                yield f"{path}: includes {name}, which is above {folder}"
            else:
                yield f"{path}: includes {name}, which the host may not use"


def main() -> int:
    host = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "host")
    found = list(breaches(host))
    for line in found:
        print(line)
    print(f"include order: {len(found)} include(s) out of order in {host}")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
