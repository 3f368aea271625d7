#!/usr/bin/env python3
"""tervane-svc v3user, engine, and export/import with keys end to end: users added with their
passwords on standard input, stored as the RFC 3414 Ku of those passwords and listed without
any key; a replacement, a removal and the refusals, each leaving the file as it was; the engine
ID printed and set with the boots kept; an export without keys holds no users, one with keys is
mode 0600 and carries them into a fresh file with the engine ID, that file's boots kept; and on
a terminal, the echo is back after a signal ends the command.

    v3user_cli_test.py TERVANE_SVC TERVANE_MKDB
"""
import hashlib
import json
import os
import pty
import re
import select
import shutil
import signal
import sqlite3
import stat
import subprocess
import sys
import tempfile
import termios

SVC, MKDB = sys.argv[1], sys.argv[2]
failures = []
LATER = "; the service uses the change from its next start\n"


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def svc(*args, stdin=""):
    return subprocess.run([SVC, *args], capture_output=True, text=True, timeout=60, input=stdin)


def make_db(folder):
    os.mkdir(folder)
    subprocess.run([MKDB, os.path.join(folder, "Tervix.mdb")], check=True, capture_output=True)
    return os.path.join(folder, "Tervix.mdb")


def query(path, sql):
    db = sqlite3.connect(path)
    try:
        return db.execute(sql).fetchall()
    finally:
        db.close()


def execute(path, sql):
    db = sqlite3.connect(path)
    db.execute(sql)
    db.commit()
    db.close()


def dump(path):
    return subprocess.run(["sqlite3", path, ".dump"], check=True, capture_output=True).stdout


