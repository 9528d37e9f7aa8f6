#pragma once
// The results of a run as files and as text: JUnit XML for CI servers, JSON
// for scripts, the verdict table for a person. All three are built from one
// RunReport and say the same; none of them opens a dialog or a port.
//
// Texts in a RunReport are UTF-8. Control characters (a module may send any
// byte in its identification) become spaces (tab, line breaks) or U+FFFD in
// every output, so a stray byte can neither break the XML nor a table row.
#include <stdexcept>
#include <string>

#include <QByteArray>

#include "acceptance/CheckResults.h"

// <testsuites> (name: the plan) with one <testsuite> per check, in the
// order the checks first appear in the results, each with the run's
// <properties> (plan file, checksum, port, identification) and one
// <testcase> per result: name = CaseName, classname "acceptance.<check>",
// time in seconds. A Fail carries <failure>, an Error <error>, a Sent
// <skipped> (nothing could be verified); the message attribute gives the
// measured value, the limits and the result's message, which <system-out>
// repeats for every testcase. UTF-8, version 1.0.
QByteArray JUnitXml(const RunReport& report);

// {"plan": {name, file, sha256}, "started" (ISO 8601 with the UTC offset),
// "seconds", "port", "identification", "verdict" ("pass"/"fail"),
// "exit_code", "counts": {tests, passed, failures, errors, sent},
// "results": [{check, setting, verdict, measured (number or null),
// measured_text, unit, low, high (number or null), limits, message,
// seconds}]}. Indented, UTF-8.
QByteArray ResultsJson(const RunReport& report);

// One row per result (check, setting, verdict in capitals, measured,
// limits, message) under a heading, the columns padded to their widest
// cell, then a summary line ending in the run's verdict, PASS or FAIL.
std::string VerdictTable(const RunReport& report);

class EResultFile : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Replaces `path` with `bytes` whole or not at all. Raises EResultFile
// ("PATH: why") when it cannot: a result that was not written must not be
// taken for one that was.
void SaveResultFile(const std::string& path, const QByteArray& bytes);
