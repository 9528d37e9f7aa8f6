#!/usr/bin/env python3
"""Reads a JUnit XML file as a CI server would, independently of the writer.

Checks the elements and attributes of the JUnit schema (testsuites,
testsuite, testcase, failure/error/skipped) and that the counts agree with
the testcases, then prints what it read as JSON for the calling test.
Exit 1 with the reason on stderr when the file does not conform.
"""
import json
import sys
import xml.etree.ElementTree as ET

COUNTS = ("tests", "failures", "errors", "skipped")


def fail(reason):
    print(reason, file=sys.stderr)
    sys.exit(1)


def need(element, names):
    for name in names:
        if name not in element.attrib:
            fail(f"<{element.tag}> has no '{name}' attribute")


def number(element, name):
    try:
        return float(element.attrib[name])
    except ValueError:
        fail(f"<{element.tag}> {name}='{element.attrib[name]}' is not a number")


def outcome(case):
    kinds = [child for child in case if child.tag in ("failure", "error", "skipped")]
    if len(kinds) > 1:
        fail(f"testcase '{case.attrib['name']}' has {len(kinds)} outcomes")
    if not kinds:
        return "passed", ""
    if kinds[0].tag != "skipped":
        need(kinds[0], ("message", "type"))
    return kinds[0].tag, kinds[0].attrib.get("message", "")


def main(path):
    root = ET.parse(path).getroot()
    if root.tag != "testsuites":
        fail(f"the root is <{root.tag}>, not <testsuites>")
    need(root, ("name",) + COUNTS + ("time",))
    totals = dict.fromkeys(COUNTS, 0)
    cases = []
    for suite in root:
        if suite.tag != "testsuite":
            fail(f"<testsuites> holds <{suite.tag}>")
        need(suite, ("name", "timestamp", "hostname") + COUNTS + ("time",))
        number(suite, "time")
        counted = dict.fromkeys(COUNTS, 0)
        for case in suite.iter("testcase"):
            need(case, ("name", "classname", "time"))
            number(case, "time")
            kind, message = outcome(case)
            counted["tests"] += 1
            counted[{"passed": "tests", "failure": "failures", "error": "errors", "skipped": "skipped"}[kind]] += (
                0 if kind == "passed" else 1)
            cases.append({"suite": suite.attrib["name"], "classname": case.attrib["classname"],
                          "name": case.attrib["name"], "outcome": kind, "message": message})
        for name in COUNTS:
            if int(suite.attrib[name]) != counted[name]:
                fail(f"testsuite '{suite.attrib['name']}' says {name}={suite.attrib[name]}, holds {counted[name]}")
            totals[name] += counted[name]
    for name in COUNTS:
        if int(root.attrib[name]) != totals[name]:
            fail(f"<testsuites> says {name}={root.attrib[name]}, its suites hold {totals[name]}")
    print(json.dumps({"name": root.attrib["name"], "tests": totals["tests"], "cases": cases}))


if __name__ == "__main__":
    main(sys.argv[1])
