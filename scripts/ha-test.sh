#!/usr/bin/env bash
# The active/standby pair on keepalived: two relays behind one virtual address, a device
# sending a steady stream of numbered traps (and informs) to it, and a management station
# recording which relay each trap came through, while the faults an administrator fears
# strike relay A, the master: its TervixSrv killed with SIGKILL, then started again (A takes
# the address back: preempt), its link down, then up again.
#
#   scripts/ha-test.sh [BUILD_DIR]     (default build/; needs BUILD_DIR/tervane/TervixSrv,
#                                        tervane-svc and tervane_mkdb, built before)
#
# Everything lives in network namespaces of its own, joined by a bridge in one more
# namespace, on private addresses that exist only there (10.19.0.0/24):
#   dev-N      10.19.0.10  the device: scripts/ha/device.py
#   relayA-N   10.19.0.11  TervixSrv + keepalived, priority 150
#   relayB-N   10.19.0.12  TervixSrv + keepalived, priority 100
#   station-N  10.19.0.20  the station: scripts/ha/station.py, on port 162
#   habr-N                 the bridge
# with N this run's process id; the virtual address is 10.19.0.100. Each relay has a program
# folder of its own (a copy of the build's programs, a fresh Tervix.mdb receiving on the
# virtual address, port 162, and forwarding to the station, port 162), its own
# TERVANE_SERVICE_DIR for the built-in service manager, and its own keepalived, whose
# vrrp_script is `tervane-svc check --folder DIR` run as the unprivileged user
# tervane-hacheck of the group tervane (both made for the run when missing, and removed
# again). Relay A calls it through a link into its program folder, as the package's
# /usr/sbin/tervane-svc is; relay B calls a root-owned copy in a root-only folder.
#
# Checks: the traps come through the expected relay before and after each fault, none
# arrives twice, every inform is answered from the virtual address, and each fault's switch
# time and loss stay within the bounds that the keepalived configuration gives
# (scripts/ha/analyse.py prints the formulas). Prints a table of the figures; exits 0 only
# when every check passed. Removes every namespace, process, user and group it made,
# however it ends. Needs root; installs keepalived with apt-get when it is missing.
#
# TERVANE_HA_RECEIVE=0.0.0.0 makes the relays receive on every address instead of on the
# virtual one (both set-ups are described in docs/high-availability.md). TERVANE_HA_KEEP=DIR
# keeps the run's records there: what was sent and received, the faults' times, the
# keepalived configurations and logs, and `ip monitor` of the relays' addresses and links.
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD
build=$(realpath -m "${1:-build}")
started=$EPOCHREALTIME
py=/usr/bin/python3

say() { printf '%s\n' "$*"; }
die() {
  say "ha-test: $*" >&2
  exit 1
}

[ "$(id -u)" -eq 0 ] || die "needs root (network namespaces, keepalived, a user of its own)"
for p in TervixSrv tervane-svc; do
  [ -x "$build/tervane/$p" ] || die "$build/tervane/$p is missing: build it first"
done
mkdb=$build/tervane/tervane_mkdb
[ -x "$mkdb" ] || mkdb=$build/store/tervane_mkdb
[ -x "$mkdb" ] || die "tervane_mkdb is missing in $build"
"$build/tervane/tervane-svc" --help | grep '^  check' >/dev/null ||
  die "$build/tervane/tervane-svc has no command check"
if ! command -v keepalived >/dev/null; then
  say "== installing keepalived"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -qq --no-install-recommends keepalived </dev/null >/dev/null ||
    { apt-get update -qq && apt-get install -y -qq --no-install-recommends keepalived \
      </dev/null >/dev/null; } || die "keepalived could not be installed"
fi

