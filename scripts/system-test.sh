#!/usr/bin/env bash
# The system test: boots a minimal Debian 12 with systemd as its init in a container
# (systemd-nspawn, no network of its own) and checks the installed package there as an
# administrator would use it: the unit, the account, the sandbox, traps and informs relayed to
# net-snmp's snmptrapd, the group's rights, the failure exits, and remove and purge.
#
#   scripts/system-test.sh [DEBDIR]   (default build-deb/, built with scripts/package.sh when
#                                      it holds no tervane package)
#
# Needs root and systemd-nspawn (scripts/install-deps.sh --system-test). The container's root
# file system is built with mmdebstrap and kept in /var/cache/tervane-system-test (set
# TERVANE_SYSTEM_TEST_CACHE to move it) for later runs; a change of its package list builds it
# anew. Each run works on a copy, which is removed at the end with the container's control
# groups and /run/systemd/nspawn, however the run ends. For the run, the host's
# fs.protected_regular is set to 2, Debian 12's own setting, which a container cannot set for
# itself; it is put back afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
debdir=$(realpath -m "${1:-build-deb}")
cache=${TERVANE_SYSTEM_TEST_CACHE:-/var/cache/tervane-system-test}
started=$(date +%s)

say() { printf '%s\n' "$*"; }
die() { say "system-test: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || die "needs root (it boots a container)"
scripts/install-deps.sh --system-test
command -v systemd-nspawn >/dev/null || die "systemd-nspawn is missing"

arch=$(dpkg --print-architecture)
deb=$(ls "$debdir"/tervane_*_"$arch".deb 2>/dev/null | head -1 || true)
if [ -z "$deb" ]; then
  scripts/package.sh "$debdir"
  deb=$(ls "$debdir"/tervane_*_"$arch".deb | head -1)
fi

# The root file system: the base, the peers, and what the package depends on (the first of
# each alternative, without versions).
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/[[:space:]]//g' |
  grep -v '^$' | sort -u | tr '\n' ' ')
