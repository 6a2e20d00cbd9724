#!/usr/bin/env python3
"""Times commands in interleaved rounds: each round runs every command once, back to back, in an
order that turns from round to round, so that the load of a shared machine weighs on all of them
alike and a ratio can be taken within each round.

    bench/interleaved.py RUNS WARMUP MODE JSON NAME=INPUT:OUTPUT:ERRORS:COMMAND [...]

MODE is "fresh" (the output file is removed before each run, untimed) or "over" (each run writes
over the last run's output, and the truncation of that file is timed, as in `cmd > out`).
COMMAND is split at spaces and run without a shell. JSON gets, for each command, its wall-clock
times, user and system times in seconds, in round order. Each round also starts `true`, and the
median of its times, what starting a command costs here (under a millisecond), is taken off
every wall-clock time.
"""
import json
import os
import statistics
import subprocess
import sys
import time


def run(setup, mode):
    """Runs one command with its redirections; returns wall, user and system seconds."""
    input_path, output_path, errors_path, command = setup
    if mode == "fresh" and os.path.exists(output_path):
        os.remove(output_path)
    with open(input_path, "rb") as stdin, open(errors_path, "wb") as stderr:
        start = time.perf_counter()
        with open(output_path, "wb") as stdout:  # truncates an old output inside the timing
            child = subprocess.Popen(command.split(" "), stdin=stdin, stdout=stdout, stderr=stderr)
            _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
    if status != 0:
        sys.exit(f"interleaved.py: {command} exited with status {status}")
    return wall, usage.ru_utime, usage.ru_stime


def main():
    runs, warmup, mode, json_path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
    if mode not in ("fresh", "over"):
        sys.exit("interleaved.py: MODE is fresh or over")
    commands = []
    for argument in sys.argv[5:]:
        name, setup = argument.split("=", 1)
        commands.append((name, setup.split(":", 3)))
    results = {name: {"command": name, "times": [], "user": [], "system": []} for name, _ in commands}
    starts = []
    for round_number in range(warmup + runs):
        turn = round_number % len(commands)
        for name, setup in commands[turn:] + commands[:turn]:
            wall, user, system = run(setup, mode)
            if round_number >= warmup:
                results[name]["times"].append(wall)
                results[name]["user"].append(user)
                results[name]["system"].append(system)
        starts.append(run(("/dev/null", "/dev/null", "/dev/null", "true"), "over")[0])
    start = statistics.median(starts)
    for result in results.values():
        result["times"] = [max(wall - start, 1e-6) for wall in result["times"]]
    with open(json_path, "w") as f:
        json.dump({"results": list(results.values())}, f, indent=1)


if __name__ == "__main__":
    main()
