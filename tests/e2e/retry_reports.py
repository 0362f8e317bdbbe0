#!/usr/bin/env python3
"""Runs of the end-to-end tests that failed once and are run again, alone.

    retry_reports.py failed MERGED_XML          prints the failed tests as a GoogleTest filter
    retry_reports.py apply MERGED_XML RETRY_XML a test that passed when run again counts as
                                                passed, its first failure kept in the report
                                                and printed; exits 1 while any test still fails

Some tray tests under Wine fail in a freshly made prefix and pass in the same prefix afterwards
(the cause is not found yet): every such case is named in the output, never hidden.
"""
import sys
import xml.etree.ElementTree as ET


def read(path):
    with open(path, "rb") as f:
        return ET.fromstring(f.read().decode("utf-8", errors="replace"))


def failed(case):
    return case.find("failure") is not None or case.find("error") is not None


def key(case):
    return f"{case.get('classname')}.{case.get('name')}"


def main(verb, merged, retry=None):
    root = read(merged)
    if verb == "failed":
        print(":".join(key(c) for c in root.iter("testcase") if failed(c)))
        return 0
    try:
        again = {key(c): c for c in read(retry).iter("testcase")}
    except (OSError, ET.ParseError) as e:
        print(f"retry: report {retry}: {e}")
        again = {}
    still = 0
    for suite in root.iter("testsuite"):
        for case in suite.iter("testcase"):
            if not failed(case):
                continue
            second = again.get(key(case))
            if second is None or failed(second) or second.find("skipped") is not None:
                still += 1
                print(f"retry: {key(case)} failed again")
                continue
            first = [e for e in case if e.tag in ("failure", "error")]
            message = first[0].get("message", "") if first else ""
            for e in first:
                case.remove(e)
            ET.SubElement(case, "system-out").text = (
                "failed on its first run, passed when run again alone: " + message)
            print(f"retry: {key(case)} failed on its first run and passed when run again")
        suite.set("failures", str(sum(1 for c in suite.iter("testcase") if failed(c))))
    root.set("failures", str(still))
    ET.ElementTree(root).write(merged, encoding="utf-8", xml_declaration=True)
    return 1 if still else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
