#!/usr/bin/env python3
"""Whole-database exports as a server at a distance sees them, side by side with freebcp.

Two scenarios, each on an emulator of its own:

  many-tables   200 small tables (20 rows of five columns each), the emulator answering every
                request after --latency-ms (2 by default, as a nearby network adds). pellorin
                exports the whole database in one run; freebcp, which takes one table a run, is
                called once a table from a shell loop. The requests each tool sends are counted
                in the emulator's --verbose log.
  wide-schema   one table of 100 nvarchar(max) columns and one of 40, 1,000 rows of short values
                each: the memory a tool needs for a wide schema of small values.

Each tool runs RUNS times in turn; the best (least) wall time, CPU time (user + system), peak
resident memory and, from one more run under strace -c -f, the count of system calls are printed.
--before PATH adds a second pellorin (an earlier build) to the same runs, and checks that both
write the same bytes.

    bench/scenario_bench.py --build build-bench [--before OLD/pellorin] [--scenarios many-tables,wide-schema]

Nothing here is a test: it asserts nothing about time.
"""
import argparse
import filecmp
import os
import re
import shutil
import subprocess
import sys
import tempfile

TIME = "/usr/bin/time"
DRIVER = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so"
TABLES = 200


def many_tables_seed():
    parts = ["CREATE DATABASE Many;\nGO\nUSE Many;\nGO\n"]
    for t in range(1, TABLES + 1):
        parts.append(f"CREATE TABLE dbo.T{t:03d} (id int NOT NULL PRIMARY KEY, name nvarchar(40) NULL, "
                     f"amount decimal(12,2) NULL, stamp datetime2 NULL, flag bit NULL);\nGO\n"
                     f"INSERT INTO dbo.T{t:03d} SELECT x, printf(N'name %d of table {t}', x), x * 1.25, "
                     f"printf('2024-01-%02d 10:00:00', 1 + x % 28), x % 2 FROM (WITH RECURSIVE n(x) AS "
                     f"(SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 20) SELECT x FROM n);\nGO\n")
    return "".join(parts)


def wide_seed():
    parts = ["CREATE DATABASE Wide;\nGO\nUSE Wide;\nGO\n"]
    for name, count in (("Wide100", 100), ("Wide40", 40)):
        columns = ", ".join(f"c{i} nvarchar(max) NULL" for i in range(count))
        values = ", ".join(f"printf(N'v%d-{i}', x)" for i in range(count))
        parts.append(f"CREATE TABLE dbo.{name} (id int NOT NULL PRIMARY KEY, {columns});\nGO\n"
                     f"INSERT INTO dbo.{name} SELECT x, {values} FROM (WITH RECURSIVE n(x) AS "
                     f"(SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 1000) SELECT x FROM n);\nGO\n")
    return "".join(parts)


