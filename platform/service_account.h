// The system account that the systemd service runs as, the program folder that its group
// shares with it, and the group's right to start and stop the service.
//
// The service runs as the system user and group "tervane" (no home, no login shell), made by
// the install when missing with the system's own tools (getent, groupadd, useradd) through a
// command runner, so tests can stand in for them. Administrators who use the window join the
// group: the program folder and the files that the programs write in it belong to the group
// and are writable for it, and the folder's set-group-ID bit gives files made in it later the
// same group. A polkit rule lets the group's members start, stop and restart the unit without
// root (querying needs no privilege). Uninstalling removes the rule but leaves account and
// folder as they are: files may still belong to them.
#ifndef TERVANE_PLATFORM_SERVICE_ACCOUNT_H_
#define TERVANE_PLATFORM_SERVICE_ACCOUNT_H_

#include <sys/types.h>

#include <string>

#include "platform/run_command.h"
#include "platform/status.h"

namespace tervane::svc {

// The files of the program folder that the programs write: the settings database and its
// WAL files, the debug files, the single-instance lock, and the MIB the window generates.
inline constexpr const char* kSharedFiles[] = {
    "Tervix.mdb",      "Tervix.mdb-wal",  "Tervix.mdb-shm", "Debug.txt",
    "Debug-Error.txt", ".TervixSrv.lock", "Tervix.mib",
};

// The group id of `account`. Creates the system group `account` when it is missing, then the
// system user `account` in it when that is missing. Fails with the tool's own words, or with 5
// when it refused for lack of privileges; what was created before a failure stays.
Result<gid_t> EnsureServiceAccount(const CommandRunner& run, const std::string& account);

// Gives `folder` to group `gid` with group read, write and search, the set-group-ID bit and
// the sticky bit: members make and write the shared files, files made later belong to the
// group, and only a file's owner (and the folder's) may remove or replace it, so the
// programs, which root owns, stay as they are. The files of kSharedFiles that are in it go to
// the group, readable and writable for it. Run as root, it also gives them to the folder's
// owner and makes the database's -wal and -shm and the lock file, empty, where the database
// exists and they are missing: with fs.protected_regular = 2 the kernel refuses O_CREAT
// opens (SQLite's) of other users' files in a sticky folder unless the folder's owner owns
// them. Symbolic links and anything but regular files are left alone. Fails with 5 when the
// ownership may not be changed; what was handed over before a failure stays.
Status ShareFolderWithGroup(const std::string& folder, gid_t gid);

// The polkit rule (JavaScript) that lets members of group `group` start, stop and restart the
// systemd unit `unit` ("Tervane.service") and reset its failed state; every other action,
// unit and verb is left to the other rules.
std::string PolkitRuleText(const std::string& unit, const std::string& group);

}  // namespace tervane::svc

#endif  // TERVANE_PLATFORM_SERVICE_ACCOUNT_H_
