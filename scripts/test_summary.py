#!/usr/bin/env python3
"""Adds up JUnit/GoogleTest XML reports into one closing line: 'Totals: N passed, N failed'."""
import sys
import xml.etree.ElementTree as ET

passed = failed = skipped = 0
for path in sys.argv[1:]:
    try:
        # A failure message may quote the program's GBK text as it is: the bytes are read
        # leniently, so that one message does not hide the report's count.
        with open(path, "rb") as f:
            root = ET.fromstring(f.read().decode("utf-8", errors="replace"))
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
