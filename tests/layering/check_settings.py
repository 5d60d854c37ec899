#!/usr/bin/env python3
"""Fails when the gateway's settings check does not know a setting.

Every CORVANE_* and XQ_* name the gateway, the library or the base
spells out must be in the table of gateway/SettingsCheck.cpp, or
`corvane-gateway --check` calls a real setting unknown.
Usage: check_settings.py SOURCE_DIR
"""
import os
import re
import sys

NAME = re.compile(r'"((?:CORVANE|XQ)_[A-Z0-9_]+)"')


def names_in(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return set(NAME.findall(f.read()))


def main(top):
    read = set()
    for folder in ("gateway", "corvane", "common"):
        for root, _, files in os.walk(os.path.join(top, folder)):
            for name in files:
                if name.endswith((".cpp", ".h")):
                    read |= names_in(os.path.join(root, name))
    missing = sorted(read - names_in(os.path.join(top, "gateway", "SettingsCheck.cpp")))
    for name in missing:
        print(f"gateway/SettingsCheck.cpp does not know {name}")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
