#!/usr/bin/env python3
"""ecg-convert from outside: every bad input and refused output gives its exit
code and a message naming the problem, and leaves every file as it was; the
exit codes are the ones --help lists.

Usage: ecg_convert_check.py ECG_CONVERT SCRATCH_DIR"""
import json
import math
import os
import re
import shutil
import struct
import subprocess
import sys


def recording(path, records, seconds=lambda n: 50000 + n / 300.0):
    with open(path, "wb") as out:
        header = bytearray(24)
        header[8] = 5
        out.write(header)
        for n in range(records):
            record = bytearray(24)
            struct.pack_into("<d", record, 0, seconds(n) / 86400.0)
            record[8] = n % 200 + 1
            out.write(record)


def write(path, text):
    with open(path, "w") as out:
        out.write(text)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def documented_exit_codes(convert):
    """The codes of the --help text's "Exit codes:" table."""
    text = subprocess.run([convert, "--help"], capture_output=True, text=True, timeout=60).stdout
    table = text.split("Exit codes:", 1)[1] if "Exit codes:" in text else ""
    return {int(code) for code in re.findall(r"^  (\d+)  ", table, re.M)}


def main():
    convert, scratch = sys.argv[1], sys.argv[2]
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    at = lambda name: os.path.join(scratch, name)

    recording(at("good.dat"), 10)
    recording(at("empty.dat"), 0)
    with open(at("wrong.dat"), "wb") as out:
        out.write(bytes(24 * 3))
    with open(at("short.dat"), "wb") as out:
        out.write(b"\x00" * 8 + b"\x05")
    recording(at("nan.dat"), 10, lambda n: math.nan if n == 4 else 50000 + n / 300.0)
    recording(at("inf.dat"), 10, lambda n: math.inf if n == 0 else 50000 + n / 300.0)
    recording(at("late.dat"), 10, lambda n: 86400 * 2 + n)
    recording(at("broken.dat"), 10)
    write(at("broken.json"), '{"version": 1, "setup": {"rate_hz": "fast"}}')
    recording(at("summary.dat"), 10)
    write(at("summary.json"), json.dumps({"records": 10, "rate": 299.9, "identification": None}))
    recording(at("typed.dat"), 10)
    write(at("typed.json"), json.dumps({"version": 1, "setup": {"rate_hz": 150}}))
    recording(at("cut.dat"), 10)
    with open(at("cut.dat"), "ab") as out:
        out.write(b"\x01" * 13)  # a record the killed writer never finished
    big = 100000 + 5  # one more than the store holds and then some
    recording(at("big.dat"), big)
    write(at("existing.edf"), "an earlier export")
    os.link(at("good.dat"), at("hardlink.edf"))
    os.symlink(at("good.dat"), at("symlink.csv"))
    os.mkfifo(at("pipe.edf"))
    out_edf, out_csv, out_pdf = at("out.edf"), at("out.csv"), at("out.pdf")

    # (name, arguments, exit code, text the message must hold, output file
    # that must exist afterwards or None)
    cases = [
        ("no arguments", [], 2, "no input file", None),
        ("no output format", [at("good.dat")], 2, "--edf", None),
        ("output name missing", [at("good.dat"), "--edf"], 2, "needs a file name", None),
        ("two formats", [at("good.dat"), "--edf", out_edf, "--csv", out_csv], 2, "one of --edf, --csv and --pdf", None),
        ("unknown option", [at("good.dat"), "--xls", out_edf], 2, "unknown option --xls", None),
        ("a span without --pdf", [at("good.dat"), "--csv", out_csv, "--from", "0"], 2, "for --pdf only", None),
        ("a span start not a number", [at("good.dat"), "--pdf", out_pdf, "--from", "1s"], 2, "not a number of seconds",
         None),
        ("a negative span end", [at("good.dat"), "--pdf", out_pdf, "--to", "-1"], 2, "not a number of seconds", None),
        ("a span start beyond the end", [at("good.dat"), "--pdf", out_pdf, "--from", "5"], 2,
         "not within the recording", None),
        ("a span end before its start", [at("good.dat"), "--pdf", out_pdf, "--from", "0.02", "--to", "0.01"], 2,
         "not after the span's start", None),
        ("PDF output exists", [at("good.dat"), "--pdf", at("existing.edf")], 4, "--force replaces it", None),
        ("PDF of a time that is NaN", [at("nan.dat"), "--pdf", out_pdf], 6, "no time of day", None),
        ("rate zero", [at("good.dat"), "--edf", out_edf, "--rate", "0"], 2, "1..1000", None),
        ("rate too high", [at("good.dat"), "--edf", out_edf, "--rate", "1001"], 2, "1..1000", None),
        ("rate not a number", [at("good.dat"), "--edf", out_edf, "--rate", "3OO"], 2, "1..1000", None),
        ("rate against the sidecar", [at("typed.dat"), "--edf", out_edf, "--rate", "300"], 2, "leave out --rate", None),
        ("unreadable file", [at("missing.dat"), "--edf", out_edf], 3, "No such file", None),
        ("a folder", [scratch, "--edf", out_edf], 3, "Is a directory", None),
        ("not a recording", [at("wrong.dat"), "--edf", out_edf], 3, "Invalid File Type", None),
        ("shorter than a header", [at("short.dat"), "--edf", out_edf], 3, "Invalid File Type", None),
        ("empty recording", [at("empty.dat"), "--edf", out_edf], 3, "holds no records", None),
        ("malformed sidecar", [at("broken.dat"), "--edf", out_edf], 3, "\"setup.rate_hz\" is not a number", None),
        ("another program's NAME.json", [at("summary.dat"), "--edf", out_edf], 3, "not a recording's sidecar", None),
        ("output exists", [at("good.dat"), "--edf", at("existing.edf")], 4, "--force replaces it", None),
        ("output is the input", [at("good.dat"), "--csv", at("good.dat"), "--force"], 4, "own file", None),
        ("output is the input by a hard link", [at("good.dat"), "--edf", at("hardlink.edf"), "--force"], 4,
         "own file", None),
        ("output is the input by a symbolic link", [at("good.dat"), "--csv", at("symlink.csv"), "--force"], 4,
         "own file", None),
        ("output is the input's sidecar", [at("good.dat"), "--csv", at("good.json"), "--force"], 4, "own file", None),
        ("no --force hint for the input", [at("good.dat"), "--csv", at("good.dat")], 4, "not written\n", None),
        ("output a named pipe", [at("good.dat"), "--edf", at("pipe.edf"), "--force"], 4, "not a regular file", None),
        ("output a device", [at("good.dat"), "--csv", "/dev/null", "--force"], 4, "not a regular file", None),
        ("output a folder", [at("good.dat"), "--csv", scratch, "--force"], 4, "not a regular file", None),
        ("folder missing", [at("good.dat"), "--edf", at("no-such-folder/out.edf")], 5, "No such file or directory",
         None),
        ("a time that is NaN", [at("nan.dat"), "--edf", out_edf], 6, "no time of day", None),
        ("a time that is infinite", [at("inf.dat"), "--csv", out_csv], 6, "the first is record 1", None),
        ("times outside a day", [at("late.dat"), "--edf", out_edf], 6, "--rate HZ", None),
        ("a NaN time with --rate", [at("nan.dat"), "--edf", out_edf, "--rate", "300"], 0, "without a usable time stamp",
         out_edf),
        ("malformed sidecar left aside", [at("broken.dat"), "--edf", out_edf, "--no-sidecar"], 0, "(estimated)", out_edf),
        ("the sidecar's rate", [at("typed.dat"), "--csv", out_csv], 0, "at 150/s (the sidecar's)", out_csv),
        ("--rate equal to the sidecar's", [at("typed.dat"), "--csv", out_csv, "--rate", "150"], 0, "150/s", out_csv),
        ("CSV with --rate", [at("good.dat"), "--csv", out_csv, "--rate", "100"], 0, "at 100/s (as given)", out_csv),
        ("more records than the store", [at("big.dat"), "--csv", out_csv], 0, "%d records" % big, out_csv),
        ("PDF report", [at("good.dat"), "--pdf", out_pdf], 0, "2 pages", out_pdf),
        ("PDF report of a span", [at("typed.dat"), "--pdf", out_pdf, "--from", "0.01", "--to", "0.05"], 0, "written",
         out_pdf),
        ("--repair with a format", ["--repair", at("cut.dat"), "--csv", out_csv], 2, "--repair takes only --force",
         None),
        ("--repair of a missing file", ["--repair", at("missing.dat")], 3, "No such file", None),
        ("--repair of no recording", ["--repair", at("wrong.dat")], 3, "Invalid File Type", None),
        ("--repair of a killed run", ["--repair", at("cut.dat")], 0,
         "10 records found in %s (a piece of 13 bytes at the end ignored); the recording ended abnormally"
         % at("cut.dat"), at("cut.log")),
        ("--repair of more records than the store", ["--repair", at("big.dat")], 0, "%d records found" % big,
         at("big.log")),
        ("--repair of a completed run", ["--repair", at("cut.dat")], 4, "exists: the recording was completed", None),
        ("--repair of a completed run, --force", [at("cut.dat"), "--repair", "--force"], 0, "ended abnormally",
         at("cut.log")),
        ("output exists, --force", [at("good.dat"), "--edf", at("existing.edf"), "--force"], 0, "written",
         at("existing.edf")),
    ]
    protected = {name: read(at(name)) for name in ("good.dat", "broken.json", "typed.json")}
    earlier = read(at("existing.edf"))
    documented = documented_exit_codes(convert)
    failures = 0
    for name, arguments, code, text, made in cases:
        result = subprocess.run([convert] + arguments, capture_output=True, text=True, timeout=120)
        problems = []
        if result.returncode != code:
            problems.append("exit %d, expected %d" % (result.returncode, code))
        if code not in documented:
            problems.append("exit code %d is not in --help's table" % code)
        if text not in result.stderr:
            problems.append("stderr lacks %r" % text)
        for path in (out_edf, out_csv, out_pdf):
            if os.path.exists(path) and path != made:
                problems.append("%s was written" % os.path.basename(path))
        if made and not os.path.isfile(made):
            problems.append("%s was not written" % made)
        if made != at("existing.edf") and read(at("existing.edf")) != earlier:
            problems.append("the existing output was replaced")
        if any(read(at(f)) != content for f, content in protected.items()):
            problems.append("an input file changed")
        if os.path.exists(at("good.json")):
            problems.append("the input's sidecar name was written")
        if not os.path.exists(at("pipe.edf")) or os.path.isfile(at("pipe.edf")):
            problems.append("the named pipe was replaced")
        if problems:
            failures += 1
            print("%s: %s; stderr: %s" % (name, "; ".join(problems), result.stderr.strip()))
        for path in (out_edf, out_csv, out_pdf):
            if os.path.exists(path):
                os.remove(path)
    with open(at("cut.json")) as f:
        repaired = json.load(f)
    with open(at("cut.log"), "rb") as f:
        log_lines = f.read().count(b"\r\n")
    with open(at("big.log"), "rb") as f:
        big_lines = f.read().count(b"\r\n")
    if repaired.get("records") != 10 or repaired.get("ended_abnormally") is not True or log_lines != 5 + 10 or \
            big_lines != 5 + big:
        failures += 1
        print("the repaired runs: sidecar %r, %d and %d log lines" % (repaired, log_lines, big_lines))
    if read(at("existing.edf")).startswith(b"an earlier"):
        failures += 1
        print("--force did not replace the existing output")
    result = subprocess.run([convert, "--help"], capture_output=True, text=True, timeout=60)
    if result.returncode != 0 or "Usage: ecg-convert" not in result.stdout or documented != {0, 2, 3, 4, 5, 6}:
        failures += 1
        print("--help: exit %d, exit codes listed %s" % (result.returncode, sorted(documented)))
    subprocess.run([convert, at("big.dat"), "--csv", out_csv], capture_output=True, timeout=120)
    with open(out_csv) as f:
        lines = f.read().splitlines()
    if len(lines) != big + 1 or not lines[0].startswith("sample,seconds,time,I,") or not lines[-1].startswith(
            "%d," % (big - 1)):
        failures += 1
        print("the large file: %d lines, the last %r" % (len(lines), lines[-1][:40]))
    print("%d of %d cases failed" % (failures, len(cases) + 4))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