# The configuration under test, and the figures the bounds come from.
run=$$
subnet=10.19.0
vip=$subnet.100
station_ip=$subnet.20
device_ip=$subnet.10
rate=200
advert=0.2   # VRRPv3 adverts, in seconds (centiseconds allowed)
interval=1   # vrrp_script: seconds between runs (keepalived takes whole seconds)
timeout=1    # seconds a run may take before it counts as failed
fall=2       # failed runs in a row before the node goes to FAULT
rise=2       # good runs in a row before it leaves FAULT
receive=${TERVANE_HA_RECEIVE:-$vip}
user=tervane-hacheck
declare -A ns=([br]=habr-$run [dev]=dev-$run [A]=relayA-$run [B]=relayB-$run [st]=station-$run)
declare -A ip=([dev]=$device_ip [A]=$subnet.11 [B]=$subnet.12 [st]=$station_ip)
declare -A mac=([dev]=02:19:00:00:00:10 [A]=02:19:00:00:00:11 [B]=02:19:00:00:00:12
  [st]=02:19:00:00:00:20)
declare -A prio=([A]=150 [B]=100)
declare -A peer=([A]=B [B]=A)

for n in "${ns[@]}"; do
  ! ip netns list | grep -qw "$n" || die "network namespace $n exists already"
done

# The run's folder: root's, 0755, on a root-only path, so that the scripts keepalived runs
# lie where no one else can write.
work=$(mktemp -d /run/tervane-ha.XXXXXX)
chmod 0755 "$work"
out=$work/out
mkdir "$out" "$work/bin" "$work/sbin"
made_group=0
made_user=0
made_ns=()
bg_pids=()

