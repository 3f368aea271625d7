// A sample answer of systemctl show, shared by the systemd back end's tests.
#ifndef TERVANE_PLATFORM_SYSTEMD_SHOW_SAMPLE_H_
#define TERVANE_PLATFORM_SYSTEMD_SHOW_SAMPLE_H_

namespace tervane::svc {

// What systemctl show prints for the installed, running service (systemd 252).
inline constexpr char kRunningShow[] =
    "MainPID=4711\n"
    "ExecStart={ path=/opt/tervane/TervixSrv ; argv[]=/opt/tervane/TervixSrv ; "
    "ignore_errors=no ; start_time=[Sun 2024-01-07 10:00:00 UTC] ; stop_time=[n/a] ; "
    "pid=4711 ; code=(null) ; status=0/0 }\n"
    "WorkingDirectory=/opt/tervane\n"
    "LoadState=loaded\n"
    "ActiveState=active\n"
    "FreezerState=running\n"
    "SubState=running\n"
    "Result=success\n"
    "FragmentPath=/etc/systemd/system/Tervane.service\n"
    "UnitFileState=enabled\n"
    "Description=Tervane\n";

}  // namespace tervane::svc

#endif  // TERVANE_PLATFORM_SYSTEMD_SHOW_SAMPLE_H_
