// `tervane-svc check`: the health check that keepalived's vrrp_script runs on each relay of an
// active/standby pair, so that the address moves to the other relay when this one cannot
// relay. Its rules are in health_check.h; this is where their inputs are gathered.
#ifndef TERVANE_ADMIN_CHECK_COMMAND_H_
#define TERVANE_ADMIN_CHECK_COMMAND_H_

#include "admin/svc_command_line.h"

namespace tervane::svc {

// Exits 0, printing one line on standard output, when the service NAME
//   (a) runs: the service manager reads it RUNNING, as `tervane-svc query` reads it;
//   (b) listens: the kernel's socket table of the service's network namespace for the family
//       of the receive address (/proc/PID/net/udp, or udp6 for IPv6 and ::, of its main
//       process when the manager names one and it can be read, else /proc/net/udp or udp6 of
//       this process's namespace, which is the service's when keepalived runs in it) holds an
//       unconnected UDP socket bound to the receive port TrapRecvPort on the receive address
//       TrapRecvIpAddr as stored (the service writes back the address it bound) or on every
//       address of its family (0.0.0.0, ::); when this user may read the service's
//       descriptors (root, or the service's own user), the socket must be one of them;
//   (c) runs its loop: its counters were written within the last 30 s, or it started less
//       than 30 s ago (health_check.h). A user who may not read Tervix.mdb-shm and -wal sees
//       the file only as last checkpointed (store.h), without the latest rounds: that fails.
// Else exits 1 with one line on standard error saying why, the service's name first:
//   "Tervane: not running (STOPPED)"
//   "Tervane: nothing listens on 10.0.0.100:162" ("[2001:db8::64]:162" for IPv6)
//   "Tervane: counters last written 47 s ago"
// It reads the program folder's Tervix.mdb (--folder DIR for another) read-only, waits for
// nothing and needs no privileges: a member of the group tervane may run it.
int RunCheckCommand(const SvcCommandLine& line);

}  // namespace tervane::svc

#endif  // TERVANE_ADMIN_CHECK_COMMAND_H_