cleanup() {
  local status=$? r
  set +e
  for p in "${bg_pids[@]}"; do kill -TERM "$p" 2>/dev/null; done
  for r in A B; do
    local d=$work/relay$r
    kill -TERM "$(cat "$d/keepalived.pid" 2>/dev/null)" 2>/dev/null
  done
  for r in A B; do
    local d=$work/relay$r
    for _ in $(seq 50); do
      kill -0 "$(cat "$d/keepalived.pid" 2>/dev/null)" 2>/dev/null || break
      sleep 0.1
    done
    [ -x "$d/tervane/tervane-svc" ] && [ -d "$d/services" ] &&
      TERVANE_SERVICE_DIR=$d/services timeout 15 ip netns exec "${ns[$r]}" \
        "$d/tervane/tervane-svc" stop --wait >/dev/null 2>&1
  done
  # Whatever still runs in the namespaces: the sender, the station, a keepalived that did
  # not stop, their children.
  local n pids
  for n in "${made_ns[@]}"; do
    pids=$(ip netns pids "$n" 2>/dev/null)
    [ -n "$pids" ] && kill -TERM $pids 2>/dev/null
  done
  for _ in $(seq 30); do
    pids=""
    for n in "${made_ns[@]}"; do pids+="$(ip netns pids "$n" 2>/dev/null) "; done
    pids=${pids// /}
    [ -z "$pids" ] && break
    sleep 0.1
  done
  for n in "${made_ns[@]}"; do
    pids=$(ip netns pids "$n" 2>/dev/null)
    [ -n "$pids" ] && kill -KILL $pids 2>/dev/null
  done
  wait 2>/dev/null
  for n in "${made_ns[@]}"; do ip netns del "$n" 2>/dev/null; done
  [ "$made_user" = 1 ] && userdel "$user" 2>/dev/null
  [ "$made_group" = 1 ] && groupdel tervane 2>/dev/null
  if [ -n "${TERVANE_HA_KEEP:-}" ]; then
    mkdir -p "$TERVANE_HA_KEEP"
    cp -r "$out/." "$TERVANE_HA_KEEP/"
    for r in A B; do
      for f in keepalived.conf keepalived.log; do
        [ -e "$work/relay$r/$f" ] && cp "$work/relay$r/$f" "$TERVANE_HA_KEEP/relay$r-$f"
      done
    done
  fi
  rm -rf "$work"
  local left=""
  for n in "${made_ns[@]}"; do ip netns list | grep -qw "$n" && left+=" namespace $n"; done
  [ "$made_user" = 1 ] && getent passwd "$user" >/dev/null && left+=" user $user"
  [ "$made_group" = 1 ] && getent group tervane >/dev/null && left+=" group tervane"
  [ -e "$work" ] && left+=" $work"
  if [ -n "$left" ]; then
    say "ha-test: could not remove:$left" >&2
    [ "$status" -eq 0 ] && status=1
  fi
  say "== active/standby test: $(awk -v a="$started" -v b="$EPOCHREALTIME" \
    'BEGIN { printf "%.1f", b - a }') s in all"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

say "== the account that runs the health check"
if ! getent group tervane >/dev/null; then
  groupadd --system tervane
  made_group=1
fi
if ! getent passwd "$user" >/dev/null; then
  useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin \
    -g tervane "$user"
  made_user=1
fi

say "== the network: ${ns[*]}"
for k in br dev A B st; do
  ip netns add "${ns[$k]}"
  made_ns+=("${ns[$k]}")
  ip -n "${ns[$k]}" link set lo up
done
ip -n "${ns[br]}" link add br0 type bridge
ip -n "${ns[br]}" link set br0 up
for k in dev A B st; do
  # eth0 in the node's namespace, its peer a port of the bridge.
  ip -n "${ns[br]}" link add "p$k" type veth peer name eth0 netns "${ns[$k]}"
  ip -n "${ns[$k]}" link set eth0 address "${mac[$k]}"
  ip -n "${ns[$k]}" addr add "${ip[$k]}/24" dev eth0
  ip -n "${ns[$k]}" link set eth0 up
  ip -n "${ns[br]}" link set "p$k" master br0 up
done

# A command in relay $1's namespace, with its service registry.
in_relay() { TERVANE_SERVICE_DIR=$work/relay$1/services ip netns exec "${ns[$1]}" "${@:2}"; }

say "== the relays, receiving on $receive:162 and forwarding to $station_ip:162"
cp "$build/tervane/tervane-svc" "$work/bin/tervane-svc"
chmod 0755 "$work/bin/tervane-svc"
for r in A B; do
  d=$work/relay$r
  mkdir -p "$d/tervane" "$d/services"
  cp "$build/tervane/TervixSrv" "$build/tervane/tervane-svc" "$d/tervane/"
  # The package's layout: root:tervane 3775, the programs root's 0755.
  chown root:tervane "$d/tervane"
  chmod 3775 "$d/tervane"
  chmod 0755 "$d/tervane/TervixSrv" "$d/tervane/tervane-svc"
  "$mkdb" --folder "$d/tervane" >/dev/null
  "$py" - "$d/tervane/Tervix.mdb" "$receive" "$station_ip" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute("UPDATE General_Setting SET DebugMode = 0, TrapRecvIpAddr = ?, TrapRecvPort = 162,"
           " TrapForwIpAddr = ?, TrapForwPort = 162, ConvV2ToV1 = 0", sys.argv[2:4])
db.commit()
db.close()
PY
  in_relay "$r" "$d/tervane/TervixSrv" -install_noMsg
  in_relay "$r" "$d/tervane/tervane-svc" start --wait | sed "s/^/   relay $r: /"
done
# Relay A's check goes through a link into its program folder, as /usr/sbin/tervane-svc
# does in the package; relay B's through the root-owned copy.
ln -s "$work/relayA/tervane/tervane-svc" "$work/sbin/tervane-svc"
declare -A svc=([A]=$work/sbin/tervane-svc [B]=$work/bin/tervane-svc)
for r in A B; do
  result=$(in_relay "$r" runuser -u "$user" -g tervane -- \
    env TERVANE_SERVICE_DIR="$work/relay$r/services" \
    "${svc[$r]}" check --folder "$work/relay$r/tervane" 2>&1) ||
    die "relay $r's health check fails as $user: $result"
  say "   relay $r, check as $user: $result"
done

# keepalived's configuration for relay $1.
keepalived_conf() {
  local r=$1 o=${peer[$1]}
  cat <<CONF
global_defs {
  router_id tervane-ha-$r
  script_user $user tervane
  enable_script_security
}
vrrp_script chk_tervane {
  script "${svc[$r]} check --folder $work/relay$r/tervane"
  interval $interval
  timeout $timeout
  fall $fall
  rise $rise
  init_fail
}
vrrp_instance tervane {
  state BACKUP
  interface eth0
  virtual_router_id 19
  priority ${prio[$r]}
  version 3
  advert_int $advert
  unicast_src_ip ${ip[$r]}
  unicast_peer {
    ${ip[$o]}
  }
  virtual_ipaddress {
    $vip/32 dev eth0
  }
  track_script {
    chk_tervane
  }
}
CONF
}

# The configuration in file $1 without its health check: no vrrp_script, no track_script.
without_check() {
  awk '/^[[:space:]]*(vrrp_script|track_script)[[:space:]].*[{]/ { skip = 1; depth = 0 }
       skip { depth += gsub(/[{]/, "{"); depth -= gsub(/[}]/, "}"); if (depth <= 0) skip = 0; next }
       { print }' "$1"
}

# keepalived -t on the configuration $2 in namespace $1; $3 names it. keepalived 2.2.7
# (Debian 12) ends its own configuration test with SIGTERM (status 143) whenever a
# vrrp_script is configured (fixed in 2.2.8): the rest of the configuration is then tested
# without the health check, and the real run's log below must name no error.
config_test() {
  local n=$1 conf=$2 what=$3 rc=0
  # (The subshell keeps the shell's own "Terminated" off the terminal.)
  (ip netns exec "$n" keepalived -t -l -f "$conf" >"$conf.test" 2>&1
    exit $?) 2>/dev/null || rc=$?
  if [ "$rc" -eq 143 ]; then
    without_check "$conf" >"$conf.nocheck"
    rc=0
    ip netns exec "$n" keepalived -t -l -f "$conf.nocheck" >"$conf.test" 2>&1 || rc=$?
    [ "$rc" -eq 0 ] && say "   $what: keepalived -t passes it without its vrrp_script" \
      "(with one, this keepalived's test ends itself: status 143)"
  elif [ "$rc" -eq 0 ]; then
    say "   $what: keepalived -t passes it"
  fi
  if [ "$rc" -ne 0 ] || grep -Eq 'Line [0-9]+|WARNING' "$conf.test"; then
    sed 's/^/   | /' "$conf.test"
    die "keepalived -t refuses $what (status $rc)"
  fi
}

say "== keepalived $(keepalived --version 2>&1 | sed -n '1s/^Keepalived //p')"
# The example that the package installs, with this run's command and folder for its check.
sed "s|/usr/sbin/tervane-svc check --folder /opt/tervane|${svc[A]} check --folder $work/relayA/tervane|" \
  packaging/keepalived/keepalived.conf.example >"$work/example.conf"
grep -q "${svc[A]} check" "$work/example.conf" || die "the example's check is not tervane-svc's"
config_test "${ns[A]}" "$work/example.conf" "packaging/keepalived/keepalived.conf.example"
for r in A B; do
  d=$work/relay$r
  keepalived_conf "$r" >"$d/keepalived.conf"
  config_test "${ns[$r]}" "$d/keepalived.conf" "relay $r's configuration"
  ip netns exec "${ns[$r]}" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    TERVANE_SERVICE_DIR="$d/services" keepalived -n -l -D -P -f "$d/keepalived.conf" \
    -p "$d/keepalived.pid" -r "$d/vrrp.pid" -c "$d/checkers.pid" >"$d/keepalived.log" 2>&1 &
  bg_pids+=($!)
done

# When each relay's addresses and link changed, and the device's neighbour entries, to the
# microsecond: what the keepalived logs' whole seconds cannot tell.
for k in A B; do
  ip -n "${ns[$k]}" -ts monitor address link >"$out/monitor-$k.txt" 2>&1 &
  bg_pids+=($!)
done
ip -n "${ns[dev]}" -ts monitor neigh >"$out/monitor-dev.txt" 2>&1 &
bg_pids+=($!)

holds() { ip -n "${ns[$1]}" -4 -o addr show dev eth0 | grep -q " $vip/"; }
# Waits up to $2 seconds for the condition "$1"; false when it never held.
await() {
  local cond=$1 limit=$2 t0=$EPOCHREALTIME
  until eval "$cond"; do
    awk -v a="$t0" -v b="$EPOCHREALTIME" -v l="$limit" 'BEGIN { exit !(b - a > l) }' && return 1
    sleep 0.05
  done
}
show_logs() {
  for r in A B; do
    say "-- relay $r's keepalived:"
    tail -n 25 "$work/relay$r/keepalived.log" | sed 's/^/   /'
  done
}
await 'holds A && ! holds B && grep -q "Entering BACKUP STATE" "$work/relayB/keepalived.log"' 15 ||
  { show_logs; die "relay A did not become master with relay B as its backup"; }
say "   relay A is master, relay B its backup"

say "== traffic: $rate traps/s from ${ip[dev]} to $vip:162, an inform every 0.5 s"
ip netns exec "${ns[st]}" "$py" -B -u "$here/scripts/ha/station.py" --interface eth0 \
  --out "$out/station.txt" 2>"$out/station.err" &
bg_pids+=($!)
sleep 0.3
ip netns exec "${ns[dev]}" "$py" -B -u "$here/scripts/ha/device.py" --source "${ip[dev]}" \
  --target "$vip" --rate "$rate" --out "$out" 2>"$out/device.err" &
device_pid=$!
bg_pids+=("$device_pid")

# The relay of the station's newest trap, by the Ethernet address it came from.
last_relay() {
  local m
  m=$(grep ' trap ' "$out/station.txt" 2>/dev/null | tail -n 1 | cut -d' ' -f5)
  case $m in "${mac[A]}") echo A ;; "${mac[B]}") echo B ;; *) echo - ;; esac
}
# Each fault's time is taken when its command has returned: the change itself comes at the
# end of the command, after the program's start.
mark() { echo "$1 $EPOCHREALTIME $2 $3" >>"$out/faults.txt"; }
# The fault $1 moves the traffic from $2 to $3: waits for it, then lets it flow a while.
settle() {
  if await "[ \"\$(last_relay)\" = $3 ]" 15; then
    say "   $1: traps through relay $3"
  else
    say "   $1: no traps through relay $3 within 15 s"
  fi
  sleep 1.5
}

