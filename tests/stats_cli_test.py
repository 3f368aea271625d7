#!/usr/bin/env python3
"""tervane-svc stats end to end: the counters of a Tervix.mdb that the test fills, as a table
and as Prometheus text that python3-prometheus-client's parser reads back; a file without
counters, an old file left as it is, a newer one refused, --output, and the program folder.

    stats_cli_test.py TERVANE_SVC TERVANE_MKDB
"""
import calendar
import os
import re
import shutil
import sqlite3
import stat
import subprocess
import sys
import tempfile
import time

from prometheus_client.parser import text_string_to_metric_families

SVC, MKDB = sys.argv[1], sys.argv[2]
SINCE, WRITTEN = "2026-12-08T22:51:48Z", "2026-12-08T22:52:08Z"
# Name, Label, Value: the service's names, and a later counter with a label to escape.
ROWS = [
    ("datagrams_received", "", 9),
    ("informs_answered", "", 2),
    ("traps_dropped", "malformed_datagram", 3),
    ("traps_dropped", "other", 0),
    ("station_traps_sent", "127.0.0.1:1162", 6),
    ("station_traps_sent", "127.0.0.1:2162", 5),
    ("station_send_failures", "127.0.0.1:2162", 1),
    ("station_traps_sent", "[2001:db8::1]:162", 4),
    ("traps_held_back", "default", 7),
    ("traps_held_back", "1.3.6.1.4.1.9", 4512),
    ("future_counter", 'odd "label" \\ here', 1 << 40)  # past 32 bits, exact as a float,
]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def svc(*args, program=SVC):
    return subprocess.run([program, *args], capture_output=True, text=True, timeout=30)


def make_db(folder):
    subprocess.run([MKDB, os.path.join(folder, "Tervix.mdb")], check=True, capture_output=True)
    return os.path.join(folder, "Tervix.mdb")


def sql(path, *statements):
    db = sqlite3.connect(path)
    for s in statements:
        if isinstance(s, tuple):
            db.execute(*s)
        else:
            db.execute(s)
    db.commit()
    db.close()


def seconds(stamp):
    return calendar.timegm(time.strptime(stamp, "%Y-%m-%dT%H:%M:%SZ"))


def check_prometheus(text):
    families = list(text_string_to_metric_families(text))
    names = [f.name for f in families]
    check(len(names) == len(set(names)), f"each metric once, together: {names}")
    by_name = {f.name: f for f in families}
    for f in families:
        check(f.name.startswith("tervane_"), f"{f.name} has the tervane_ prefix")
        check(f.type in ("counter", "gauge"), f"{f.name} has a TYPE line: {f.type}")
        check(f.documentation != "", f"{f.name} has a HELP line")
    held = by_name.get("tervane_traps_held_back")
    check(held is not None and held.documentation == "Traps held back by storm control, by rule.",
          f"traps_held_back's HELP: {held}")
    label_of = {"traps_dropped": "reason", "station_traps_sent": "station",
                "station_send_failures": "station", "traps_held_back": "rule",
                "future_counter": "label"}
    for name, label, value in ROWS:
        family = by_name.get("tervane_" + name)  # the parser takes _total off a counter's name
        check(family is not None and family.type == "counter", f"{name} is a counter")
        if family is None:
            continue
        want = {label_of[name]: label} if label else {}
        found = [s for s in family.samples
                 if s.name == f"tervane_{name}_total" and s.labels == want]
        check(len(found) == 1 and found[0].value == value,
              f"{name} {want} = {value}: {family.samples}")
    for gauge, stamp in (("tervane_start_time_seconds", SINCE),
                         ("tervane_statistics_written_time_seconds", WRITTEN)):
        family = by_name.get(gauge)
        check(family is not None and family.type == "gauge" and
              [s.value for s in family.samples] == [seconds(stamp)], f"{gauge} = {stamp}")


def main():
    work = tempfile.mkdtemp(prefix="tervane-stats-")
    try:
        folder = os.path.join(work, "prog")
        os.mkdir(folder)
        db = make_db(folder)

        # Nothing written yet: said clearly, exit 0, and no sample.
        for args in (["stats"], ["stats", "--prometheus"]):
            run = svc(*args, "--folder", folder)
            check(run.returncode == 0 and "No counters yet" in run.stderr and db in run.stderr,
                  f"{args} before any write: {run}")
            check(not list(text_string_to_metric_families(run.stdout)),
                  f"{args} prints no metric before any write: {run.stdout!r}")

        sql(db, *[("INSERT INTO RelayStatistics (Name, Label, Value, Since, Written) "
                   "VALUES (?, ?, ?, ?, ?)", (n, l, v, SINCE, WRITTEN)) for n, l, v in ROWS])

        prom = svc("stats", "--prometheus", "--folder", folder)
        check(prom.returncode == 0 and prom.stderr == "", f"stats --prometheus: {prom}")
        check_prometheus(prom.stdout)

        table = svc("stats", "--folder", folder)
        check(table.returncode == 0, f"stats: {table}")
        lines = table.stdout.splitlines()
        check(f"Since:    {SINCE} (the service's start)" in lines and
              f"Written:  {WRITTEN}" in lines, f"the table's stamps: {lines[:4]}")
        for name, label, value in ROWS:
            check(any(l.split()[:1] == [name] and l.endswith(f" {value}") and
                      (label or "-") in l for l in lines), f"the table shows {name} {label}")

        # --output replaces the file at once with what stdout shows, readable by node_exporter.
        out = os.path.join(work, "node-exporter", "tervane.prom")
        os.mkdir(os.path.dirname(out))
        with open(out, "w") as f:
            f.write("old")
        written = svc("stats", "--prometheus", "--output", out, "--folder", folder)
        check(written.returncode == 0 and written.stdout == "", f"--output: {written}")
        with open(out) as f:
            check(f.read() == prom.stdout, "--output writes the text stdout shows")
        check(stat.S_IMODE(os.stat(out).st_mode) == 0o644, "--output's file is 0644")
        check(os.listdir(os.path.dirname(out)) == ["tervane.prom"], "no temporary file left")
        bad = svc("stats", "--prometheus", "--output", os.path.join(work, "none", "t.prom"),
                  "--folder", folder)
        check(bad.returncode == 1 and bad.stderr.startswith("error "), f"unwritable: {bad}")

        # Without --folder: the Tervix.mdb beside the program.
        shutil.copy(SVC, os.path.join(folder, "tervane-svc"))
        own = svc("stats", program=os.path.join(folder, "tervane-svc"))
        check(own.returncode == 0 and own.stdout == table.stdout, f"own folder: {own}")

        # A file of schema version 0 is read as it is, not upgraded: it has no counters.
        sql(db, "DROP TABLE RelayStatistics", "DROP TABLE ForwardTarget", "DROP TABLE RelayOption", "DROP TABLE StormRule",
            "PRAGMA user_version = 0")
        old = svc("stats", "--folder", folder)
        check(old.returncode == 0 and "No counters yet" in old.stderr and
              "schema version 0" in old.stderr, f"version 0: {old}")
        version = sqlite3.connect(db).execute("PRAGMA user_version").fetchone()[0]
        check(version == 0, f"stats left version 0 as it was, not {version}")

        # A newer file is refused, naming both versions.
        sql(db, "PRAGMA user_version = 9")
        new = svc("stats", "--prometheus", "--folder", folder)
        check(new.returncode == 1 and
              re.search(r"schema version 9; this program reads versions 0 to \d", new.stderr),
              f"version 9: {new}")
    finally:
        shutil.rmtree(work)
    print(f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