packages="systemd systemd-sysv dbus polkitd snmp snmptrapd sqlite3 iproute2 procps $depends"
packages=$(printf '%s\n' $packages | sort -u | tr '\n' ',' | sed 's/,$//')
key=$(printf 'bookworm minbase %s' "$packages" | sha256sum | cut -c1-16)
tarball="$cache/root-$key.tar"
if [ ! -s "$tarball" ]; then
  say "== building the container's root file system ($packages)"
  mkdir -p "$cache"
  rm -f "$cache"/root-*.tar "$cache"/*.partial
  t0=$(date +%s)
  mmdebstrap --quiet --variant=minbase --format=tar --include="$packages" bookworm \
    "$tarball.partial" \
    </dev/null || die "mmdebstrap could not build the root file system"
  mv "$tarball.partial" "$tarball"
  say "   built in $(($(date +%s) - t0)) s: $(du -h "$tarball" | cut -f1)"
fi

work=$(mktemp -d /var/tmp/tervane-system-test.XXXXXX)
root="$work/root"
machine="tervane-st-$$"
nspawn_pid=""
old_protected=$(cat /proc/sys/fs/protected_regular)

cgroup_dirs() {
  for top in /sys/fs/cgroup/unified /sys/fs/cgroup/systemd /sys/fs/cgroup; do
    for d in payload supervisor; do [ -d "$top/$d" ] && printf '%s\n' "$top/$d"; done
  done
  return 0
}

cleanup() {
  local status=$?
  set +e
  if [ -n "$nspawn_pid" ] && kill -0 "$nspawn_pid" 2>/dev/null; then
    [ -n "${pid1:-}" ] && timeout 20 nsenter -t "$pid1" -a systemctl poweroff >/dev/null 2>&1
    for _ in $(seq 60); do kill -0 "$nspawn_pid" 2>/dev/null || break; sleep 0.5; done
    kill -KILL "$nspawn_pid" 2>/dev/null
    wait "$nspawn_pid" 2>/dev/null
  fi
  # The container's control groups, deepest first, and nspawn's run-time folder.
  for dir in $(cgroup_dirs); do
    find "$dir" -depth -type d -exec rmdir {} \; 2>/dev/null
  done
  rm -rf /run/systemd/nspawn
  rm -rf "$work"
  echo "$old_protected" >/proc/sys/fs/protected_regular
  local left=""
  [ -e "$work" ] && left+=" $work"
  [ -e /run/systemd/nspawn ] && left+=" /run/systemd/nspawn"
  for dir in $(cgroup_dirs); do left+=" $dir"; done
  if [ -n "$left" ]; then
    say "system-test: could not remove:$left" >&2
    [ "$status" -eq 0 ] && status=1
  fi
  say "== system test: $(($(date +%s) - started)) s"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say "== preparing the container"
mkdir "$root"
tar -C "$root" -xf "$tarball"
# The station listens on a port of its own; nothing of net-snmp may take port 162.
for unit in snmptrapd.socket snmptrapd.service snmpd.service; do
  ln -sf /dev/null "$root/etc/systemd/system/$unit"
done
echo tervane-test >"$root/etc/hostname"
mkdir -p "$root/root/debs"
cp "$deb" "$root/root/debs/"
echo 2 >/proc/sys/fs/protected_regular

say "== booting it"
SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1 setsid systemd-nspawn -D "$root" --boot --register=no \
  --keep-unit --private-network -M "$machine" --console=pipe </dev/null >"$work/boot.log" 2>&1 &
nspawn_pid=$!
pid1=""
for _ in $(seq 100); do
  pid1=$(pgrep -P "$nspawn_pid" -x systemd | head -1 || true)
  [ -n "$pid1" ] && break
  kill -0 "$nspawn_pid" 2>/dev/null || break
  sleep 0.2
done
[ -n "$pid1" ] || { cat "$work/boot.log" >&2; die "the container did not start"; }

# A command inside the container, bounded in time.
inside() { timeout 120 nsenter -t "$pid1" -a -- "$@"; }
# Until its systemd answers at all, is-system-running cannot wait: ask again, for two minutes
# at most.
state=""
for _ in $(seq 120); do
  state=$(inside systemctl is-system-running --wait 2>&1 || true)
  case $state in running | degraded | maintenance | stopping) break ;; esac
  sleep 1
done
[ "$state" = running ] || {
  inside systemctl --failed --no-pager >&2 || true
  die "the container's systemd did not reach running (it says: $state)"
}

failures=0
pass() { say "ok - $1"; }
fail() {
  say "FAIL - $1"
  failures=$((failures + 1))
}
# check NAME WHAT-A-USER-WOULD-SEE COMMAND...: the command's failure is the check's.
check() {
  local name=$1 seen=$2
  shift 2
  if "$@" >"$work/out" 2>&1; then
    pass "$name"
  else
    fail "$name: $seen"
    sed 's/^/    | /' "$work/out" | tail -15
  fi
}
# Runs a shell script inside the container, tracing its commands: the last one traced is the
# one that failed.
sh_in() { inside sh -exc "$1"; }

say "== checks"
check "fs.protected_regular is 2 in the container, as on Debian 12" \
  "the sticky folder's protection is not in force, so the layout is not tested" \
  sh_in '[ "$(cat /proc/sys/fs/protected_regular)" = 2 ]'

check "the package installs" "apt install ./tervane_*.deb fails" \
  sh_in 'cd /root/debs && apt-get install -y -q ./tervane_*.deb >/root/install.log 2>&1 ||
         { cat /root/install.log; exit 1; }
         grep -q "systemctl enable --now Tervane" /root/install.log'
check "the unit is present, neither enabled nor active, and is tervane-svc unit's text" \
  "systemctl cat Tervane shows no unit, or it is enabled or started at install" \
  sh_in 'systemctl cat Tervane.service >/dev/null
         [ "$(systemctl is-enabled Tervane.service)" = disabled ]
         ! systemctl is-active -q Tervane.service
         tervane-svc unit | cmp - /lib/systemd/system/Tervane.service'
# --man=no: the minimal container has no man command to look the units' Documentation= up with.
check "tervane-stats.timer is enabled, idle without node_exporter's folder, and verifies" \
  "systemd-analyze verify finds fault with the counters' units, or the timer runs for nothing" \
  sh_in 'systemctl is-enabled -q tervane-stats.timer
         ! systemctl is-active -q tervane-stats.timer
         systemd-analyze verify --man=no tervane-stats.timer tervane-stats.service'
check "the account, the program folder 3775 root:tervane, the programs root's 0755" \
  "ls -l /opt/tervane shows another layout" \
  sh_in 'getent passwd tervane >/dev/null && getent group tervane >/dev/null
         [ "$(stat -c %a:%U:%G /opt/tervane)" = 3775:root:tervane ]
         for p in TervixSrv tervane-svc; do
           [ "$(stat -c %a:%U /opt/tervane/$p)" = 755:root ]
         done
         [ "$(stat -c %a:%U:%G /opt/tervane/Tervix.mdb)" = 660:root:tervane ]
         [ "$(readlink -f /usr/sbin/TervixSrv)" = /opt/tervane/TervixSrv ]
         [ -e /usr/share/man/man8/TervixSrv.8.gz ]'

inside useradd -m -G tervane alice
inside useradd -m bob
check "a member of tervane sets the addresses and stores a definition; others may not read" \
  "runuser -u alice -- sqlite3 /opt/tervane/Tervix.mdb fails for a member of the group" \
  sh_in "runuser -u alice -- sqlite3 /opt/tervane/Tervix.mdb \"
           UPDATE General_Setting SET DebugMode = 1, TrapRecvIpAddr = '0.0.0.0',
             TrapRecvPort = 162, TrapForwIpAddr = '127.0.0.1', TrapForwPort = 1162;
           INSERT INTO SnmpTrap (TrapName, TrapOID, TrapSourceVarNo, TrapNewVarNo,
             TrapNewNumber, VarName1, VarPos1, VarChar1, VarType1, VarName2, VarPos2,
             VarChar2, VarType2)
           VALUES ('linkDown', '1.3.6.1.6.3.1.1.5.3', 2, 2, 1000, 'portName', 1, 4,
             'DisplayString', 'portNumber', 6, 3, 'Integer32');\"
         ! runuser -u bob -- sqlite3 /opt/tervane/Tervix.mdb 'SELECT 1 FROM SnmpTrap' 2>/dev/null"
check "the member cannot replace or remove the programs" \
  "a member of tervane could replace TervixSrv" \
  sh_in 'cd /opt/tervane
         ! runuser -u alice -- mv TervixSrv TervixSrv.old 2>/dev/null
         ! runuser -u alice -- rm -f tervane-svc 2>/dev/null
         ! runuser -u alice -- sh -c "echo x > TervixSrv" 2>/dev/null
         [ -x TervixSrv ] && [ -x tervane-svc ]'

# The management station: snmptrapd on port 1162, writing what it receives.
sh_in 'mkdir -p /root/station && echo "disableAuthorization yes" >/root/station/snmptrapd.conf'
inside systemd-run --unit=station --quiet -E MIBS= -E SNMPCONFPATH=/root/station \
  -E SNMP_PERSISTENT_DIR=/root/station snmptrapd -f -C -c /root/station/snmptrapd.conf -On -n \
  -Lf /root/station/traps.txt udp:127.0.0.1:1162
check "systemctl enable --now Tervane makes it active" "systemctl status Tervane: not active" \
  sh_in 'systemctl enable --now Tervane.service && systemctl is-active -q Tervane.service'
check "it listens on UDP 162 as tervane, with CAP_NET_BIND_SERVICE its only capability" \
  "ss -uln shows no 0.0.0.0:162, or TervixSrv runs as another user or with more rights" \
  sh_in 'pid=$(systemctl show -P MainPID Tervane.service)
         [ "$(ps -o user= -p "$pid")" = tervane ]
         for cap in CapPrm CapEff CapBnd CapAmb; do
           grep -q "^$cap:[[:space:]]*0000000000000400$" /proc/$pid/status
         done
         ss -Hlun "sport = :162" | grep -q "0.0.0.0:162"
         [ "$(systemctl show -P StatusText Tervane.service)" = "Listening on 0.0.0.0:162" ]'
check "a trap and an inform reach the station wrapped, and the inform is answered" \
  "snmpinform times out, or snmptrapd receives nothing under 1.3.6.1.4.1.32473.1.100" \
  sh_in 'export MIBS=
         snmptrap -v 2c -c public 127.0.0.1:162 987 1.3.6.1.6.3.1.1.5.3 \
           1.3.6.1.2.1.2.2.1.1.7 i 7 1.3.6.1.2.1.2.2.1.2.7 s "PORT 042 DOWN"
         snmpinform -v 2c -c public -r 2 -t 3 127.0.0.1:162 988 1.3.6.1.6.3.1.1.5.3 \
           1.3.6.1.2.1.2.2.1.1.8 i 8 1.3.6.1.2.1.2.2.1.2.8 s "PORT 043 DOWN"
         for i in $(seq 50); do
           [ "$(grep -c "1.3.6.1.4.1.32473.1.100.2.0.1000" /root/station/traps.txt)" -ge 2 ] \
             && break
           sleep 0.2
         done
         grep -q "\"PORT\".*= INTEGER: 42" /root/station/traps.txt
         grep -q "\"PORT\".*= INTEGER: 43" /root/station/traps.txt'
check "on :: it listens on both families: a trap to [::1] and an inform to 127.0.0.1 arrive" \
  "ss -uln shows no [::]:162, or the station misses the IPv6 trap or the IPv4 inform" \
  sh_in 'export MIBS=
         sqlite3 /opt/tervane/Tervix.mdb "UPDATE General_Setting SET TrapRecvIpAddr = '"'::'"'"
         systemctl restart Tervane.service
         for i in $(seq 50); do
           [ "$(systemctl show -P StatusText Tervane.service)" = "Listening on [::]:162" ] && break
           sleep 0.2
         done
         [ "$(systemctl show -P StatusText Tervane.service)" = "Listening on [::]:162" ]
         ss -Hlun "sport = :162" | grep -q "\[::\]:162\|\*:162"
         snmptrap -v 2c -c public udp6:[::1]:162 989 1.3.6.1.6.3.1.1.5.3 \
           1.3.6.1.2.1.2.2.1.1.9 i 9 1.3.6.1.2.1.2.2.1.2.9 s "PORT 044 DOWN"
         snmpinform -v 2c -c public -r 2 -t 3 127.0.0.1:162 990 1.3.6.1.6.3.1.1.5.3 \
           1.3.6.1.2.1.2.2.1.1.10 i 10 1.3.6.1.2.1.2.2.1.2.10 s "PORT 045 DOWN"
         for i in $(seq 50); do
           [ "$(grep -c "1.3.6.1.4.1.32473.1.100.2.0.1000" /root/station/traps.txt)" -ge 4 ] \
             && break
           sleep 0.2
         done
         grep -q "\"PORT\".*= INTEGER: 44" /root/station/traps.txt
         grep -q "\"PORT\".*= INTEGER: 45" /root/station/traps.txt
         sqlite3 /opt/tervane/Tervix.mdb "UPDATE General_Setting SET TrapRecvIpAddr = '"'0.0.0.0'"'"
         systemctl restart Tervane.service'
check "an SNMPv3 authPriv trap and inform of a user that tervane-svc added arrive wrapped" \
  "tervane-svc v3user add fails, or the station misses the SNMPv3 trap or the inform" \
  sh_in 'export MIBS= SNMPCONFPATH=/root/v3 SNMP_PERSISTENT_DIR=/root/v3
         mkdir -p /root/v3
         printf "%s\n%s\n" authpass01 privpass01 |
           tervane-svc v3user add router --auth SHA-256 --priv AES
         tervane-svc v3user list | grep -q "^router "
         systemctl restart Tervane.service
         for i in $(seq 50); do
           [ "$(systemctl show -P StatusText Tervane.service)" = "Listening on 0.0.0.0:162" ] && break
           sleep 0.2
         done
         v3="-v 3 -u router -l authPriv -a SHA-256 -A authpass01 -x AES -X privpass01"
         snmptrap $v3 -e 0x80001f888001020304 127.0.0.1:162 991 1.3.6.1.6.3.1.1.5.3 \
           1.3.6.1.2.1.2.2.1.1.11 i 11 1.3.6.1.2.1.2.2.1.2.11 s "PORT 046 DOWN"
         snmpinform $v3 -r 2 -t 3 127.0.0.1:162 992 1.3.6.1.6.3.1.1.5.3 \
           1.3.6.1.2.1.2.2.1.1.12 i 12 1.3.6.1.2.1.2.2.1.2.12 s "PORT 047 DOWN"
         for i in $(seq 50); do
           [ "$(grep -c "1.3.6.1.4.1.32473.1.100.2.0.1000" /root/station/traps.txt)" -ge 6 ] \
             && break
           sleep 0.2
         done
         grep -q "\"PORT\".*= INTEGER: 46" /root/station/traps.txt
         grep -q "\"PORT\".*= INTEGER: 47" /root/station/traps.txt'
check "the journal has information 101" "journalctl -u Tervane shows no start event" \
  sh_in 'journalctl -u Tervane.service --no-pager | grep -q "information 101"'
check "systemd-analyze security Tervane rates at most 2.0" "the sandbox is weaker than documented" \
  sh_in 'level=$(systemd-analyze security --no-pager Tervane.service |
           sed -n "s/.*Overall exposure level for Tervane.service: \([0-9.]*\).*/\1/p")
         echo "exposure $level"
         awk -v l="$level" "BEGIN { exit !(l != \"\" && l <= 2.0) }"'