def measure(command, env, cwd):
    """Wall s, CPU s and peak MB of one run under /usr/bin/time."""
    report = tempfile.NamedTemporaryFile(prefix="time-", delete=False)
    report.close()
    result = subprocess.run([TIME, "-o", report.name, "-f", "%e %U %S %M"] + command, env=env, cwd=cwd,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    with open(report.name) as f:
        last = f.read().strip().splitlines()[-1]
    os.unlink(report.name)
    if result.returncode != 0:
        sys.exit(f"{command} failed ({result.returncode}):\n{result.stderr}")
    wall, user, system, rss_kb = last.split()
    return float(wall), float(user) + float(system), int(rss_kb) / 1024


def syscalls(command, env, cwd):
    """System calls of one run, children included."""
    out = tempfile.NamedTemporaryFile(prefix="strace-", delete=False)
    out.close()
    subprocess.run(["strace", "-c", "-f", "-o", out.name] + command, env=env, cwd=cwd,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    with open(out.name) as f:
        text = f.read()
    os.unlink(out.name)
    total = [line for line in text.splitlines() if line.strip().endswith("total")]
    fields = total[-1].split() if total else []
    # % time, seconds, usecs/call, calls, errors?, "total"
    return int(fields[3]) if len(fields) >= 5 else -1


class emulator:
    def __init__(self, build, work, seed, extra):
        self.log = open(os.path.join(work, "emulator.log"), "w+")
        with open(os.path.join(work, "seed.sql"), "w", encoding="utf-8") as f:
            f.write(seed)
        self.process = subprocess.Popen(
            [os.path.join(build, "testing", "tabloxa-tdsemu"), "--seed", os.path.join(work, "seed.sql"),
             "--exit-on-stdin-eof", "--verbose"] + extra,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log, text=True)
        self.port = self.process.stdout.readline().strip()
        if not self.port:
            sys.exit("the emulator did not start")

    def requests(self):
        """The number of the last request the emulator logged."""
        self.log.flush()
        with open(self.log.name) as f:
            numbers = re.findall(r" request (\d+) ", f.read())
        return int(numbers[-1]) if numbers else 0

    def stop(self):
        self.process.stdin.close()
        self.process.terminate()
        self.process.wait()
        self.log.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build-bench", help="build folder with pellorin and the emulator")
    parser.add_argument("--pellorin", help="the pellorin to measure (default: BUILD/src/pellorin)")
    parser.add_argument("--before", help="an earlier pellorin to measure beside it")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--latency-ms", type=int, default=2)
    parser.add_argument("--scenarios", default="many-tables,wide-schema")
    args = parser.parse_args()

    pellorins = {"pellorin": os.path.abspath(args.pellorin or os.path.join(args.build, "src", "pellorin"))}
    if args.before:
        pellorins = {"before": os.path.abspath(args.before), "after": pellorins["pellorin"]}
    work = tempfile.mkdtemp(prefix="tabloxa-scenario-")
    with open(os.path.join(work, "odbcinst.ini"), "w") as f:
        f.write(f"[FreeTDS]\nDescription=FreeTDS\nDriver={DRIVER}\n")
    open(os.path.join(work, "odbc.ini"), "w").close()
    print(f"{'scenario':<12} {'tool':<9} {'wall s':>8} {'cpu s':>8} {'peak MB':>8} {'syscalls':>9} {'requests':>9}")
    try:
        for scenario in args.scenarios.split(","):
            database, seed, extra = {
                "many-tables": ("Many", many_tables_seed(), ["--latency-ms", str(args.latency_ms)]),
                "wide-schema": ("Wide", wide_seed(), []),
            }[scenario]
            server = emulator(args.build, work, seed, extra)
            try:
                with open(os.path.join(work, "freetds.conf"), "w") as f:
                    f.write(f"[bench]\n\thost = 127.0.0.1\n\tport = {server.port}\n\ttds version = 7.4\n"
                            "\tclient charset = UTF-8\n\tencryption = off\n")
                env = dict(os.environ, ODBCSYSINI=work, ODBCINI=os.path.join(work, "odbc.ini"),
                           FREETDSCONF=os.path.join(work, "freetds.conf"))
                tables = [f"T{t:03d}" for t in range(1, TABLES + 1)] if database == "Many" else ["Wide100", "Wide40"]
                bcp_dir = os.path.join(work, "bcp")
                os.makedirs(bcp_dir, exist_ok=True)
                loop = " ; ".join(f"freebcp dbo.{t} out {t}.bcp -c -t ';' -S bench -U sa -P Tabloxa-1 -D {database}"
                                  f" -T 2147483647 >/dev/null" for t in tables)
                tools = {name: ([path, f"--host=127.0.0.1,{server.port}", "--user=sa", "--pswd=Tabloxa-1",
                                 f"--src={database}", f"--dest={os.path.join(work, name)}", "--n_delim=1",
                                 "--inc_fnames"], work) for name, path in pellorins.items()}
                tools["freebcp"] = (["sh", "-c", loop], bcp_dir)
                best = {}
                for _ in range(args.runs):
                    for tool, (command, cwd) in tools.items():
                        if tool != "freebcp":
                            shutil.rmtree(os.path.join(work, tool), ignore_errors=True)
                        before = server.requests()
                        sample = measure(command, env, cwd) + (server.requests() - before,)
                        old = best.get(tool)
                        best[tool] = sample if old is None else tuple(
                            min(a, b) if i < 3 else b for i, (a, b) in enumerate(zip(old, sample)))
                for tool, (command, cwd) in tools.items():
                    if tool != "freebcp":
                        shutil.rmtree(os.path.join(work, tool), ignore_errors=True)
                    calls = syscalls(command, env, cwd)
                    wall, cpu, peak, requests = best[tool]
                    print(f"{scenario:<12} {tool:<9} {wall:8.2f} {cpu:8.2f} {peak:8.1f} {calls:9d}"
                          f" {requests:9d} ({requests / len(tables):.2f} a table)", flush=True)
                if "before" in tools:
                    same = filecmp.dircmp(os.path.join(work, "before"), os.path.join(work, "after"))
                    differ = same.diff_files + same.left_only + same.right_only
                    files = sorted(os.listdir(os.path.join(work, "after")))
                    mismatched = [n for n in files if not filecmp.cmp(os.path.join(work, "before", n),
                                                                      os.path.join(work, "after", n), shallow=False)]
                    print(f"{scenario:<12} files: {len(files)}, differing from before: {len(differ) + len(mismatched)}")
            finally:
                server.stop()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
