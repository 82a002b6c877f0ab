#!/usr/bin/env python3
"""The shared library as a Python program uses it, through ctypes: the same
samples as vantle-tonbrel for the same input and settings, and statuses, not
crashes, for bad calls.

Usage: ctypes_test.py LIBRARY VANTLE_TONBREL VANTLE_SIGNAL"""
import ctypes
import math
import subprocess
import sys

library, tool, signal = sys.argv[1:4]
lib = ctypes.CDLL(library)
lib.vantle_tonbrel_create.restype = ctypes.c_void_p
lib.vantle_tonbrel_create.argtypes = [ctypes.c_double]
lib.vantle_tonbrel_destroy.argtypes = [ctypes.c_void_p]
lib.vantle_tonbrel_apply.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_double, ctypes.c_double]
lib.vantle_tonbrel_process.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int]
lib.vantle_tonbrel_latency.argtypes = [ctypes.c_void_p]
lib.vantle_tonbrel_version.restype = ctypes.c_char_p
lib.vantle_tonbrel_status_text.restype = ctypes.c_char_p

MODES = {"podcast": 0, "stream": 1, "limiter": 2}
failures = []

for mode, adapt, gain, rate, channels in [
    ("podcast", 0, None, 48000, 2),
    ("stream", 75, 4.0, 44100, 2),
    ("limiter", 100, None, 48000, 1),
]:
    name = f"{mode}/{adapt} {rate} Hz x{channels}"
    source = subprocess.run([signal, "programme", str(rate), str(channels), "5"],
                            check=True, capture_output=True).stdout
    args = [tool, "--mode", mode, "--adapt", str(adapt), "--rate", str(rate), "--channels", str(channels)]
    if gain is not None:
        args += ["--input-db", str(gain)]
    expected = subprocess.run(args, input=source, check=True, capture_output=True).stdout

    handle = lib.vantle_tonbrel_create(float(rate))
    assert handle, name
    default_gain = lib.vantle_tonbrel_default_input_db  # mode's own gain when none is given
    default_gain.restype = ctypes.c_double
    status = lib.vantle_tonbrel_apply(handle, MODES[mode], float(adapt),
                                      default_gain(MODES[mode]) if gain is None else gain)
    assert status == 0, (name, status)
    buffer = (ctypes.c_float * (len(source) // 4)).from_buffer_copy(source)
    frames = len(buffer) // channels
    done, step = 0, 1
    while done < frames:  # buffers of every size from 1 frame up
        n = min(step, frames - done)
        offset = ctypes.addressof(buffer) + done * channels * 4
        assert lib.vantle_tonbrel_process(handle, offset, n, channels) == 0, name
        done += n
        step = step * 3 + 1
    if bytes(buffer) != expected:
        failures.append(f"{name}: the library's samples differ from vantle-tonbrel's")
    print(f"{name}: {len(expected)} bytes, latency {lib.vantle_tonbrel_latency(handle)} frames")
    lib.vantle_tonbrel_destroy(handle)

# Bad calls answer with a status.
handle = lib.vantle_tonbrel_create(48000.0)
checks = [
    ("create at 0 Hz", lib.vantle_tonbrel_create(0.0), None),
    ("create at NaN Hz", lib.vantle_tonbrel_create(math.nan), None),
    ("apply NaN adapt", lib.vantle_tonbrel_apply(handle, 1, math.nan, 0.0), -2),
    ("apply mode 7", lib.vantle_tonbrel_apply(handle, 7, 0.0, 0.0), -2),
    ("process no buffer", lib.vantle_tonbrel_process(handle, None, 10, 2), -1),
    ("process 6 channels", lib.vantle_tonbrel_process(handle, None, 10, 6), -2),
    ("process no handle", lib.vantle_tonbrel_process(None, None, 10, 2), -1),
    ("latency no handle", lib.vantle_tonbrel_latency(None), -1),
]
for what, got, want in checks:
    if got != want:
        failures.append(f"{what}: {got}, expected {want}")
lib.vantle_tonbrel_destroy(handle)
print("version", lib.vantle_tonbrel_version().decode(), "-", lib.vantle_tonbrel_status_text(-2).decode())

for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
