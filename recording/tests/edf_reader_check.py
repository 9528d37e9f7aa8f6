#!/usr/bin/env python3
"""Reads ecg-convert's EDF+ output back with an independent reader (MNE) and
compares every sample with the data file it came from.

Usage: edf_reader_check.py ECG_CONVERT SCRATCH_DIR
Exit 0 on success, 1 on a difference, 77 (skipped) when MNE is missing."""
import os
import struct
import subprocess
import sys
import warnings

try:
    import mne
except ImportError:
    print("mne is not installed (Debian: python3-mne); skipped")
    sys.exit(77)

NAMES = ["I", "II", "III", "aVR", "aVL", "aVF", "C1", "C2", "C3", "C4", "C5", "C6", "Resp"]
# Byte offset of each named channel in a 24-byte record.
OFFSETS = [8, 9, 10, 11, 12, 13, 14, 16, 17, 18, 19, 20, 15]


def write_recording(path, records, rate, start_seconds, twelve, silent):
    """A data file as the tool saves it; returns the per-channel values."""
    values = {name: [] for name in NAMES}
    with open(path, "wb") as out:
        header = bytearray(24)
        header[8] = 5
        out.write(header)
        for n in range(records):
            record = bytearray(24)
            struct.pack_into("<d", record, 0, (start_seconds + n / rate) / 86400.0)
            for k, (name, offset) in enumerate(zip(NAMES, OFFSETS)):
                chest = name in ("C2", "C3", "C4", "C5", "C6")
                value = 0 if (chest and not twelve) or name in silent else (n * (k + 3) + 7 * k) % 248
                record[offset] = value
                values[name].append(value)
            out.write(record)
    return values


def check(convert, scratch, label, records, rate, given_rate, twelve, silent):
    dat = os.path.join(scratch, label + ".dat")
    edf = os.path.join(scratch, label + ".edf")
    values = write_recording(dat, records, rate, 14 * 3600 + 3 * 60 + 20.25, twelve, silent)
    command = [convert, dat, "--edf", edf] + (["--rate", str(given_rate)] if given_rate else [])
    subprocess.run(command, check=True)
    expected = [name for name in NAMES if any(values[name])]
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # a warning fails the check
        raw = mne.io.read_raw_edf(edf, preload=True, verbose="warning")
    problems = []
    if raw.ch_names != expected:
        problems.append("channels %s, expected %s" % (raw.ch_names, expected))
    if round(raw.info["sfreq"]) != rate:
        problems.append("rate %s, expected %d" % (raw.info["sfreq"], rate))
    # Physical 0..247 over digital 0..247: the reader's scaling must give the
    # bytes back. MNE returns volts for channels it takes as EEG/ECG, so
    # undo its unit scale from the file's own calibration.
    extras = raw._raw_extras[0]
    data = raw.get_data()
    for index, name in enumerate(raw.ch_names if not problems else []):
        cal = extras["cal"][index] if "cal" in extras else 1.0
        units = extras["units"][index] if "units" in extras else 1.0
        got = [round(v / units) for v in data[index]]
        if abs(cal - 1.0) > 1e-9:
            problems.append("%s: calibration %s, expected 1" % (name, cal))
        if got[:records] != values[name]:
            first = next(i for i, (a, b) in enumerate(zip(got, values[name])) if a != b)
            problems.append("%s: sample %d is %d, expected %d" % (name, first, got[first], values[name][first]))
        padded = got[records:]
        if any(v != values[name][-1] for v in padded):
            problems.append("%s: the padding is not the last sample" % name)
    if raw.n_times != -(-records // rate) * rate:
        problems.append("%d samples, expected %d" % (raw.n_times, -(-records // rate) * rate))
    start = raw.info["meas_date"]
    if start is None or (start.hour, start.minute, start.second) != (14, 3, 20):
        problems.append("start %s, expected 14:03:20" % start)
    for problem in problems:
        print("%s: %s" % (label, problem))
    return not problems


def main():
    convert, scratch = sys.argv[1], sys.argv[2]
    os.makedirs(scratch, exist_ok=True)
    cases = [
        ("eight_estimated", 1000, 300, None, False, ()),
        ("eight_given_rate", 555, 150, 150, False, ("III", "C1")),
        ("twelve", 1234, 300, 300, True, ()),
        ("twelve_estimated_100", 250, 100, None, True, ("Resp",)),
        ("one_record", 1, 300, 300, False, ()),
    ]
    ok = all([check(convert, scratch, *case) for case in cases])
    print("all samples read back" if ok else "differences found")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
