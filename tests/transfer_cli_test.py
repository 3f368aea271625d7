#!/usr/bin/env python3
"""tervane-svc export, import and check end to end: the JSON of one Tervix.mdb imported into
another gives the same JSON back, storm rules included; an export without storm rules (of an
older file) leaves the rules as they are; a refused import names the first bad value in one
line and leaves the file as it was, byte for byte; standard input and output, --folder and the
program's own folder; and all three run by an unprivileged user of the file's group, check
against a TervixSrv that the built-in service manager runs.

    transfer_cli_test.py TERVANE_SVC TERVANE_MKDB TERVIXSRV
"""
import json
import os
import shutil
import signal
import socket
import sqlite3
import stat
import subprocess
import sys
import tempfile
import time

SVC, MKDB, SRV = sys.argv[1], sys.argv[2], sys.argv[3]
NOBODY = 65534
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def as_user(gid):
    def drop():
        os.setgroups([gid])
        os.setgid(gid)
        os.setuid(NOBODY)
    return drop


def svc(*args, program=SVC, stdin=None, gid=None, env=None):
    return subprocess.run([program, *args], capture_output=True, text=True, timeout=30,
                          input=stdin, env=env, preexec_fn=as_user(gid) if gid else None)


def one_line(run):
    return run.stderr.count("\n") == 1 and run.stderr.endswith("\n")


def make_db(folder):
    os.mkdir(folder)
    subprocess.run([MKDB, os.path.join(folder, "Tervix.mdb")], check=True, capture_output=True)
    return os.path.join(folder, "Tervix.mdb")


def sql(path, *statements):
    db = sqlite3.connect(path)
    for s in statements:
        db.execute(*s) if isinstance(s, tuple) else db.execute(s)
    db.commit()
    db.close()


def dump(path):
    """The file's content as sqlite3's .dump writes it, as bytes: a text may not be UTF-8."""
    return subprocess.run(["sqlite3", path, ".dump"], check=True, capture_output=True).stdout


def add_trap(path, name, **columns):
    values = {"TrapName": name, "TrapSourceVarNo": 1, "TrapNewVarNo": 3, "TrapNewNumber": 1000}
    for i in range(1, 15):
        values.update({f"VarName{i}": f"var{i}", f"VarPos{i}": 1, f"VarChar{i}": 0,
                       f"VarType{i}": "DisplayString"})
    values.update(columns)
    names = ", ".join(values)
    sql(path, (f"INSERT INTO SnmpTrap ({names}) VALUES ({', '.join('?' * len(values))})",
               list(values.values())))