check "TervixSrv -uninstall and tervane-svc delete leave dpkg's unit, naming apt remove" \
  "the package's unit file was deleted by hand" \
  sh_in 'systemctl stop Tervane.service
         ! TervixSrv -uninstall >/root/uninstall.txt 2>&1
         ! tervane-svc delete >>/root/uninstall.txt 2>&1
         ! TervixSrv -install >>/root/uninstall.txt 2>&1
         grep -q "apt remove tervane" /root/uninstall.txt
         grep -q "\[1073\]" /root/uninstall.txt
         [ -e /lib/systemd/system/Tervane.service ]
         systemctl is-enabled -q Tervane.service'
check "a member starts and stops it with systemctl and tervane-svc; stop writes Not Started" \
  "a member of tervane gets Access denied" \
  sh_in 'runuser -u alice -- systemctl start Tervane.service
         runuser -u alice -- systemctl stop Tervane.service
         runuser -u alice -- tervane-svc start --wait
         runuser -u alice -- tervane-svc stop --wait
         [ "$(runuser -u alice -- sqlite3 /opt/tervane/Tervix.mdb "SELECT TrapRecvStatus FROM General_Setting")" \
           = "Not Started" ]'
check "tervane-stats.service writes the counters for node_exporter, and the service still starts" \
  "tervane.prom is missing or holds no counters, or the run left Tervix.mdb-shm to root" \
  sh_in 'install -d -o nobody -g nogroup -m 0755 /var/lib/prometheus/node-exporter
         systemctl start tervane-stats.service
         prom=/var/lib/prometheus/node-exporter/tervane.prom
         cat "$prom"
         grep -q "^tervane_datagrams_received_total [0-9]" "$prom"
         grep -q "^tervane_statistics_written_time_seconds [0-9]" "$prom"
         [ "$(stat -c %a:%U "$prom")" = 644:root ]
         for f in /opt/tervane/Tervix.mdb-shm /opt/tervane/Tervix.mdb-wal; do
           [ ! -e "$f" ] || [ "$(stat -c %G "$f")" = tervane ]
         done
         runuser -u alice -- tervane-svc start --wait
         runuser -u alice -- tervane-svc stop --wait'
