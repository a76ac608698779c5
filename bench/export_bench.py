#!/usr/bin/env python3
"""Export throughput and memory of pellorin against FreeTDS's freebcp, side by side.

Starts the SQL Server emulator with three tables (Mixed: ROWS rows of ten mixed columns, a tenth of
each nullable column NULL; Mixed100k: the same with 100,000 rows; Big: one row holding a 50 MB
varbinary(max) and a 50 MB nvarchar(max)), exports each table alternately with pellorin (semicolon)
and with freebcp in character mode, RUNS times each, and prints the median wall time, CPU time
(user + system) and peak resident memory of each tool and the ratio pellorin / freebcp. The
emulator's own CPU time per export is printed too: when it comes near the wall time, the server,
not the client, sets the pace.

    bench/export_bench.py --build build-bench [--rows 1000000] [--runs 5] [--pellorin PATH]

Nothing here is a test: it asserts nothing about time.
"""
import argparse
import filecmp
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TIME = "/usr/bin/time"
DRIVER = "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so"

MIXED_TABLE = """
CREATE TABLE dbo.{name} (
    id int NOT NULL PRIMARY KEY,
    big bigint NULL,
    name nvarchar(50) NULL,
    note varchar(100) NULL,
    amount decimal(18,4) NULL,
    price money NULL,
    ratio float NULL,
    stamp datetime2 NULL,
    flag bit NULL,
    guid uniqueidentifier NULL
);
GO
INSERT INTO dbo.{name} (id, big, name, note, amount, price, ratio, stamp, flag, guid)
SELECT x,
    CASE WHEN x % 10 = 1 THEN NULL ELSE x * 1000003 END,
    CASE WHEN x % 10 = 2 THEN NULL ELSE printf(N'Grüße №%d — Ζήτα ✓', x) END,
    CASE WHEN x % 10 = 3 THEN NULL ELSE printf('Row %d; "quoted", plain ASCII filler text', x) END,
    CASE WHEN x % 10 = 4 THEN NULL ELSE printf('%d.%04d', (x * 7919) % 100000000 - 50000000, x % 10000) END,
    CASE WHEN x % 10 = 5 THEN NULL ELSE printf('%d.%04d', x % 1000000, (x * 13) % 10000) END,
    CASE WHEN x % 10 = 6 THEN NULL ELSE x / 7.0 END,
    CASE WHEN x % 10 = 7 THEN NULL ELSE printf('%04d-%02d-%02d %02d:%02d:%02d.%07d', 2000 + x % 25,
        1 + x % 12, 1 + x % 28, x % 24, x % 60, (x * 7) % 60, (x * 4099) % 10000000) END,
    CASE WHEN x % 10 = 8 THEN NULL ELSE x % 2 END,
    CASE WHEN x % 10 = 9 THEN NULL ELSE printf('%08X-%04X-%04X-%04X-%012X', x, x % 65536, (x * 3) % 65536,
        (x * 7) % 65536, (x * 2654435761) % 281474976710656) END
FROM (WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < {rows}) SELECT x FROM n);
GO
"""

# 50 MB of bytes, and 26,214,400 characters (50 MB as UTF-16 on the wire, 65.5 MB as UTF-8).
BIG_TABLE = """
CREATE TABLE dbo.Big (id int NOT NULL PRIMARY KEY, data varbinary(max) NULL, body nvarchar(max) NULL);
GO
INSERT INTO dbo.Big SELECT 1, randomblob(52428800), replace(hex(zeroblob(13107200)), '00', N'é€');
GO
"""


def seed_text(rows):
    return ("CREATE DATABASE Bench;\nGO\nUSE Bench;\nGO\n" + MIXED_TABLE.format(name="Mixed", rows=rows) +
            MIXED_TABLE.format(name="Mixed100k", rows=100000) + BIG_TABLE)


