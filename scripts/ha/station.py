"""The management station of the pair's test: records every SNMPv2c trap that arrives on UDP
port 162, with the sender the station sees and the relay that sent it.

The station listens on --port like any station, but reads what arrives from a packet socket
on --interface, so that each record also names the Ethernet address that the datagram came
from: that tells relay A from relay B even where both send from the same IP address. One line
per trap, written as it arrives, to --out:
  "time kind id source-ip source-mac trap-address"
kind is "trap" (id: the sequence number) or "inform" (id: the inform's number), for the
device's notifications; trap-address is the value of snmpTrapAddress.0 or "-". Other
datagrams to the port are recorded as "time other - source-ip source-mac -".
Runs until SIGTERM or SIGINT.
"""

import argparse
import os
import select
import signal
import socket
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import snmp_ber  # noqa: E402
from device import INFORM_OID, SEQUENCE_OID, TRAP_OID  # noqa: E402

ETH_P_IP = 0x0800
PACKET_HOST = 0  # addressed to this interface: not one that the bridge floods to every port


def record(frame, port):
    """The record's fields after the time for an Ethernet frame, or None when it is no UDP
    datagram to `port`."""
    if len(frame) < 14 + 20 or frame[12:14] != b"\x08\x00":
        return None
    ip = frame[14:]
    header = (ip[0] & 0x0F) * 4
    if ip[0] >> 4 != 4 or ip[9] != 17 or len(ip) < header + 8:
        return None
    if struct.unpack("!H", ip[6:8])[0] & 0x3FFF:  # a fragment: the relays never send one
        return None
    _, dport, _, _ = struct.unpack("!HHHH", ip[header:header + 8])
    if dport != port:
        return None
    source = socket.inet_ntoa(ip[12:16])
    mac = frame[6:12].hex(":")
    try:
        pdu, _, bindings = snmp_ber.decode(ip[header + 8:])
    except snmp_ber.BerError:
        return f"other - {source} {mac} -"
    trap_oid = bindings.get(snmp_ber.SNMP_TRAP_OID)
    value = bindings.get(SEQUENCE_OID, "")
    address = bindings.get(snmp_ber.SNMP_TRAP_ADDRESS, "-")
    if pdu == snmp_ber.TRAP and trap_oid == TRAP_OID and value.isdigit():
        return f"trap {value} {source} {mac} {address}"
    if pdu == snmp_ber.TRAP and trap_oid == INFORM_OID and value.startswith("inform "):
        return f"inform {value.split()[1]} {source} {mac} {address}"
    return f"other - {source} {mac} -"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--interface", required=True)
    parser.add_argument("--port", type=int, default=162)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    stopping = []
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: stopping.append(True))

    # The port is bound so that the datagrams are taken (no ICMP port unreachable goes back);
    # what it reads is dropped, the packet socket has the same datagrams with their frames.
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.bind(("0.0.0.0", args.port))
    raw = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_IP))
    raw.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
    raw.bind((args.interface, ETH_P_IP))
    with open(args.out, "w", buffering=1) as out:
        while not stopping:
            try:
                ready, _, _ = select.select([raw, udp], [], [], 0.2)
            except InterruptedError:
                continue
            if udp in ready:
                udp.recv(65535)
            if raw in ready:
                frame, where = raw.recvfrom(65535)
                now = time.time()
                if where[2] != PACKET_HOST:
                    continue
                fields = record(frame, args.port)
                if fields is not None:
                    out.write(f"{now:.6f} {fields}\n")


if __name__ == "__main__":
    main()
