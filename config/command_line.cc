#include "config/command_line.h"

#include <filesystem>

#include "config/mib_module.h"
#include "platform/program_folder.h"

namespace tervane::config {
namespace {

constexpr char kUsage[] =
    "Usage: Tervix [--read-only | --generate-mib [FILE] | --help]\n"
    "The configuration window of Tervane, on Tervix.mdb in the folder of this program.\n"
    "\n"
    "  --generate-mib [FILE]  write the MIB module VANTREL-TERVANE-MIB of the stored trap\n"
    "                         definitions to FILE (by default Tervix.mib in the program\n"
    "                         folder) without opening a window, and print the path written;\n"
    "                         the module imports VANTREL-ROOT-MIB from the program folder\n"
    "  --read-only            open the window without changing anything; a user who may\n"
    "                         read Tervix.mdb but not write it gets that window anyway\n"
    "  -h, --help             print this help\n"
    "\n"
    "Without these options Tervix opens its window, which needs a desktop; Qt's own options\n"
    "(-platform, -display, ...) apply then.\n";

int GenerateMib(const std::string& folder, const std::string& file, std::ostream& out,
                std::ostream& err) {
  std::error_code ec;
  const std::filesystem::path path = std::filesystem::absolute(file, ec);
  if (ec) {
    err << "Tervix: The MIB file could not be written: " << file << ": " << ec.message() << "\n";
    return 1;
  }
  Result<std::vector<std::string>> warnings = GenerateMibFile(folder, path.string());
  if (!warnings.ok()) {
    err << "Tervix: The MIB file could not be written: " << warnings.status().description() << "\n";
    return 1;
  }
  out << path.string() << "\n";
  if (!warnings->empty()) {
    err << "Tervane: " << kMibWarningsIntro << "\n";
    for (const std::string& warning : *warnings) err << "  " << warning << "\n";
  }
  return 0;
}

}  // namespace

std::optional<int> RunWithoutWindow(const std::vector<std::string>& args, const std::string& folder,
                                    std::ostream& out, std::ostream& err) {
  if (args.empty()) return std::nullopt;
  const std::string& option = args[0];
  if (option == "--help" || option == "-h") {
    if (args.size() > 1) {
      err << "Tervix: " << option << " takes no argument\n" << kUsage;
      return 2;
    }
    out << kUsage;
    return 0;
  }
  if (option != "--generate-mib") return std::nullopt;
  if (args.size() > 2) {
    err << "Tervix: --generate-mib takes one FILE at most\n" << kUsage;
    return 2;
  }
  if (args.size() == 2 && args[1].empty()) {
    err << "Tervix: --generate-mib: the FILE name is empty\n" << kUsage;
    return 2;
  }
  return GenerateMib(folder, args.size() == 2 ? args[1] : JoinPath(folder, kMibFileName), out, err);
}

}  // namespace tervane::config