def cpu_seconds(pid):
    """User + system time of a running process, from /proc."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def timed(command, env, emulator_pid):
    """Runs command under /usr/bin/time; returns wall s, cpu s, peak rss MB, emulator cpu s."""
    report = tempfile.NamedTemporaryFile(prefix="time-", delete=False)
    report.close()
    before = cpu_seconds(emulator_pid)
    result = subprocess.run([TIME, "-o", report.name, "-f", "%e %U %S %M"] + command, env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    emulator_cpu = cpu_seconds(emulator_pid) - before
    with open(report.name) as f:
        last = f.read().strip().splitlines()[-1]
    os.unlink(report.name)
    if result.returncode != 0:
        sys.exit(f"{command[0]} failed ({result.returncode}):\n{result.stderr}")
    wall, user, system, rss_kb = last.split()
    return float(wall), float(user) + float(system), int(rss_kb) / 1024, emulator_cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build-bench", help="build folder with pellorin and the emulator")
    parser.add_argument("--pellorin", help="the pellorin to measure (default: BUILD/src/pellorin)")
    parser.add_argument("--before", help="an earlier pellorin to measure in the same runs; its files are compared")
    parser.add_argument("--best", action="store_true", help="the best run of each tool instead of the median")
    parser.add_argument("--rows", type=int, default=1000000)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--tables", default="Mixed,Mixed100k,Big")
    parser.add_argument("--keep", action="store_true", help="keep the work folder (exports, seed)")
    args = parser.parse_args()

    emulator = os.path.join(args.build, "testing", "tabloxa-tdsemu")
    pellorin = os.path.abspath(args.pellorin or os.path.join(args.build, "src", "pellorin"))
    for program in (emulator, pellorin, shutil.which("freebcp"), TIME):
        if not program or not os.access(program, os.X_OK):
            sys.exit(f"missing program: {program} (freebcp is in Debian's freetds-bin)")

    work = tempfile.mkdtemp(prefix="tabloxa-bench-")
    with open(os.path.join(work, "seed.sql"), "w", encoding="utf-8") as f:
        f.write(seed_text(args.rows))
    # pellorin finds the driver through its own odbcinst.ini; freebcp through its own freetds.conf.
    with open(os.path.join(work, "odbcinst.ini"), "w") as f:
        f.write(f"[FreeTDS]\nDescription=FreeTDS\nDriver={DRIVER}\n")
    open(os.path.join(work, "odbc.ini"), "w").close()

    print(f"seeding the emulator ({args.rows} rows) ...", flush=True)
    started = time.monotonic()
    server = subprocess.Popen([emulator, "--seed", os.path.join(work, "seed.sql"), "--exit-on-stdin-eof"],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        port = server.stdout.readline().strip()
        if not port:
            sys.exit("the emulator did not start")
        print(f"seeded in {time.monotonic() - started:.1f} s; port {port}", flush=True)
        with open(os.path.join(work, "freetds.conf"), "w") as f:
            f.write(f"[bench]\n\thost = 127.0.0.1\n\tport = {port}\n\ttds version = 7.4\n"
                    "\tclient charset = UTF-8\n\tencryption = off\n")
        env = dict(os.environ, ODBCSYSINI=work, ODBCINI=os.path.join(work, "odbc.ini"),
                   FREETDSCONF=os.path.join(work, "freetds.conf"))

        print(f"\n{'table':<10} {'tool':<9} {'wall s':>8} {'cpu s':>8} {'us/row':>8} {'peak MB':>8}"
              f" {'server cpu s':>12} {'output MB':>10}")
        for table in args.tables.split(","):
            rows = {"Mixed": args.rows, "Mixed100k": 100000, "Big": 1}[table]
            with open(os.path.join(work, "tables.txt"), "w") as f:
                f.write(table + "\n")
            out_dir = os.path.join(work, "out")
            bcp_file = os.path.join(work, f"{table}.bcp")
            def pellorin_run(program, dest):
                return [program, f"--host=127.0.0.1,{port}", "--user=sa", "--pswd=Tabloxa-1", "--src=Bench",
                        f"--dest={dest}", f"--tab_file={os.path.join(work, 'tables.txt')}", "--n_delim=1",
                        "--inc_fnames"]
            before_dir = os.path.join(work, "out-before")
            tools = {
                "pellorin": pellorin_run(pellorin, out_dir),
                # -T: the longest text or image value read whole (freebcp's default is 4096 bytes).
                "freebcp": ["freebcp", f"dbo.{table}", "out", bcp_file, "-c", "-t", ";", "-S", "bench", "-U", "sa",
                            "-P", "Tabloxa-1", "-D", "Bench", "-T", "2147483647"],
            }
            if args.before:
                tools["before"] = pellorin_run(os.path.abspath(args.before), before_dir)
            samples = {tool: [] for tool in tools}
            for _ in range(args.runs):
                for tool, command in tools.items():
                    if tool != "freebcp":
                        shutil.rmtree(out_dir if tool == "pellorin" else before_dir, ignore_errors=True)
                    samples[tool].append(timed(command, env, server.pid))
            sizes = {"pellorin": sum(os.path.getsize(os.path.join(out_dir, n)) for n in os.listdir(out_dir)),
                     "freebcp": os.path.getsize(bcp_file)}
            if args.before:
                sizes["before"] = sum(os.path.getsize(os.path.join(before_dir, n)) for n in os.listdir(before_dir))
            medians = {}
            for tool, runs in samples.items():
                m = [(min if args.best else statistics.median)(column) for column in zip(*runs)]
                medians[tool] = m
                print(f"{table:<10} {tool:<9} {m[0]:8.2f} {m[1]:8.2f} {m[1] / rows * 1e6:8.2f} {m[2]:8.1f}"
                      f" {m[3]:12.2f} {sizes[tool] / 1e6:10.1f}", flush=True)
            if args.before:
                same = all(filecmp.cmp(os.path.join(out_dir, n), os.path.join(before_dir, n), shallow=False)
                           for n in os.listdir(out_dir))
                print(f"{table:<10} files the same as before's: {same}")
            p, f = medians["pellorin"], medians["freebcp"]
            print(f"{table:<10} {'ratio':<9} {p[0] / f[0]:8.2f} {p[1] / max(f[1], 1e-9):8.2f} {'':>8}"
                  f" {p[2] / f[2]:8.2f}\n", flush=True)
    finally:
        server.stdin.close()
        server.terminate()
        server.wait()
        if args.keep:
            print(f"work folder: {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
