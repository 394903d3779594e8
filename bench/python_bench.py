#!/usr/bin/env python3
"""The Python module's costs: fetch() against the same fetch made in C++ in the same process, and
read_csv on a generated recording of about 400 MB (seconds, peak memory).

    PYTHONPATH=build/python python3 bench/python_bench.py --cli build/tools/cli/ormelix-cli
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

import ormelix


def fetch_ratio(batch, batches):
    """fetch() from Python against the same fetch in C++, in alternating batches so that the
    machine's load falls on both alike: the ratio of the fastest batches (the least disturbed)
    and of the totals."""
    python, cpp = [], []
    with ormelix.Instrument(demo=True) as scope:
        for _ in range(1000):
            scope.fetch()
        for _ in range(batches):
            start = time.perf_counter()
            for _ in range(batch):
                scope.fetch()
            python.append((time.perf_counter() - start) / batch)
            cpp.append(scope._time_fetches(batch) / batch)
    return min(python), min(cpp), sum(python) / sum(cpp)


def make_recording(cli, path, megabytes):
    """ormelix-cli's own rows of the demo, repeated with the counters renumbered."""
    seed = path + ".seed"
    subprocess.run([cli, "record", "--demo", "--period", "10", "--count", "500", "-o", seed],
                   check=True, capture_output=True)
    with open(seed, "rb") as f:
        header = f.readline()
        rows = [line.split(b",", 2) for line in f]
    os.remove(seed)
    counter = 0
    with open(path, "wb") as out:
        out.write(header)
        while out.tell() < megabytes * 1024 * 1024:
            block = []
            for time_field, _, rest in rows:
                counter += 1
                block.append(b"%s,%d,%s" % (time_field, counter, rest))
            out.write(b"".join(block))
    return counter


def status_kib(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise KeyError(field)


def read_csv_child(path):
    """Runs in a process of its own, so that its peak memory is read_csv's alone."""
    import numpy  # noqa: F401  (its import is part of the baseline, not of read_csv)
    before = status_kib("VmRSS")
    start = time.perf_counter()
    recording = ormelix.read_csv(path)
    seconds = time.perf_counter() - start
    peak = status_kib("VmHWM")  # this process's own peak (getrusage's survives the exec)
    columns = sum(a.nbytes for a in recording.columns.values())
    print(f"{len(recording)} {seconds:.3f} {before} {peak} {columns}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", help="ormelix-cli, to make the recording")
    parser.add_argument("--batch", type=int, default=200)
    parser.add_argument("--batches", type=int, default=300)
    parser.add_argument("--megabytes", type=int, default=400)
    parser.add_argument("--read-csv-child")
    args = parser.parse_args()
    if args.read_csv_child:
        return read_csv_child(args.read_csv_child)

    python, cpp, totals = fetch_ratio(args.batch, args.batches)
    print(f"fetch(), demo instrument, fastest of {args.batches} batches of {args.batch}: Python "
          f"{python * 1e6:.2f} us, C++ {cpp * 1e6:.2f} us, ratio {python / cpp:.3f} "
          f"(all batches: {totals:.3f}); goal <= 1.2")
    if not args.cli:
        return
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "day.csv")
        rows = make_recording(args.cli, path, args.megabytes)
        size = os.path.getsize(path)
        for run in range(3):
            out = subprocess.run([sys.executable, __file__, "--read-csv-child", path],
                                 check=True, capture_output=True, text=True).stdout.split()
            n, seconds, before, peak, columns = int(out[0]), float(out[1]), *map(int, out[2:])
            assert n == rows
            print(f"read_csv, {size / 1e6:.0f} MB, {n} rows (run {run + 1}): {seconds:.2f} s, "
                  f"peak RSS {peak / 1024:.0f} MiB ({before / 1024:.0f} MiB before; columns "
                  f"{columns / 2**20:.0f} MiB)")


if __name__ == "__main__":
    main()
