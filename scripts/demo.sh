#!/usr/bin/env bash
# A first look at Tervane: relays one linkDown trap and shows what the management station
# receives. Everything happens on loopback in a throw-away program folder:
#   - TervixSrv receives on 127.0.0.1:$RECV_PORT and forwards to 127.0.0.1:$FORW_PORT;
#   - one trap definition wraps linkDown (1.3.6.1.6.3.1.1.5.3): binding 2's value
#     "PORT 042 DOWN" is cut into "PORT" (DisplayString) and "042" (Integer32);
#   - net-snmp's snmptrapd plays the management station and prints what it receives.
set -euo pipefail
cd "$(dirname "$0")/.."
RECV_PORT=${RECV_PORT:-11162}
FORW_PORT=${FORW_PORT:-11163}

scripts/install-deps.sh --demo
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTERVANE_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target TervixSrv tervane_mkdb >/dev/null

dir=$(mktemp -d /tmp/tervane-demo-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

cp build/tervane/TervixSrv "$dir/"
build/store/tervane_mkdb "$dir/Tervix.mdb" >/dev/null
sqlite3 "$dir/Tervix.mdb" <<SQL
UPDATE General_Setting SET DebugMode = 1, TrapRecvIpAddr = '127.0.0.1', TrapRecvPort = $RECV_PORT,
  TrapForwIpAddr = '127.0.0.1', TrapForwPort = $FORW_PORT, ConvV2ToV1 = 0;
INSERT INTO SnmpTrap (TrapName, TrapOID, TrapSourceVarNo, TrapNewVarNo, TrapNewNumber,
  VarName1, VarPos1, VarChar1, VarType1, VarName2, VarPos2, VarChar2, VarType2)
VALUES ('linkDown', '1.3.6.1.6.3.1.1.5.3', 2, 2, 1000,
  'portName', 1, 4, 'DisplayString', 'portNumber', 6, 3, 'Integer32');
SQL

mkdir -p "$dir/snmp"
echo "disableAuthorization yes" > "$dir/snmp/snmptrapd.conf"
export SNMPCONFPATH="$dir/snmp" SNMP_PERSISTENT_DIR="$dir/snmp" MIBS=""
snmptrapd -f -Lf "$dir/station.txt" -C -c "$dir/snmp/snmptrapd.conf" -On -n \
  "udp:127.0.0.1:$FORW_PORT" &
pids+=($!)
(cd "$dir" && exec ./TervixSrv 2>"$dir/service.txt") &
pids+=($!)

for _ in $(seq 50); do grep -q "information 101" "$dir/service.txt" 2>/dev/null && break; sleep 0.1; done
echo "== TervixSrv started:"
cat "$dir/service.txt"

echo "== sending a linkDown trap for port 7 with ifDescr \"PORT 042 DOWN\""
snmptrap -v 2c -c public "127.0.0.1:$RECV_PORT" 987 1.3.6.1.6.3.1.1.5.3 \
  1.3.6.1.2.1.2.2.1.1.7 i 7 1.3.6.1.2.1.2.2.1.2.7 s "PORT 042 DOWN"

for _ in $(seq 50); do grep -q "32473" "$dir/station.txt" 2>/dev/null && break; sleep 0.1; done
echo "== the management station received:"
tr '\t' '\n' < "$dir/station.txt" | sed 's/^/  /'
echo "== the service's debug file Debug.txt:"
tr -d '\r' < "$dir/Debug.txt" | sed 's/^/  /'
