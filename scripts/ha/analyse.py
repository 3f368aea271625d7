"""The verdict of the pair's test: from what the device sent, what the station received and
when each fault struck, the switch time, longest gap and loss of every fault against the
bounds that the keepalived configuration gives, and the run's checks. Prints a table and the
checks; exits 0 only when every check passed.

The bounds, for a vrrp_script that runs every I seconds with a timeout of T seconds and needs
F failures (R successes) to change its verdict, adverts every A seconds, and the priority P of
the node that takes over:
  master-down interval       M(P) = 3 A + (256 - P) A / 256
  relay killed on the master  switch <= F I + T + M(backup) + D
      the F-th failing run starts at most F I after the fault and ends within T; the master
      goes to FAULT, and the backup takes over at once on its priority-0 advert, or at the
      latest when its own master-down timer expires;
  relay back (preempt)        switch <= R I + T + M(master) + D
      out of FAULT after R good runs, then master once its master-down timer expires (it
      discards the lower-priority adverts of the node it preempts);
  link down on the master     switch <= M(backup) + D   (the backup hears no more adverts)
  link up again (preempt)     switch <= M(master) + D   (out of FAULT at once, then as above)
Each switch bound also allows D = 0.25 s for the rest of the way, on a busy machine: the
fault's command taking effect, keepalived acting on its timer, the new master's gratuitous ARP
reaching the device, and the first trap crossing the new relay to the station.
Loss: for a failure, at most rate x (switch bound + L), L = 0.1 s for the traps in flight when
the fault strikes; for a planned switch (the relay or the link back, the old master still
relaying until the new one holds the address) at most rate x (A + L): the new master's
gratuitous ARP leaves with its first advert, which is what makes the old one let go, and
until the device has it, its traps go to a node that has just added or just dropped the
address.
"""

import argparse
import math
import os
import sys
from collections import Counter

LEAD = 0.1  # seconds before a fault whose traps may be in flight when it strikes
WAY = 0.25  # seconds for the fault to act and the first trap to cross the new relay


def master_down(advert, priority):
    return 3 * advert + (256 - priority) * advert / 256


def switch_bound(kind, cfg, priority):
    m = master_down(cfg.advert, priority) + WAY
    if kind == "relay-killed":
        return cfg.fall * cfg.interval + cfg.timeout + m
    if kind == "relay-back":
        return cfg.rise * cfg.interval + cfg.timeout + m
    return m  # link-down, link-up


def loss_bound(kind, cfg, switch):
    planned = kind in ("relay-back", "link-up")
    return math.ceil(cfg.rate * ((cfg.advert if planned else switch) + LEAD))


