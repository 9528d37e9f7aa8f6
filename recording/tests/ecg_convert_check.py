#!/usr/bin/env python3
"""ecg-convert's refusals: every bad input gives its exit code and a message
naming the problem, and leaves no output file.

Usage: ecg_convert_check.py ECG_CONVERT SCRATCH_DIR"""
import os
import subprocess
import sys


def recording(path, records):
    with open(path, "wb") as out:
        header = bytearray(24)
        header[8] = 5
        out.write(header)
        for n in range(records):
            record = bytearray(24)
            record[8] = n % 200 + 1
            out.write(record)


def main():
    convert, scratch = sys.argv[1], sys.argv[2]
    os.makedirs(scratch, exist_ok=True)
    good = os.path.join(scratch, "good.dat")
    recording(good, 10)
    empty = os.path.join(scratch, "empty.dat")
    recording(empty, 0)
    wrong = os.path.join(scratch, "wrong.dat")
    with open(wrong, "wb") as out:
        out.write(bytes(24 * 3))
    short = os.path.join(scratch, "short.dat")
    with open(short, "wb") as out:
        out.write(b"\x00" * 8 + b"\x05")
    out_edf = os.path.join(scratch, "out.edf")
    missing_folder = os.path.join(scratch, "no-such-folder", "out.edf")

    # (name, arguments, exit code, text the message must hold)
    cases = [
        ("no arguments", [], 2, "no input file"),
        ("no output format", [good], 2, "--edf"),
        ("output name missing", [good, "--edf"], 2, "needs a file name"),
        ("two formats", [good, "--edf", out_edf, "--csv", "x.csv"], 2, "one of --edf and --csv"),
        ("unknown option", [good, "--pdf", out_edf], 2, "unknown option --pdf"),
        ("rate zero", [good, "--edf", out_edf, "--rate", "0"], 2, "1..1000"),
        ("rate too high", [good, "--edf", out_edf, "--rate", "1001"], 2, "1..1000"),
        ("rate not a number", [good, "--edf", out_edf, "--rate", "3OO"], 2, "1..1000"),
        ("unreadable file", [os.path.join(scratch, "missing.dat"), "--edf", out_edf], 3, "No such file"),
        ("a folder", [scratch, "--edf", out_edf], 3, "Is a directory"),
        ("not a recording", [wrong, "--edf", out_edf], 3, "Invalid File Type"),
        ("shorter than a header", [short, "--edf", out_edf], 3, "Invalid File Type"),
        ("empty recording", [empty, "--edf", out_edf], 3, "holds no records"),
        ("folder missing", [good, "--edf", missing_folder], 5, "No such file or directory"),
    ]
    failures = 0
    for name, arguments, code, text in cases:
        result = subprocess.run([convert] + arguments, capture_output=True, text=True)
        if result.returncode != code or text not in result.stderr or os.path.exists(out_edf):
            failures += 1
            print("%s: exit %d, expected %d; stderr: %s" % (name, result.returncode, code, result.stderr.strip()))
    result = subprocess.run([convert, "--help"], capture_output=True, text=True)
    if result.returncode != 0 or "Usage: ecg-convert" not in result.stdout:
        failures += 1
        print("--help: exit %d" % result.returncode)
    result = subprocess.run([convert, good, "--csv", os.path.join(scratch, "good.csv")], capture_output=True, text=True)
    if result.returncode != 0 or not open(os.path.join(scratch, "good.csv")).read().startswith("time,I\n"):
        failures += 1
        print("a good conversion failed: %s" % result.stderr)
    print("%d of %d cases failed" % (failures, len(cases) + 2))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
