#include "platform/program_folder.h"

#include <unistd.h>

#include <climits>
#include <string>

namespace tervane {

std::string ProgramFolder() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string exe;
  if (n > 0) {
    exe.assign(buf, static_cast<size_t>(n));
  } else if (getcwd(buf, sizeof buf) != nullptr) {
    return buf;
  } else {
    return ".";
  }
  size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return exe.substr(0, slash);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace tervane