await '[ "$(last_relay)" = A ]' 10 || { show_logs; die "no trap reached the station through relay A"; }
sleep 2

say "== faults"
pid_a=$(cut -d' ' -f1 "$work/relayA/services/Tervane.pid")
[ "$(cat "/proc/$pid_a/comm")" = TervixSrv ] || die "relay A's TervixSrv is not process $pid_a"
kill -KILL "$pid_a"
mark relay-killed A B
settle "relay A's TervixSrv killed (SIGKILL)" A B

in_relay A "$work/relayA/tervane/tervane-svc" start --wait | sed 's/^/   relay A: /'
mark relay-back B A
settle "relay A's TervixSrv started again" B A

ip -n "${ns[A]}" link set eth0 down
mark link-down A B
settle "relay A's link down" A B

ip -n "${ns[A]}" link set eth0 up
mark link-up B A
settle "relay A's link up" B A

kill -TERM "$device_pid"
wait "$device_pid" || die "the device ended with a failure: $(cat "$out/device.err")"
sleep 0.5

say "== keepalived's log: script security, configuration errors"
security=0
for r in A B; do
  if grep -Ei 'unsafe permissions|disabling track script|security violation|Line [0-9]+\)' \
    "$work/relay$r/keepalived.log"; then
    security=1
  fi
  grep -q "VRRP_Script(chk_tervane) succeeded" "$work/relay$r/keepalived.log" || security=1
done
if [ "$security" = 0 ]; then
  say "   both ran their health check as $user, refusing nothing"
else
  show_logs
fi

say "== results"
set +e
"$py" -B "$here/scripts/ha/analyse.py" --out "$out" --vip "$vip" --device "${ip[dev]}" \
  --relay "A=${mac[A]}:${prio[A]}" --relay "B=${mac[B]}:${prio[B]}" --advert "$advert" \
  --interval "$interval" --timeout "$timeout" --fall "$fall" --rise "$rise"
verdict=$?
set -e
[ "$security" = 0 ] || { say "FAIL keepalived refused or could not run the health check"; verdict=1; }
[ "$verdict" = 0 ] || show_logs
exit "$verdict"