check "a user outside the group is refused" "a non-member could start or stop the service" \
  sh_in '! runuser -u bob -- systemctl start Tervane.service 2>/dev/null
         runuser -u bob -- tervane-svc start 2>&1 | grep -q "^error 5:"
         ! systemctl is-active -q Tervane.service'
check "seven stop/start cycles within a minute all succeed" \
  "a start is refused after earlier successful starts (start-limit-hit)" \
  sh_in 'runuser -u alice -- tervane-svc start --wait >/dev/null
         for i in 1 2 3 4 5 6 7; do
           runuser -u alice -- tervane-svc stop --wait >/dev/null
           runuser -u alice -- tervane-svc start --wait >/dev/null || { echo "cycle $i"; exit 1; }
         done
         systemctl is-active -q Tervane.service'

check "a receive address not on this machine yet is bound, and systemctl status says so" \
  "systemctl status says it listens plainly on an address that no interface has" \
  sh_in "systemctl stop Tervane.service
         runuser -u alice -- sqlite3 /opt/tervane/Tervix.mdb \
           \"UPDATE General_Setting SET TrapRecvIpAddr = '192.0.2.1'\"
         systemctl reset-failed Tervane.service
         systemctl start Tervane.service
         [ \"\$(systemctl show -P StatusText Tervane.service)\" = \
           'Listening on 192.0.2.1:162 (the address is not on this machine yet)' ]
         systemctl stop Tervane.service"
check "forwarding to its own receive endpoint ends with status 4 and no restart" \
  "the service is restarted over and over with a configuration that cannot work" \
  sh_in "runuser -u alice -- sqlite3 /opt/tervane/Tervix.mdb \
           \"UPDATE General_Setting SET TrapRecvIpAddr = '0.0.0.0', TrapForwPort = 162\"
         systemctl reset-failed Tervane.service
         ! systemctl start Tervane.service 2>/dev/null
         sleep 7
         [ \"\$(systemctl show -P ExecMainStatus Tervane.service)\" = 4 ]
         [ \"\$(systemctl show -P NRestarts Tervane.service)\" = 0 ]
         ! systemctl is-active -q Tervane.service
         runuser -u alice -- sqlite3 /opt/tervane/Tervix.mdb \
           'UPDATE General_Setting SET TrapForwPort = 1162'"
check "a missing Tervix.mdb is restarted, then given up after five tries in a minute" \
  "the service is not restarted, or restarted without end" \
  sh_in 'mv /opt/tervane/Tervix.mdb /root/Tervix.mdb.saved
         systemctl reset-failed Tervane.service
         ! systemctl start Tervane.service 2>/dev/null
         for i in $(seq 90); do
           [ "$(systemctl show -P ActiveState Tervane.service)" = failed ] && break
           sleep 1
         done
         systemctl show -p Result -p NRestarts -p ExecMainStatus -p ActiveState Tervane.service
         [ "$(systemctl show -P ActiveState Tervane.service)" = failed ]
         [ "$(systemctl show -P ExecMainStatus Tervane.service)" = 1 ]
         [ "$(systemctl show -P NRestarts Tervane.service)" -ge 4 ]
         sleep 7
         [ "$(systemctl show -P ActiveState Tervane.service)" = failed ]'
# Put back whatever the check above found.
sh_in '[ -e /root/Tervix.mdb.saved ] && mv /root/Tervix.mdb.saved /opt/tervane/Tervix.mdb' \
  >/dev/null 2>&1 || true
check "a member's start after the service was given up resets and starts it" \
  "tervane-svc start is refused after systemd gave up the service" \
  sh_in 'runuser -u alice -- tervane-svc start --wait'

check "reinstalling (an upgrade to the same version) keeps the settings and the service" \
  "apt install --reinstall fails, or resets Tervix.mdb" \
  sh_in 'cd /root/debs
         systemctl is-active -q Tervane.service
         apt-get install -y -q --reinstall ./tervane_*.deb >/dev/null 2>&1
         [ "$(runuser -u alice -- sqlite3 /opt/tervane/Tervix.mdb "SELECT TrapName FROM SnmpTrap")" = linkDown ]
         systemctl is-active -q Tervane.service ||
           { journalctl -u Tervane.service --no-pager -n 12; exit 1; }
         systemctl is-enabled -q Tervane.service'
check "apt remove, twice, stops and disables it and keeps the settings" \
  "the service still runs or starts at boot after apt remove, or the settings are gone" \
  sh_in 'apt-get remove -y -q tervane >/dev/null 2>&1
         apt-get remove -y -q tervane >/dev/null 2>&1
         ! systemctl is-active -q Tervane.service
         [ ! -e /etc/systemd/system/multi-user.target.wants/Tervane.service ]
         [ ! -e /opt/tervane/TervixSrv ] && [ ! -e /usr/sbin/TervixSrv ]
         [ ! -e /var/lib/prometheus/node-exporter/tervane.prom ]
         [ "$(runuser -u alice -- sqlite3 /opt/tervane/Tervix.mdb "SELECT TrapName FROM SnmpTrap")" = linkDown ]'
check "installing again finds the settings as they were" "the reinstall reset the settings" \
  sh_in 'cd /root/debs
         apt-get install -y -q ./tervane_*.deb >/dev/null 2>&1
         [ "$(runuser -u alice -- sqlite3 /opt/tervane/Tervix.mdb "SELECT TrapName FROM SnmpTrap")" = linkDown ]
         ! systemctl is-enabled -q Tervane.service'
check "apt purge (then dpkg --purge again) removes the folder's files and keeps the account" \
  "files are left in /opt/tervane, or the account is gone" \
  sh_in 'apt-get purge -y -q tervane >/dev/null 2>&1
         dpkg --purge tervane >/dev/null 2>&1
         ls -la /opt/tervane 2>/dev/null || true
         [ ! -e /opt/tervane ]
         [ ! -e /lib/systemd/system/Tervane.service ]
         getent passwd tervane >/dev/null'

say "== $failures failed"
[ "$failures" -eq 0 ]
