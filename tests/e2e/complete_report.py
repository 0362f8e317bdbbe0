#!/usr/bin/env python3
"""Makes sure that test runs' cases are counted, run or not.

    complete_report.py REASON CASES REPORT [CASES REPORT...]

REPORT is the GoogleTest XML report a run should have written; CASES the file of the cases it
was to run, one Suite.Name a line (empty: not known). When REPORT is missing or unreadable (the
program crashed, hung or never started), it is written anew with every case of CASES failed with
REASON, or with one failed entry named after the report when the cases are not known. A readable
report is left as it is. Exits 1 when it wrote a report.
"""
import os
import sys
import xml.etree.ElementTree as ET


def readable(path):
    try:
        # A failure message may quote the program's GBK text as it is: read the bytes leniently
        # rather than lose the whole report over one message.
        with open(path, "rb") as f:
            ET.fromstring(f.read().decode("utf-8", errors="replace"))
        return True
    except (OSError, ET.ParseError):
        return False


def complete(reason, cases_file, report):
    if readable(report):
        return 0
    with open(cases_file, encoding="utf-8") as f:
        cases = [line.strip() for line in f if line.strip()]
    if not cases:
        cases = [os.path.basename(report).removesuffix(".xml") + ".Report"]
    top = ET.Element("testsuites", name="AllTests", tests=str(len(cases)),
                     failures=str(len(cases)))
    suites = {}
    for key in cases:
        suite_name, name = key.split(".", 1) if "." in key else (key, "Report")
        suite = suites.get(suite_name)
        if suite is None:
            suite = suites[suite_name] = ET.SubElement(top, "testsuite", name=suite_name)
        case = ET.SubElement(suite, "testcase", name=name, classname=suite_name, status="run",
                             result="completed")
        ET.SubElement(case, "failure", message=reason).text = reason
    for suite in suites.values():
        suite.set("tests", str(len(suite)))
        suite.set("failures", str(len(suite)))
    ET.ElementTree(top).write(report, encoding="utf-8", xml_declaration=True)
    print(f"{os.path.basename(report)}: {reason}; {len(cases)} cases counted as failed")
    return 1


def main(reason, *pairs):
    written = 0
    for k in range(0, len(pairs) - 1, 2):
        written |= complete(reason, pairs[k], pairs[k + 1])
    return written


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