def ku(hash_name, password):
    """RFC 3414 A.2: the password repeated to 1,048,576 octets, hashed."""
    octets = password.encode()
    stream = (octets * (1048576 // len(octets) + 1))[:1048576]
    return hashlib.new(hash_name, stream).hexdigest()


def users(path):
    return query(path, "SELECT UserName, EngineId, AuthProtocol, AuthKey, PrivProtocol, PrivKey "
                       "FROM SnmpV3User ORDER BY rowid")


def on_terminal_a_signal_restores_the_echo(folder):
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(SVC, [SVC, "v3user", "add", "tty", "--auth", "SHA", "--folder", folder])
    seen = b""
    for _ in range(100):  # until the prompt, 10 s at most
        if b"password: " in seen:
            break
        if select.select([fd], [], [], 0.1)[0]:
            seen += os.read(fd, 1024)
    check(b"Authentication password: " in seen, f"the prompt on the terminal: {seen}")
    check(not termios.tcgetattr(fd)[3] & termios.ECHO, "no echo while a password is typed")
    os.kill(pid, signal.SIGINT)
    _, status = os.waitpid(pid, 0)
    check(os.WIFSIGNALED(status) and os.WTERMSIG(status) == signal.SIGINT,
          f"SIGINT ends the command as it would have: {status}")
    check(termios.tcgetattr(fd)[3] & termios.ECHO, "the echo is back after SIGINT")
    os.close(fd)


def main():
    work = tempfile.mkdtemp(prefix="tervane-v3user-")
    try:
        a = os.path.join(work, "a")
        db = make_db(a)

        def v3(*args, stdin=""):
            return svc("v3user", *args, "--folder", a, stdin=stdin)

        def changed(run, words):
            check(run.returncode == 0 and run.stderr == "" and run.stdout == words + LATER,
                  f"{run.args}: {run}")

        check(v3("list").stdout == f"SNMPv3 users in {db}: none\n", "no users in a new file")
        changed(v3("add", "alice", "--auth", "sha-256", "--priv", "AES",
                   stdin="alice-auth-1\r\nalice-priv-1\n"),
                f"Added the SNMPv3 user alice (any engine) to {db}")
        changed(v3("add", "bob", "--engine", "0x80007ED90501020304", "--auth", "MD5",
                   stdin="bob-auth-1\n"),
                f"Added the SNMPv3 user bob (engine 80007ed90501020304) to {db}")
        changed(v3("add", "carol"), f"Added the SNMPv3 user carol (any engine) to {db}")
        # The Ku of each password (the carriage return is not part of it), the privacy Ku with
        # the authentication hash.
        alice = ("alice", "", "SHA-256", ku("sha256", "alice-auth-1"), "AES",
                 ku("sha256", "alice-priv-1"))
        bob = ("bob", "80007ed90501020304", "MD5", ku("md5", "bob-auth-1"), "", "")
        check(users(db) == [alice, bob, ("carol", "", "", "", "", "")], f"stored: {users(db)}")

        listed = v3()
        check(listed.returncode == 0 and listed.stdout == f"SNMPv3 users in {db}\n\n"
              "User   Engine              Level         Auth     Priv\n"
              "alice  any                 authPriv      SHA-256  AES\n"
              "bob    80007ed90501020304  authNoPriv    MD5      -\n"
              "carol  any                 noAuthNoPriv  -        -\n", f"the list: {listed}")
        for secret in (alice[3], alice[5], bob[3], "alice-auth-1", "bob-auth-1"):
            check(secret not in listed.stdout + listed.stderr, "the list shows no key")

        # Refused: exit 1, one line, the file as it was; nothing asked for after a bad value.
        before = dump(db)
        refusals = [
            (("add", "alice", "--auth", "SHA", "--priv", "DES"), "alice-auth-1\nshort\n",
             "error 5: the privacy password must be at least 8 characters long"),
            (("add", "alice", "--auth", "SHA"), "",
             "error 5: standard input: the authentication password is missing (one line for "
             "each password)"),
            (("add", "alice", "--auth", "SHA1"), "", 'error 5: --auth: "SHA1" is not one of '
             "MD5, SHA, SHA-224, SHA-256, SHA-384 or SHA-512"),
            (("add", "dave", "--engine", "8000"), "", 'error 5: --engine: "8000" is not an '
             "engine ID (5 to 32 octets as hex digits, such as 80007ed90512345678abcdef01)"),
            (("remove", "bob"), "",
             f"error 3021: {db}: table SnmpV3User has no user bob (any engine)"),
        ]
        for args, stdin, words in refusals:
            run = v3(*args, stdin=stdin)
            check(run.returncode == 1 and run.stdout == "" and run.stderr == words + "\n",
                  f"v3user {args} is refused: {run}")
            check(dump(db) == before, f"a refused v3user {args} changes nothing")
        usage = v3("add", "alice", "--priv", "AES")
        check(usage.returncode == 2 and usage.stderr.startswith("usage: "), "--priv needs --auth")

        # A user of the same name and engine is replaced in place.
        changed(v3("add", "alice", "--auth", "SHA", stdin="alice-auth-2\n"),
                f"Replaced the SNMPv3 user alice (any engine) in {db}")
        alice = ("alice", "", "SHA", ku("sha1", "alice-auth-2"), "", "")
        check(users(db)[0] == alice, f"replaced: {users(db)[0]}")
        changed(v3("remove", "carol"), f"Removed the SNMPv3 user carol (any engine) from {db}")
        check(users(db) == [alice, bob], f"removed: {users(db)}")

        # The engine: printed in two lines, set with the boots kept.
        execute(db, "UPDATE SnmpEngine SET Boots = 7")
        (engine_id, boots), = query(db, "SELECT EngineId, Boots FROM SnmpEngine")
        printed = svc("engine", "--folder", a)
        check(printed.returncode == 0 and printed.stdout == f"Engine ID: {engine_id}\nBoots: 7\n",
              f"engine: {printed}")
        check(re.fullmatch(r"80007ed905[0-9a-f]{16}", engine_id), f"a new ID: {engine_id}")
        new_id = "80007ed905a1b2c3d4e5f60718"
        set_run = svc("engine", "--set", new_id.upper(), "--folder", a)
        check(set_run.returncode == 0 and set_run.stdout.startswith(
            f"Set the engine ID of {db} to {new_id} (boots 7 kept){LATER}"), f"--set: {set_run}")
        check(query(db, "SELECT EngineId, Boots FROM SnmpEngine") == [(new_id, 7)], "ID set")
        short = svc("engine", "--set", "80007e", "--folder", a)
        check(short.returncode == 1 and "is not an engine ID" in short.stderr, f"short: {short}")

        # Export: no users or engine without keys; with keys only into a file, mode 0600.
        plain = svc("export", "--folder", a)
        check(plain.returncode == 0, f"export: {plain}")
        doc = json.loads(plain.stdout)
        check("SnmpV3User" not in doc and "SnmpEngine" not in doc, "no keys without --with-keys")
        for secret in (alice[3], bob[3]):
            check(secret not in plain.stdout, "an export without keys holds none")
        to_stdout = svc("export", "--with-keys", "-", "--folder", a)
        check(to_stdout.returncode == 2 and to_stdout.stdout == "", "no keys to standard output")
        keys_file = os.path.join(work, "keys.json")
        with open(keys_file, "w") as f:
            f.write("old")
        os.chmod(keys_file, 0o644)
        old_umask = os.umask(0)
        try:
            exported = svc("export", "--with-keys", "--folder", a, keys_file)
        finally:
            os.umask(old_umask)
        check(exported.returncode == 0 and exported.stdout == "", f"export --with-keys: {exported}")
        check(stat.S_IMODE(os.stat(keys_file).st_mode) == 0o600, "the key file is mode 0600")
        with open(keys_file) as f:
            doc = json.load(f)
        check([tuple(u.values()) for u in doc.get("SnmpV3User", [])] == [alice, bob],
              f"the users with their keys: {doc.get('SnmpV3User')}")
        check(doc.get("SnmpEngine") == {"EngineId": new_id}, f"the engine: {doc.get('SnmpEngine')}")

        # Import into a fresh file: the users and the ID; that node's boots stay.
        b = os.path.join(work, "b")
        other = make_db(b)
        execute(other, "UPDATE SnmpEngine SET Boots = 3")
        imported = svc("import", "--folder", b, keys_file)
        check(imported.returncode == 0 and ", 2 SNMPv3 users and the engine ID into " in
              imported.stdout, f"import: {imported}")
        check(users(other) == [alice, bob], f"imported users: {users(other)}")
        check(query(other, "SELECT EngineId, Boots FROM SnmpEngine") == [(new_id, 3)],
              "the engine ID imported, the boots kept")
        # An export without keys leaves them as they are.
        plain_file = os.path.join(work, "plain.json")
        check(svc("export", "--folder", a, plain_file).returncode == 0, "export to a file")
        check(svc("import", "--folder", b, plain_file).returncode == 0, "import without keys")
        check(users(other) == [alice, bob], "an import without keys keeps the users")
        # A bad key is named by its place, and nothing changes.
        doc["SnmpV3User"][1]["AuthKey"] = "00"
        with open(keys_file, "w") as f:
            json.dump(doc, f)
        before = dump(other)
        bad = svc("import", "--folder", b, keys_file)
        check(bad.returncode == 1 and bad.stderr == f"error 5: {keys_file}: SnmpV3User[1].AuthKey: "
              "is not an MD5 key (16 octets as 32 hex digits)\n", f"a bad key: {bad}")
        check(dump(other) == before, "a refused import changes nothing")

        on_terminal_a_signal_restores_the_echo(a)
    finally:
        shutil.rmtree(work)
    print(f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
