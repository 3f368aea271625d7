#include "platform/program_folder.h"

#include <unistd.h>

#include <climits>
#include <string>

#include "platform/file.h"

namespace tervane {

std::string ProgramFolder() {
  Result<std::string> exe = ExecutablePath();
  if (!exe.ok()) {
    char buf[PATH_MAX];
    return getcwd(buf, sizeof buf) != nullptr ? buf : ".";
  }
  const size_t slash = exe->rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return exe->substr(0, slash);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace tervane
