#!/usr/bin/env python3
"""Adds up JUnit/GoogleTest XML reports into one closing line: 'Totals: N passed, N failed'."""
import sys
import xml.etree.ElementTree as ET

passed = failed = skipped = 0
for path in sys.argv[1:]:
    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError):
        print(f"missing or unreadable report: {path}")
        failed += 1
        continue
    for case in root.iter("testcase"):
        if case.find("failure") is not None or case.find("error") is not None:
            failed += 1
        elif case.find("skipped") is not None or case.get("result") == "skipped" \
                or case.get("status") in ("notrun", "disabled"):
            skipped += 1
        else:
            passed += 1
line = f"Totals: {passed} passed, {failed} failed"
if skipped:
    line += f", {skipped} skipped"
print(line)
sys.exit(1 if failed else 0)
