#!/usr/bin/env python3
"""pellorin's --jobs and --compress side by side, on one database.

Seeds the SQL Server emulator with TABLES copies of the mixed table of export_bench.py (ROWS rows
each, ten mixed columns) in the database Bench, then exports the whole database alternately with
--jobs=1, 2 and 4 (plain files) and with --compress=gz and --compress=zst (one job), RUNS times
each, and prints the median wall time, CPU time (user + system) and peak memory of pellorin and
the emulator's CPU time per export, and the size of the files.

    bench/options_bench.py --build build-bench [--tables 8] [--rows 100000] [--runs 3]

Nothing here is a test: it asserts nothing about time.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from export_bench import DRIVER, MIXED_TABLE, timed  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build-bench")
    parser.add_argument("--tables", type=int, default=8)
    parser.add_argument("--rows", type=int, default=100000)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    pellorin = os.path.join(args.build, "src", "pellorin")
    emulator = os.path.join(args.build, "testing", "tabloxa-tdsemu")
    work = tempfile.mkdtemp(prefix="options-bench-")
    try:
        seed = os.path.join(work, "seed.sql")
        with open(seed, "w") as f:
            f.write("CREATE DATABASE Bench;\nGO\nUSE Bench;\nGO\n")
            for i in range(args.tables):
                f.write(MIXED_TABLE.format(name=f"Mixed{i}", rows=args.rows))
        with open(os.path.join(work, "odbcinst.ini"), "w") as f:
            f.write(f"[FreeTDS]\nDriver={DRIVER}\n")
        server = subprocess.Popen([emulator, "--seed", seed, "--login", "sa:pw", "--data-dir", work],
                                  stdout=subprocess.PIPE, text=True)
        port = server.stdout.readline().strip()
        env = dict(os.environ, ODBCSYSINI=work, ODBCINI=os.path.join(work, "odbc.ini"), LC_ALL="C.UTF-8")
        open(env["ODBCINI"], "w").close()
        variants = [("--jobs=1", ["--jobs=1"]), ("--jobs=2", ["--jobs=2"]), ("--jobs=4", ["--jobs=4"]),
                    ("--compress=gz", ["--compress=gz"]), ("--compress=zst", ["--compress=zst"])]
        results = {name: [] for name, _ in variants}
        sizes = {}
        for _ in range(args.runs):
            for name, extra in variants:
                dest = os.path.join(work, "out")
                shutil.rmtree(dest, ignore_errors=True)
                command = [pellorin, f"--host=127.0.0.1,{port}", "--user=sa", "--pswd=pw", "--src=Bench",
                           "--dest=" + dest, "--inc_fnames", "--silent"] + extra
                results[name].append(timed(command, env, server.pid))
                sizes[name] = sum(os.path.getsize(os.path.join(dest, n)) for n in os.listdir(dest))
        server.terminate()
        server.wait()
        print(f"{args.tables} tables of {args.rows} rows, median of {args.runs} runs")
        print(f"{'variant':16} {'wall s':>8} {'cpu s':>8} {'peak MB':>8} {'emu cpu s':>10} {'files MB':>9}")
        for name, _ in variants:
            wall, cpu, rss, emu = (statistics.median(r[i] for r in results[name]) for i in range(4))
            print(f"{name:16} {wall:8.2f} {cpu:8.2f} {rss:8.1f} {emu:10.2f} {sizes[name] / 1e6:9.1f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
