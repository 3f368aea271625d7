#!/usr/bin/env python3
"""tervane-svc storm end to end: the list of a new Tervix.mdb, the switch, rules added, changed
and removed, each change saying when it takes effect; refusals in the rules' words, in one line,
with the file as it was; the 31st rule by prefix; usage errors; and an older file listed as it
is, then upgraded by a change.

    storm_cli_test.py TERVANE_SVC TERVANE_MKDB
"""
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile

SVC, MKDB = sys.argv[1], sys.argv[2]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def svc(*args):
    return subprocess.run([SVC, *args], capture_output=True, text=True, timeout=30)


def dump(path):
    return subprocess.run(["sqlite3", path, ".dump"], check=True, capture_output=True).stdout


def rules(path):
    db = sqlite3.connect(path)
    rows = db.execute("SELECT OidPrefix, PerMinute, Burst, Enabled FROM StormRule ORDER BY rowid")
    return rows.fetchall()


def main():
    work = tempfile.mkdtemp(prefix="tervane-storm-")
    try:
        folder = os.path.join(work, "prog")
        os.mkdir(folder)
        db = os.path.join(folder, "Tervix.mdb")
        subprocess.run([MKDB, db], check=True, capture_output=True)
        later = "; the service uses the change from its next start\n"

        def storm(*args):
            return svc("storm", *args, "--folder", folder)

        def changed(args, words):
            run = storm(*args)
            check(run.returncode == 0 and run.stderr == "" and run.stdout == words + later,
                  f"storm {args}: {run}")

        listed = storm()
        check(listed.returncode == 0 and listed.stderr == "" and listed.stdout ==
              f"Storm rules in {db}\nStorm control: off\n\n"
              "OidPrefix  PerMinute  Burst  Enabled\n"
              "default           30     10  on\n", f"storm on a new file: {listed}")
        check(storm("list").stdout == listed.stdout, "storm list is storm")

        # Each change: exit 0, one line naming the file and when it takes effect.
        changes = [
            (("on",), f"Switched storm control on in {db}"),
            (("set", "1.3.6.1.4.1.9", "600", "100"),
             f"Added storm rule 1.3.6.1.4.1.9 (600 a minute, burst 100, on) to {db}"),
            (("set", "1.3.6.1.4.1.9", "60", "5", "--off"),
             f"Changed storm rule 1.3.6.1.4.1.9 (60 a minute, burst 5, off) in {db}"),
            (("set", "default", "0", "1"), f"Changed storm rule default (0 a minute, burst 1, on) in {db}"),
            (("set", "1.3.6.1.6.3.1.1.5.3", "1000000", "100000"),
             f"Added storm rule 1.3.6.1.6.3.1.1.5.3 (1000000 a minute, burst 100000, on) to {db}"),
        ]
        for args, words in changes:
            changed(args, words)
        check(rules(db) == [("", 0, 1, 1), ("1.3.6.1.4.1.9", 60, 5, 0),
                            ("1.3.6.1.6.3.1.1.5.3", 1000000, 100000, 1)], f"rules: {rules(db)}")
        listed = storm()
        check(listed.stdout == f"Storm rules in {db}\nStorm control: on\n\n"
              "OidPrefix            PerMinute   Burst  Enabled\n"
              "default                      0       1  on\n"
              "1.3.6.1.4.1.9               60       5  off\n"
              "1.3.6.1.6.3.1.1.5.3    1000000  100000  on\n", f"the list: {listed.stdout}")

        # Refused: exit 1, one line in the rules' words, and the file exactly as it was.
        refusals = [
            (("set", "1.3.6.", "60", "5"), 'error 5: StormRule 1.3.6., OidPrefix: "1.3.6." is '
             "not an OID prefix (1 to 128 numbers separated by dots, such as 1.3.6.1.4.1.9)"),
            (("set", "1.3.6", "1000001", "5"), "error 5: StormRule 1.3.6, PerMinute: 1000001 is "
             "not a number of traps per minute (0 to 1000000)"),
            (("set", "default", "30", "0"),
             "error 5: StormRule default, Burst: 0 is not a burst of traps (1 to 100000)"),
            (("remove", "1.3.6.1.4.1.99"),
             f"error 3021: {db}: table StormRule has no rule for 1.3.6.1.4.1.99"),
            (("remove", "default"), "error 5: StormRule default: the default rule stays; switch "
             "it off with tervane-svc storm set default PER_MINUTE BURST --off"),
        ]
        before = dump(db)
        for args, words in refusals:
            run = storm(*args)
            check(run.returncode == 1 and run.stdout == "" and run.stderr == words + "\n",
                  f"storm {args} is refused: {run}")
            check(dump(db) == before, f"a refused storm {args} changes nothing")

        changed(("remove", "1.3.6.1.4.1.9"), f"Removed storm rule 1.3.6.1.4.1.9 from {db}")
        changed(("off",), f"Switched storm control off in {db}")
        check(sqlite3.connect(db).execute("SELECT Value FROM RelayOption WHERE Name = "
                                          "'StormControl'").fetchone() == ("0",), "stored off")

        # 30 rules by prefix at most; the 31st is refused, the 30 stay.
        for i in range(29):
            check(storm("set", f"1.3.6.1.4.1.{i}", "30", "10").returncode == 0, f"rule {i}")
        full = storm("set", "1.3.6.1.4.1.99", "30", "10")
        check(full.returncode == 1 and full.stderr == f"error 6: {db}: there are 30 storm rules "
              "by prefix already; at most 30 are possible\n", f"the 31st rule: {full}")
        check(len(rules(db)) == 31, f"30 rules by prefix and the default: {len(rules(db))}")

        # Usage errors: exit 2, the usage on standard error.
        for args in (("show",), ("set", "1.3.6", "30"), ("on", "--off"), ("remove",),
                     ("set", "1.3.6", "-1", "10"), ("list", "--wait")):
            run = storm(*args)
            check(run.returncode == 2 and run.stdout == "" and
                  run.stderr.startswith("usage: tervane-svc"), f"storm {args}: {run}")

        # A file of version 2 is listed as it is, not upgraded; a change upgrades it.
        sql = sqlite3.connect(db)
        sql.executescript("DROP TABLE StormRule; DROP TABLE SnmpV3User; DROP TABLE SnmpEngine; "
                          "DELETE FROM RelayOption WHERE Name = "
                          "'StormControl'; PRAGMA user_version = 2;")
        sql.close()
        old = storm()
        check(old.returncode == 0 and old.stdout == f"Storm rules in {db}\nStorm control: off "
              "(its schema version 2 has no storm rules; the service upgrades the file when it "
              "next starts)\n\nOidPrefix  PerMinute  Burst  Enabled\n"
              "default            -      -  off\n", f"version 2: {old}")
        version = "PRAGMA user_version"
        check(sqlite3.connect(db).execute(version).fetchone()[0] == 2, "list left version 2")
        on = storm("on")
        check(on.returncode == 0 and sqlite3.connect(db).execute(version).fetchone()[0] >= 3 and
              rules(db) == [("", 30, 10, 1)], f"storm on upgrades the file: {on}")
    finally:
        shutil.rmtree(work)
    print(f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
