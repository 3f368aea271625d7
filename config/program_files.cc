// The files of the program folder that the window opens: the user guide, the service's debug
// file, and the MIB module it generates.
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "config/mib_module.h"
#include "config/tervix_model.h"
#include "platform/program_folder.h"

namespace tervane::config {

namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

void TervixModel::cmdReadMe_Click() { OpenProgramFile("readme.txt", "No ReadMe File Exist"); }

void TervixModel::cmdGenerateMIB_Click() {
  // The stored definitions, not the shown fields: the page of this button is reached only
  // after the shown definition was stored.
  std::string path = JoinPath(folder_, kMibFileName);
  if (read_only()) {
    // A user who may not change the settings may not write the program folder either: the
    // module goes where the user says.
    const char* home = std::getenv("HOME");
    std::optional<std::string> chosen = dialogs_.AskSaveFile(
        "Generate MIB File", JoinPath(home != nullptr ? home : ".", kMibFileName));
    if (!chosen || chosen->empty()) return;
    path = *chosen;
  }
  Result<std::vector<std::string>> warnings = GenerateMibFile(folder_, path);
  if (!warnings.ok()) {
    dialogs_.Inform("The MIB file could not be written: " + warnings.status().description(),
                    kTitleTervix, Icon::kCritical);
    return;
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    dialogs_.Inform("No MIB File Exist", kTitleTervane, Icon::kInformation);
    return;
  }
  dialogs_.OpenFile(path);
  if (warnings->empty()) return;
  std::string text = kMibWarningsIntro;
  text += "\r\n";
  for (const std::string& warning : *warnings) text += "\r\n" + warning;
  dialogs_.Inform(text, kTitleTervane, Icon::kInformation);
}

void TervixModel::cmdTrapOID_Click() { OpenProgramFile("debug.txt", "No Debug File Exist"); }

void TervixModel::cmdValToSplit_Click() { OpenProgramFile("debug.txt", "No Debug File Exist"); }

std::optional<std::string> TervixModel::FindProgramFile(const std::string& name) const {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path exact = fs::path(folder_) / name;
  if (fs::is_regular_file(exact, ec)) return exact.string();
  const std::string wanted = Upper(name);
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    if (Upper(it->path().filename().string()) == wanted && fs::is_regular_file(it->path(), ec)) {
      return it->path().string();
    }
  }
  return std::nullopt;
}

void TervixModel::OpenProgramFile(const std::string& name, const char* missing) {
  if (std::optional<std::string> path = FindProgramFile(name)) {
    dialogs_.OpenFile(*path);
  } else {
    dialogs_.Inform(missing, kTitleTervane, Icon::kInformation);
  }
}

}  // namespace tervane::config