def free_udp_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def transfer(work):
    a, b = os.path.join(work, "a"), os.path.join(work, "b")
    a_db, b_db = make_db(a), make_db(b)
    add_trap(a_db, "linkDown", TrapOID="1.3.6.1.6.3.1.1.5.3", VarName1='odd "text"\n\\ \u00fc',
             VarName2=None, VarType3="")
    add_trap(a_db, "linkUp", TrapNewNumber=1100)
    # A text that is not UTF-8, as another program may have stored it.
    sql(a_db, "UPDATE SnmpTrap SET VarName4 = CAST(X'6C696E6BFF' AS TEXT) WHERE TrapName = 'linkUp'",
        "INSERT INTO ForwardTarget (Address, Port, ConvV2ToV1, Community, Enabled) "
        "VALUES ('10.0.0.10', 162, 1, 'public', 1)",
        "UPDATE RelayOption SET Value = 'replace' WHERE Name = 'AddSourceAddress'",
        "UPDATE RelayOption SET Value = '1' WHERE Name = 'StormControl'",
        "UPDATE StormRule SET PerMinute = 120, Burst = 20 WHERE OidPrefix = ''",
        "INSERT INTO StormRule VALUES ('1.3.6.1.6.3.1.1.5.3', 0, 1, 1), ('1.3.6.1.4.1.9', 600, "
        "100, 0)",
        "UPDATE General_Setting SET TrapForwIpAddr = '2001:db8::9', TrapForwPort = 1162")
    sql(b_db, "UPDATE General_Setting SET TrapRecvIpAddr = '10.9.9.9'")

    out = svc("export", "--folder", a)
    check(out.returncode == 0 and out.stderr == "", f"export: {out}")
    doc = json.loads(out.stdout)
    check(doc["format"] == "tervane-settings" and doc["version"] == 1, f"format: {doc}")
    check(doc["SnmpTrap"][1]["VarName4"] == {"hex": "6c696e6bff"}, "a text that is not UTF-8")
    check(doc["SnmpTrap"][0]["VarName2"] is None and len(doc["SnmpTrap"][0]) == 61, "61, Null")
    check("TrapRecvIpAddr" not in doc["General_Setting"], "the node's own address stays home")
    check(doc["RelayOption"] == {"AddSourceAddress": "replace", "StormControl": "1"},
          f"the options: {doc['RelayOption']}")
    check(doc["StormRule"] == [
        {"OidPrefix": "", "PerMinute": 120, "Burst": 20, "Enabled": 1},
        {"OidPrefix": "1.3.6.1.6.3.1.1.5.3", "PerMinute": 0, "Burst": 1, "Enabled": 1},
        {"OidPrefix": "1.3.6.1.4.1.9", "PerMinute": 600, "Burst": 100, "Enabled": 0}],
        f"the storm rules: {doc.get('StormRule')}")

    # FILE is replaced at once, for its owner only; a folder that is missing fails in one line.
    exported = os.path.join(work, "out", "settings.json")
    os.mkdir(os.path.dirname(exported))
    with open(exported, "w") as f:
        f.write("old")
    to_file = svc("export", "--folder", a, exported)
    check(to_file.returncode == 0 and to_file.stdout == "", f"export FILE: {to_file}")
    with open(exported) as f:
        check(f.read() == out.stdout, "FILE holds what standard output shows")
    check(stat.S_IMODE(os.stat(exported).st_mode) == 0o600, "FILE is 0600")
    check(os.listdir(os.path.dirname(exported)) == ["settings.json"], "no temporary file left")
    bad = svc("export", "--folder", a, os.path.join(work, "none", "x.json"))
    check(bad.returncode == 1 and bad.stdout == "" and one_line(bad) and
          bad.stderr.startswith("error "), f"export into a missing folder: {bad}")

    imported = svc("import", "--folder", b, exported)
    check(imported.returncode == 0 and imported.stderr == "" and imported.stdout ==
          f"Imported 2 trap definitions, 1 station, 2 options and 3 storm rules into {b_db}; the "
          "service uses them from its next start\n", f"import: {imported}")
    again = svc("export", "--folder", b)
    check(again.stdout == out.stdout, "the imported file exports as the original")
    kept = sqlite3.connect(b_db).execute("SELECT TrapRecvIpAddr FROM General_Setting").fetchone()
    check(kept == ("10.9.9.9",), f"the node's own address is kept: {kept}")

    # Refused: one line naming the first bad value, and the file exactly as it was.
    def edited(edit):
        d = json.loads(out.stdout)
        edit(d)
        return json.dumps(d)
    refusals = [
        ("not JSON", "this is not JSON", "not JSON: parse error at line 1, column 2"),
        ("a position", edited(lambda d: d["SnmpTrap"][1].update(VarPos2=0)),
         'SnmpTrap[1] "linkUp".VarPos2: 0 is not a position (1 to 32767)'),
        ("an unknown key", edited(lambda d: d["General_Setting"].update(TrapRecvStatus="x")),
         'General_Setting: unknown key "TrapRecvStatus"'),
        ("the same name", edited(lambda d: d["SnmpTrap"][1].update(TrapName="LinkDown")),
         'SnmpTrap[1].TrapName: "LinkDown" is the name of SnmpTrap[0] too'),
        ("a storm rate", edited(lambda d: d["StormRule"][2].update(PerMinute=2000000)),
         "StormRule[2].PerMinute: 2000000 is not a number of traps per minute (0 to 1000000)"),
        ("the switch", edited(lambda d: d["RelayOption"].update(StormControl="on")),
         "RelayOption StormControl: 'on' is not 0 or 1"),
    ]
    before = dump(b_db)
    for name, text, words in refusals:
        path = os.path.join(work, "refused.json")
        with open(path, "w") as f:
            f.write(text)
        run = svc("import", "--folder", b, path)
        check(run.returncode == 1 and run.stdout == "" and one_line(run) and
              run.stderr.startswith("error ") and f"{path}: {words}" in run.stderr,
              f"import refuses {name}: {run}")
        check(dump(b_db) == before, f"a refused import ({name}) changes nothing")
    from_stdin = svc("import", "--folder", b, "-", stdin=edited(lambda d: d["SnmpTrap"].pop()))
    check(from_stdin.returncode == 0 and "Imported 1 trap definition, " in from_stdin.stdout,
          f"import -: {from_stdin}")

    # An export of a file older than version 3: the storm rules stay as they are, and the
    # switch, which it does not hold, reads as off.
    rules = "SELECT * FROM StormRule ORDER BY rowid"
    sql(b_db, "DELETE FROM StormRule WHERE OidPrefix = '1.3.6.1.4.1.9'")
    kept_rules = sqlite3.connect(b_db).execute(rules).fetchall()

    def older(d):
        del d["StormRule"]
        del d["RelayOption"]["StormControl"]
    old = svc("import", "--folder", b, "-", stdin=edited(older))
    check(old.returncode == 0 and ", 1 station and 1 option into " in old.stdout,
          f"import of an older export: {old}")
    check(sqlite3.connect(b_db).execute(rules).fetchall() == kept_rules,
          "an export without storm rules leaves them")
    switch = svc("storm", "--folder", b)
    check(switch.returncode == 0 and "Storm control: off\n" in switch.stdout, f"switch: {switch}")
    usage = svc("import", "--folder", b)
    check(usage.returncode == 2 and usage.stdout == "", f"import without FILE: {usage}")

    # Without --folder: the Tervix.mdb beside the program.
    shutil.copy(SVC, os.path.join(a, "tervane-svc"))
    own = svc("export", program=os.path.join(a, "tervane-svc"))
    check(own.returncode == 0 and own.stdout == out.stdout, f"own folder: {own}")
    return a, a_db


