#!/usr/bin/env python3
"""Merges the end-to-end shards' GoogleTest XML reports into one report.

    merge_reports.py OUT_XML TEST_LIST REPORT...

TEST_LIST holds the tests the shards were to run together, one Suite.Name a line. Every one of
them appears exactly once in OUT_XML: a test that no report holds (its shard crashed, hung or
never started) is written as failed with that reason, and a test reported twice counts once, as
failed when either report says so. A missing or unreadable report is named in the output.
"""
import sys
import xml.etree.ElementTree as ET


def main(out, listing, *reports):
    expected = [line.strip() for line in open(listing, encoding="utf-8") if line.strip()]
    cases = {}  # "Suite.Name" -> (suite, testcase element)
    problems = []
    for path in reports:
        try:
            # A failure message may quote the program's GBK text as it is: read the bytes
            # leniently rather than lose the whole shard's report over one message.
            with open(path, "rb") as f:
                root = ET.fromstring(f.read().decode("utf-8", errors="replace"))
        except (OSError, ET.ParseError) as e:
            problems.append(f"report {path}: {e}")
            continue
        for suite in root.iter("testsuite"):
            for case in suite.iter("testcase"):
                key = f"{case.get('classname')}.{case.get('name')}"
                earlier = cases.get(key)
                failed = case.find("failure") is not None or case.find("error") is not None
                if earlier is None or failed:
                    cases[key] = (suite.get("name"), case)
    for key in expected:
        if key not in cases:
            suite, name = key.split(".", 1)
            case = ET.Element("testcase", name=name, classname=suite, status="run",
                              result="completed")
            reason = "no shard reported this test (a shard crashed or hung; see its log)"
            ET.SubElement(case, "failure", message=reason).text = reason
            cases[key] = (suite, case)
            problems.append(f"{key}: not reported")
    top = ET.Element("testsuites", name="AllTests")
    suites = {}
    for key in sorted(cases, key=lambda k: (expected.index(k) if k in expected else len(expected), k)):
        suite_name, case = cases[key]
        suite = suites.get(suite_name)
        if suite is None:
            suite = suites[suite_name] = ET.SubElement(top, "testsuite", name=suite_name)
        suite.append(case)
    total = failures = 0
    for suite in suites.values():
        n = len(suite)
        f = sum(1 for c in suite if c.find("failure") is not None or c.find("error") is not None)
        suite.set("tests", str(n))
        suite.set("failures", str(f))
        total += n
        failures += f
    top.set("tests", str(total))
    top.set("failures", str(failures))
    ET.ElementTree(top).write(out, encoding="utf-8", xml_declaration=True)
    for p in problems:
        print(f"merge: {p}")
    print(f"merge: {total} end-to-end tests from {len(reports)} reports, {failures} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