def read_lines(path):
    if not os.path.exists(path):
        return None
    with open(path) as f:
        return [line.split() for line in f if line.strip()]


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--out", required=True, help="the run's folder of records")
    p.add_argument("--relay", action="append", required=True, help="NAME=MAC:PRIORITY")
    p.add_argument("--vip", required=True)
    p.add_argument("--port", type=int, default=162)
    p.add_argument("--device", required=True, help="the device's address")
    p.add_argument("--advert", type=float, required=True)
    p.add_argument("--interval", type=float, required=True)
    p.add_argument("--timeout", type=float, required=True)
    p.add_argument("--fall", type=int, required=True)
    p.add_argument("--rise", type=int, required=True)
    cfg = p.parse_args()

    relays, priority = {}, {}
    for entry in cfg.relay:
        name, rest = entry.split("=", 1)
        mac, prio = rest.rsplit(":", 1)
        relays[mac.lower()] = name
        priority[name] = int(prio)

    checks = []

    def check(name, ok, detail=""):
        checks.append((name, bool(ok), detail))
        return ok

    files = {n: read_lines(os.path.join(cfg.out, n + ".txt"))
             for n in ("sent", "informs", "device", "station", "faults")}
    missing = [n for n, lines in files.items() if lines is None]
    if missing:
        print(f"ha-test: records missing: {', '.join(missing)}")
        return 1
    device = {k: v for k, v in files["device"]}
    cfg.rate = float(device["rate"])
    sent = {int(s[0]): float(s[1]) for s in files["sent"]}
    send_errors = sum(1 for s in files["sent"] if len(s) > 2)
    faults = [(f[0], float(f[1]), f[2], f[3]) for f in files["faults"]]
    received = []  # (time, seq, relay, source)
    inform_copies = 0
    sources = {}
    addresses = Counter()
    for r in files["station"]:
        t, kind, ident, source, mac, address = float(r[0]), r[1], r[2], r[3], r[4], r[5]
        relay = relays.get(mac, "?" + mac)
        sources.setdefault(relay, set()).add(source)
        if kind == "trap":
            received.append((t, int(ident), relay, source))
            addresses[address] += 1
        elif kind == "inform":
            inform_copies += 1
    received.sort()
    counts = Counter(seq for _, seq, _, _ in received)
    twice = sorted(seq for seq, n in counts.items() if n > 1)
    check("no trap arrived twice", not twice,
          f"{len(twice)} twice, e.g. {twice[:5]}" if twice else f"{len(counts)} distinct")
    check("no trap was refused by the device's own stack", send_errors == 0,
          f"{send_errors} send errors")

    lost = sorted(set(sent) - set(counts))
    end = max(sent.values()) + 1.0
    windows = [(faults[i][1] - LEAD, faults[i + 1][1] - LEAD if i + 1 < len(faults) else end)
               for i in range(len(faults))]
    before = [r for r in received if r[0] < faults[0][1]]
    steady_lost = [s for s in lost if sent[s] < windows[0][0]]
    first_relay = faults[0][2]
    check("before the first fault: every trap through " + first_relay,
          before and all(r[2] == first_relay for r in before) and not steady_lost,
          f"{len(before)} traps, {len(steady_lost)} lost")

    rows = []
    for i, (kind, t, old, new) in enumerate(faults):
        lo, hi = windows[i]
        bound = switch_bound(kind, cfg, priority[new])
        lbound = loss_bound(kind, cfg, bound)
        earlier = [r for r in received if r[0] < t]
        last_old = earlier[-1][2] if earlier else None
        check(f"{kind}: traps through {old} before it", last_old == old, f"last via {last_old}")
        first_new = next((r for r in received if r[0] >= t and r[2] == new), None)
        switch = first_new[0] - t if first_new else None
        # After the first trap through the new relay, nothing newer comes through another one
        # until the next fault.
        strays = [r for r in received if first_new and r[1] > first_new[1] and sent[r[1]] < hi
                  and r[2] != new]
        after = [r for r in received if first_new and r[0] >= first_new[0] and sent[r[1]] < hi]
        check(f"{kind}: traps through {new} after it", first_new and not strays and after,
              f"{len(after)} through {new}, {len(strays)} through another relay"
              if first_new else f"none through {new}")
        times = [r[0] for r in received]
        gaps = [b - a for a, b in zip(times, times[1:]) if lo <= a < hi]
        gap = max(gaps) if gaps else None
        loss = sum(1 for s in lost if lo <= sent[s] < hi)
        check(f"{kind}: switch within its bound", switch is not None and switch <= bound,
              f"{switch:.3f} s <= {bound:.3f} s" if switch is not None else "no switch")
        check(f"{kind}: loss within its bound", loss <= lbound, f"{loss} <= {lbound}")
        rows.append((kind, f"{old} -> {new}", bound, switch, gap, lbound, loss))

    informs = files["informs"]
    unanswered = [i for i in informs if i[2] == "-"]
    foreign = [i for i in informs if i[2] != "-" and i[4] != f"{cfg.vip}:{cfg.port}"]
    check("every inform answered", len(informs) >= 10 and not unanswered,
          f"{len(informs)} informs, {len(unanswered)} unanswered")
    check(f"every answer from {cfg.vip}:{cfg.port}", len(informs) > len(unanswered) and not foreign,
          f"{len(foreign)} from elsewhere: {sorted({i[4] for i in foreign})}" if foreign else "")
    check("no stray responses", device.get("stray") == "0", f"{device.get('stray')} stray")

    print()
    print(f"rate {cfg.rate:g} traps/s; advert_int {cfg.advert:g} s; vrrp_script interval "
          f"{cfg.interval:g} s, timeout {cfg.timeout:g} s, fall {cfg.fall}, rise {cfg.rise}; "
          + ", ".join(f"{n} priority {v}" for n, v in sorted(priority.items())))
    print(f"{'fault':<14}{'path':<9}{'switch bound':>13}{'switch':>9}{'longest gap':>13}"
          f"{'loss bound':>12}{'lost':>7}")
    for kind, path, bound, switch, gap, lbound, loss in rows:
        s = f"{switch:.3f}" if switch is not None else "-"
        g = f"{gap:.3f}" if gap is not None else "-"
        print(f"{kind:<14}{path:<9}{bound:>11.3f} s{s:>7} s{g:>11} s{lbound:>12}{loss:>7}")
    print("switch: from the fault to the first trap through the new relay (for a failure, the "
          "outage);\nlongest gap: the longest time without a trap at the station; lost: "
          "sequence numbers that never arrived")
    print(f"traps sent {len(sent)}, received {len(counts)}, lost {len(lost)}; informs "
          f"{len(informs)} (copies forwarded to the station: {inform_copies})")
    print("sender addresses the station saw: "
          + "; ".join(f"{n}: {', '.join(sorted(s))}" for n, s in sorted(sources.items())))
    print("snmpTrapAddress.0 on the traps: "
          + ", ".join(f"{a} x{n}" for a, n in addresses.most_common()))
    print()
    for name, ok, detail in checks:
        print(f"{'ok  ' if ok else 'FAIL'} {name}" + (f" ({detail})" if detail else ""))
    return 0 if all(ok for _, ok, _ in checks) else 1


if __name__ == "__main__":
    sys.exit(main())
