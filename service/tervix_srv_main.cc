// TervixSrv: the relay service. Without arguments it runs as the service in the
// foreground: the start request is handled at once, SIGTERM or SIGINT stop it.
#include <cstdio>

#include "platform/program_folder.h"
#include "service/host/event_log.h"
#include "service/host/service_host.h"
#include "service/snmp/event_loop.h"
#include "service/tervix_service.h"

int main(int argc, char** argv) {
  (void)argv;
  if (argc > 1) {
    std::fputs("Tervix: Invalid command option.\n", stdout);
    return 2;
  }
  tervane::host::SystemEventLog log;
  tervane::snmp::EventLoop loop;
  tervane::host::ServiceHost host(loop, log);
  tervane::TervixService service(tervane::ProgramFolder(), loop, host);
  host.SetStateHandler([&service] { service.svcHost_State(); });
  tervane::Status s = host.Run();
  if (!s.ok()) {
    log.Log(tervane::host::kEventError, 106, s.ToString() + " (Module: Form_Load)");
    return 1;
  }
  return 0;
}
