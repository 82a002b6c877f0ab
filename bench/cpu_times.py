#!/usr/bin/env python3
"""CPU time of whole vantle-tonbrel processes, two programs taking turns.

Used by bench/compare.sh:
  cpu_times.py --input FILE --seconds S --rate HZ --runs N --modes M,M --adapts A,A
               [--wine] [--startup] LABEL=PROGRAM LABEL=PROGRAM

For every mode and adapt, runs `PROGRAM --mode M --rate HZ --adapt A < FILE
> /dev/null` N times for each program in the order A B A B ..., so a drift of
the machine's speed reaches both alike. The CPU time is user + sys of the
process and its children from wait4 (microseconds; GNU time would round to
hundredths). With --wine each program runs as `wine PROGRAM`, in the Wine
settings of the caller's environment. Prints the realtime factor (audio
seconds per CPU second) from the smallest and from the median CPU time, and
the ratio second / first; --startup adds the CPU time of `PROGRAM --version`.
Each program runs once untimed before the first figure.
"""
import argparse
import os
import signal
import statistics
import sys
import time

TIMEOUT_SECONDS = 900


def cpu_seconds(argv, stdin_path):
    """Runs argv with stdin from stdin_path and stdout to /dev/null; returns
    user + sys CPU seconds, or exits with the program's error."""
    actions = [
        (os.POSIX_SPAWN_OPEN, 0, stdin_path, os.O_RDONLY, 0),
        (os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
    ]
    pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=actions)

    def too_long(_signum, _frame):
        os.kill(pid, signal.SIGKILL)

    signal.signal(signal.SIGALRM, too_long)
    signal.alarm(TIMEOUT_SECONDS)
    _, status, usage = os.wait4(pid, 0)
    signal.alarm(0)
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"cpu_times: {' '.join(argv)} exited with {code}")
    return usage.ru_utime + usage.ru_stime


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--input", required=True)
    parser.add_argument("--seconds", type=float, required=True)
    parser.add_argument("--rate", type=int, default=48000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--modes", default="podcast,stream,limiter")
    parser.add_argument("--adapts", default="0,50,100")
    parser.add_argument("--wine", action="store_true")
    parser.add_argument("--startup", action="store_true")
    parser.add_argument("programs", nargs=2, metavar="LABEL=PROGRAM")
    args = parser.parse_args()

    labels, commands = [], []
    for item in args.programs:
        label, _, program = item.partition("=")
        labels.append(label)
        commands.append((["wine"] if args.wine else []) + [program])
    modes = args.modes.split(",")
    adapts = args.adapts.split(",")
    started = time.monotonic()

    # One untimed run of each first: the first processes after Wine's server
    # starts run slower while it settles (a quarter slower here), which would
    # be charged to the first mode alone.
    for which in (0, 1):
        cpu_seconds(commands[which] + ["--mode", modes[0], "--rate", str(args.rate), "--adapt",
                                       adapts[0]], args.input)

    heads = "".join(f"{label[:18]:>18}  " for label in labels)
    print(f"{'':14}  {heads}{'ratio':>15}")
    print(f"{'mode':8} {'adapt':>5}  " + f"{'best':>8}  {'median':>8}  " * 2 +
          f"{'best':>6}  {'median':>7}")
    for mode in modes:
        for adapt in adapts:
            times = [[], []]
            for _ in range(args.runs):
                for which in (0, 1):
                    argv = commands[which] + ["--mode", mode, "--rate", str(args.rate),
                                              "--adapt", adapt]
                    times[which].append(cpu_seconds(argv, args.input))
            best = [args.seconds / min(t) for t in times]
            median = [args.seconds / statistics.median(t) for t in times]
            print(f"{mode:8} {adapt:>5}  " +
                  "".join(f"{best[i]:8.1f}  {median[i]:8.1f}  " for i in (0, 1)) +
                  f"{best[1] / best[0]:6.2f}  {median[1] / median[0]:7.2f}", flush=True)

    if args.startup:
        startup = [[], []]
        for _ in range(max(args.runs, 3)):
            for which in (0, 1):
                startup[which].append(cpu_seconds(commands[which] + ["--version"], os.devnull))
        print("start-up, CPU of `--version` (median of %d): %s" % (
            len(startup[0]),
            ", ".join(f"{labels[i]} {1000 * statistics.median(startup[i]):.1f} ms"
                      for i in (0, 1))))
    print(f"({time.monotonic() - started:.0f} s)")


if __name__ == "__main__":
    main()
