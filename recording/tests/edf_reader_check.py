#!/usr/bin/env python3
"""Reads ecg-convert's EDF+ output back with an independent reader (MNE) and
compares every sample with the data file it came from: in µV, equal to
(raw - zero) / steps-per-mV x 1000 within half a step where the sidecar holds
a calibration, the raw steps otherwise; and the annotations are there.

Usage: edf_reader_check.py ECG_CONVERT SCRATCH_DIR
Exit 0 on success, 1 on a difference, 77 (skipped) when MNE is missing."""
import json
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
CHEST = ("C2", "C3", "C4", "C5", "C6")
# Byte offset of each named channel in a 24-byte record.
OFFSETS = [8, 9, 10, 11, 12, 13, 14, 16, 17, 18, 19, 20, 15]
CHEST_MISSING, DATA_LOST = 0x01, 0x02


def write_recording(path, records, rate, start_seconds, twelve, silent, marks):
    """A data file as the tool saves it; returns the per-channel values the
    EDF+ file must hold (a chest lead that never came holds the one before)."""
    values = {name: [] for name in NAMES}
    with open(path, "wb") as out:
        header = bytearray(24)
        header[8] = 5
        out.write(header)
        for n in range(records):
            record = bytearray(24)
            pause = 6.0 if marks and n >= records // 2 else 0.0
            struct.pack_into("<d", record, 0, (start_seconds + n / rate + pause) / 86400.0)
            flags, marker = marks.get(n, (0, 0))
            record[21], record[22] = flags, marker
            for k, (name, offset) in enumerate(zip(NAMES, OFFSETS)):
                chest = name in CHEST
                value = 0 if (chest and not twelve) or name in silent else (n * (k + 3) + 7 * k) % 248
                held = chest and flags & CHEST_MISSING and n > 0
                record[offset] = 0 if held else value
                values[name].append(values[name][-1] if held else value)
            out.write(record)
    return values


def sidecar(rate, stage, calibrated_stage):
    leads = [{"lead": name, "steps_per_mv": 38.5 + 0.37 * k, "zero": 110 + 1.3 * k}
             for k, name in enumerate(NAMES[:12])]
    content = {"version": 1, "setup": {"rate_hz": rate, "amplification_stage": stage, "mains_filter_hz": 50,
                                        "emg_filter": True, "twelve_channel": True},
               "start": "2024-03-05T14:03:20.250",
               "markers": [{"number": 1, "record": 301, "text": "cough"}]}
    if calibrated_stage:
        content["calibration"] = {"stage": calibrated_stage, "leads": leads}
    return content, {lead["lead"]: lead for lead in leads}


def check(convert, scratch, label, records, rate, given_rate, twelve, silent, calibration=None, marks=None):
    dat = os.path.join(scratch, label + ".dat")
    edf = os.path.join(scratch, label + ".edf")
    values = write_recording(dat, records, rate, 14 * 3600 + 3 * 60 + 20.25, twelve, silent, marks or {})
    leads = {}
    if calibration:
        content, all_leads = sidecar(rate, *calibration)
        with open(os.path.join(scratch, label + ".json"), "w") as out:
            json.dump(content, out)
        if calibration[0] == calibration[1]:
            leads = all_leads
    command = [convert, dat, "--edf", edf, "--force"] + (["--rate", str(given_rate)] if given_rate else [])
    subprocess.run(command, check=True, capture_output=True)
    expected = [name for name in NAMES if any(values[name])]
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # a warning fails the check
        raw = mne.io.read_raw_edf(edf, preload=True, verbose="warning")
    problems = []
    if raw.ch_names != expected:
        problems.append("channels %s, expected %s" % (raw.ch_names, expected))
    if round(raw.info["sfreq"]) != rate:
        problems.append("rate %s, expected %d" % (raw.info["sfreq"], rate))
    # MNE returns volts for a signal in uV and the physical values of any
    # other unit; its own unit scale gives the file's physical values back.
    extras = raw._raw_extras[0]
    data = raw.get_data()
    for index, name in enumerate(raw.ch_names if not problems else []):
        units = extras["units"][index]
        got = [v / units for v in data[index]]
        lead = leads.get(name)
        want_units = 1e-6 if lead else 1.0
        if abs(units - want_units) > 1e-12:
            problems.append("%s: unit scale %s, expected %s" % (name, units, want_units))
        if lead:
            want = [(v - lead["zero"]) / lead["steps_per_mv"] * 1000 for v in values[name]]
            half_step = 0.5 / lead["steps_per_mv"] * 1000
        else:
            want, half_step = values[name], 0.5
        off = [i for i in range(records) if abs(got[i] - want[i]) > half_step]
        if off:
            problems.append("%s: sample %d is %s, expected %s" % (name, off[0], got[off[0]], want[off[0]]))
        if any(abs(v - got[records - 1]) > 1e-9 for v in got[records:]):
            problems.append("%s: the padding is not the last sample" % name)
    per_record = rate // 10
    if raw.n_times != -(-records // per_record) * per_record:
        problems.append("%d samples, expected %d" % (raw.n_times, -(-records // per_record) * per_record))
    if raw.n_times - records >= per_record:
        problems.append("padding of %d samples, more than a tenth of a second" % (raw.n_times - records))
    start = raw.info["meas_date"]
    if start is None or (start.hour, start.minute, start.second) != (14, 3, 20):
        problems.append("start %s, expected 14:03:20" % start)
    if calibration and (start.year, start.month, start.day) != (2024, 3, 5):
        problems.append("start date %s, expected the sidecar's 2024-03-05" % start.date())
    found = {a["description"]: a["onset"] for a in raw.annotations}
    wanted = {"Recording starts": 0.0, "Recording ends": records / rate}
    for n, (flags, marker) in (marks or {}).items():
        if flags & CHEST_MISSING:
            wanted["Chest leads missing"] = n / rate
        if flags & DATA_LOST:
            wanted["Data lost"] = n / rate
        if marker:
            wanted["Marker %d: cough" % marker if calibration else "Marker %d" % marker] = n / rate
    if marks:
        wanted["No records for %.3f s" % (6 + 1 / rate)] = (records // 2) / rate
    if records % per_record:
        wanted["Padding, not recorded"] = records / rate
    for text, onset in wanted.items():
        if text not in found or abs(found[text] - onset) > 1e-3:
            problems.append("annotation %r at %s, expected at %.4f" % (text, found.get(text), onset))
    for problem in problems:
        print("%s: %s" % (label, problem))
    return not problems


def main():
    convert, scratch = sys.argv[1], sys.argv[2]
    os.makedirs(scratch, exist_ok=True)
    marks = {300: (CHEST_MISSING, 0), 301: (0, 1), 350: (DATA_LOST, 0)}
    cases = [
        ("eight_estimated", 1000, 300, None, False, ()),
        ("eight_given_rate", 555, 150, 150, False, ("III", "C1")),
        ("twelve", 1234, 300, 300, True, ()),
        ("twelve_estimated_100", 250, 100, None, True, ("Resp",)),
        ("one_record", 1, 300, 300, False, ()),
        ("twelve_calibrated", 1234, 300, None, True, (), (2, 2), marks),
        ("twelve_calibrated_at_another_stage", 777, 150, None, True, (), (3, 2), marks),
        ("twelve_marked_uncalibrated", 999, 300, 300, True, (), None, marks),
    ]
    ok = all([check(convert, scratch, *case) for case in cases])
    print("all samples read back" if ok else "differences found")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