def unprivileged(work, a, a_db, gid):
    # The program folder as an installation shares it: root's, its group's to write in.
    for path in (work, a):
        os.chown(path, 0, gid)
        os.chmod(path, 0o2770 if path == a else 0o755)
    for name in os.listdir(a):
        os.chown(os.path.join(a, name), 0, gid)
    os.chmod(a_db, 0o660)
    out = svc("export", "--folder", a, gid=gid)
    check(out.returncode == 0 and json.loads(out.stdout)["version"] == 1,
          f"export as a member of the group: {out}")

    port = free_udp_port()
    sql(a_db, f"UPDATE General_Setting SET TrapRecvIpAddr = '127.0.0.1', TrapRecvPort = {port}, "
        f"TrapForwIpAddr = '127.0.0.1', TrapForwPort = {free_udp_port()}")
    shutil.copy(SRV, os.path.join(a, "TervixSrv"))
    env = dict(os.environ, TERVANE_SERVICE_DIR=os.path.join(work, "services"))
    installed = svc("-install_noMsg", program=os.path.join(a, "TervixSrv"), env=env)
    check(installed.returncode == 0, f"install: {installed}")
    started = svc("start", "--wait", env=env)
    check(started.returncode == 0, f"start: {started}")
    healthy = svc("check", "--folder", a, env=env, gid=gid)
    check(healthy.returncode == 0 and healthy.stderr == "" and healthy.stdout.startswith(
        f"Tervane: running, listening on 127.0.0.1:{port}, "), f"check as a member: {healthy}")
    stopped = svc("stop", "--wait", env=env)
    check(stopped.returncode == 0, f"stop: {stopped}")
    down = svc("check", "--folder", a, env=env, gid=gid)
    check(down.returncode == 1 and down.stdout == "" and
          down.stderr == "Tervane: not running (STOPPED)\n", f"check after the stop: {down}")


def stop_service(work):
    """Ends a service this test left running, whatever the test's outcome."""
    try:
        with open(os.path.join(work, "services", "Tervane.pid")) as f:
            pid = int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return
    for _ in range(100):
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            return
        time.sleep(0.1)
    os.kill(pid, signal.SIGKILL)


def main():
    work = tempfile.mkdtemp(prefix="tervane-transfer-")
    try:
        a, a_db = transfer(work)
        if os.getuid() == 0:
            # A group of no name, which nobody joins for these runs only: nothing to remove.
            used = {g.gr_gid for g in __import__("grp").getgrall()}
            gid = next(g for g in range(64000, 65000) if g not in used)
            unprivileged(work, a, a_db, gid)
        else:
            print("not root: the runs as another user are skipped", file=sys.stderr)
    finally:
        stop_service(work)
        shutil.rmtree(work)
    print(f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
