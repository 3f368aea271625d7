"""The device of the pair's test: a steady stream of numbered SNMPv2c traps to the relays'
virtual address, and now and then an inform, retried as a device retries it until it is
answered.

Trap n carries "n" in the binding 1.3.6.1.4.1.32473.99.3.0 under the trap OID
1.3.6.1.4.1.32473.99.1 and leaves at start + n / rate. Each inform carries "inform k" under
1.3.6.1.4.1.32473.99.2 and is sent again with the same request id every --inform-retry
seconds until a response with that id arrives or --inform-give-up seconds have passed.

Runs until SIGTERM or SIGINT, then waits up to --inform-give-up seconds for the informs still
open and writes:
  OUT/sent.txt     "seq time" of every trap sent ("seq time error" when the send failed);
  OUT/informs.txt  "id first-sent answered-at tries responder" ("-" for never);
  OUT/device.txt   "rate R", "start T", "traps N", "informs N", "stray N" (responses that
                   matched no open inform).
"""

import argparse
import os
import select
import signal
import socket
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import snmp_ber  # noqa: E402

TRAP_OID = "1.3.6.1.4.1.32473.99.1"
INFORM_OID = "1.3.6.1.4.1.32473.99.2"
SEQUENCE_OID = "1.3.6.1.4.1.32473.99.3.0"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True, help="this device's address")
    parser.add_argument("--target", required=True, help="the relays' virtual address")
    parser.add_argument("--port", type=int, default=162)
    parser.add_argument("--rate", type=float, default=200.0, help="traps a second")
    parser.add_argument("--inform-every", type=float, default=0.5)
    parser.add_argument("--inform-retry", type=float, default=0.25)
    parser.add_argument("--inform-give-up", type=float, default=10.0)
    parser.add_argument("--out", required=True, help="folder for the records")
    args = parser.parse_args()

    stopping = []
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: stopping.append(True))

    traps = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    traps.bind((args.source, 0))
    informs = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    informs.bind((args.source, 0))
    target = (args.target, args.port)

    sent = []        # (seq, time, error)
    open_informs = {}  # request id -> [first sent, last sent, tries, datagram]
    done_informs = []  # (id, first sent, answered at, tries, responder)
    stray = 0
    start = time.time()
    seq = 0
    next_inform = start + args.inform_every
    inform_id = 0

    stop_time = None  # when SIGTERM came: no more traps, the open informs get their time
    while True:
        now = time.time()
        if stopping and stop_time is None:
            stop_time = now
        if stop_time is None:
            # Every trap that is due, so that a late wake-up catches up instead of thinning.
            while start + seq / args.rate <= now:
                datagram = snmp_ber.notification(snmp_ber.TRAP, seq + 1, int((now - start) * 100),
                                                 TRAP_OID, [(SEQUENCE_OID, "s", str(seq))])
                try:
                    traps.sendto(datagram, target)
                    sent.append((seq, now, ""))
                except OSError as e:
                    sent.append((seq, now, e.strerror.replace(" ", "_")))
                seq += 1
            if now >= next_inform:
                inform_id += 1
                datagram = snmp_ber.notification(
                    snmp_ber.INFORM, 1000000 + inform_id, int((now - start) * 100), INFORM_OID,
                    [(SEQUENCE_OID, "s", f"inform {inform_id}")])
                open_informs[1000000 + inform_id] = [now, 0.0, 0, datagram]
                next_inform = now + args.inform_every
        for request_id, entry in list(open_informs.items()):
            if now - entry[0] > args.inform_give_up:
                done_informs.append((request_id, entry[0], None, entry[2], None))
                del open_informs[request_id]
            elif now - entry[1] >= args.inform_retry:
                try:
                    informs.sendto(entry[3], target)
                except OSError:
                    pass
                entry[1] = now
                entry[2] += 1
        if stop_time is not None and (not open_informs or now > stop_time + args.inform_give_up):
            break

        wake = min([start + seq / args.rate, next_inform] if stop_time is None else [now + 0.05])
        wake = min([wake] + [e[1] + args.inform_retry for e in open_informs.values()])
        try:
            ready, _, _ = select.select([informs], [], [], max(0.0, wake - time.time()))
        except InterruptedError:
            continue
        if ready:
            data, responder = informs.recvfrom(65535)
            try:
                pdu, request_id, _ = snmp_ber.decode(data)
            except snmp_ber.BerError:
                stray += 1
                continue
            entry = open_informs.pop(request_id, None)
            if pdu != snmp_ber.RESPONSE or entry is None:
                stray += 1
                continue
            done_informs.append((request_id, entry[0], time.time(), entry[2],
                                 f"{responder[0]}:{responder[1]}"))

    for request_id, entry in open_informs.items():
        done_informs.append((request_id, entry[0], None, entry[2], None))
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "sent.txt"), "w") as f:
        for s, t, err in sent:
            f.write(f"{s} {t:.6f} {err}".rstrip() + "\n")
    with open(os.path.join(args.out, "informs.txt"), "w") as f:
        for request_id, first, answered, tries, responder in sorted(done_informs):
            f.write(f"{request_id - 1000000} {first:.6f} "
                    f"{'-' if answered is None else f'{answered:.6f}'} {tries} {responder or '-'}\n")
    with open(os.path.join(args.out, "device.txt"), "w") as f:
        f.write(f"rate {args.rate}\nstart {start:.6f}\ntraps {seq}\n"
                f"informs {len(done_informs)}\nstray {stray}\n")


if __name__ == "__main__":
    main()
