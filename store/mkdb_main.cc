// tervane_mkdb: makes the settings database of a program folder, at build and install time.
//
//   tervane_mkdb <path of Tervix.mdb>   makes that file when it is missing
//   tervane_mkdb --folder <folder>      lays out an installed program folder: makes Tervix.mdb
//                                       and the lock file .TervixSrv.lock when they are
//                                       missing, then, where the group tervane exists and this
//                                       runs as root, shares the folder with the group
//                                       (root:tervane, mode 3775, see ShareFolderWithGroup)
//
// An existing file holds a user's settings and is never touched. Nothing is followed through
// a symbolic link: the folder may be writable for the group's members. Exit status 0 when the
// files exist afterwards, 1 when they could not be made, 2 on a usage error.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/program_folder.h"
#include "platform/service_account.h"
#include "platform/systemd_services.h"
#include "store/store.h"

namespace {

int Failed(const tervane::Status& status) {
  std::fprintf(stderr, "tervane_mkdb: %s\n", status.ToString().c_str());
  return 1;
}

// Makes the database at `path` unless something (a file, or a link) is there already.
int MakeDatabase(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) return 0;  // kept: a rebuild never resets settings
  if (tervane::Status made = tervane::store::Store::Create(path); !made.ok()) return Failed(made);
  std::printf("tervane_mkdb: created %s\n", path.c_str());
  return 0;
}

int LayOutFolder(const std::string& folder) {
  if (int made = MakeDatabase(tervane::JoinPath(folder, "Tervix.mdb")); made != 0) return made;
  const std::string lock = tervane::JoinPath(folder, ".TervixSrv.lock");
  // O_EXCL: an entry already there, even a link, is left as it is.
  const int fd = open(lock.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0660);
  if (fd >= 0) {
    close(fd);
  } else if (errno != EEXIST) {
    std::fprintf(stderr, "tervane_mkdb: %s: %s\n", lock.c_str(), std::strerror(errno));
    return 1;
  }
  const struct group* group = getgrnam(tervane::svc::kServiceAccount);
  if (geteuid() != 0 || group == nullptr) return 0;
  tervane::Status shared = tervane::svc::ShareFolderWithGroup(folder, group->gr_gid);
  return shared.ok() ? 0 : Failed(shared);
}

}  // namespace

int main(int argc, char** argv) {
  tervane::KeepGroupWritable();  // the service and the window's users share the files
  if (argc == 3 && std::strcmp(argv[1], "--folder") == 0) return LayOutFolder(argv[2]);
  if (argc == 2 && argv[1][0] != '-') return MakeDatabase(argv[1]);
  std::fprintf(stderr, "usage: tervane_mkdb <path of Tervix.mdb> | --folder <program folder>\n");
  return 2;
}
