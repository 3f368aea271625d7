#include "admin/svc_command_line.h"

#include <algorithm>

namespace tervane::svc {
namespace {

// The options, as bits of what a command takes.
enum Option : unsigned {
  kWait = 1U << 0U,
  kFolder = 1U << 1U,
  kPrometheus = 1U << 2U,
  kOutput = 1U << 3U,
};

// What a command takes after its options: nothing, the service's NAME, or a FILE.
enum class Operand { kNone, kName, kFile, kFileRequired };

struct CommandForm {
  const char* word;
  SvcCommand command;
  unsigned options;
  Operand operand;
};

const CommandForm* FormNamed(const std::string& word) {
  static const CommandForm kForms[] = {
      {"query", SvcCommand::kQuery, 0, Operand::kName},
      {"config", SvcCommand::kConfig, 0, Operand::kName},
      {"start", SvcCommand::kStart, kWait, Operand::kName},
      {"stop", SvcCommand::kStop, kWait, Operand::kName},
      {"delete", SvcCommand::kDelete, 0, Operand::kName},
      {"unit", SvcCommand::kUnit, kFolder, Operand::kName},
      {"rule", SvcCommand::kRule, 0, Operand::kName},
      // The counters and the settings are the program folder's, whatever the service is
      // called.
      {"stats", SvcCommand::kStats, kFolder | kPrometheus | kOutput, Operand::kNone},
      {"check", SvcCommand::kCheck, kFolder, Operand::kName},
      {"export", SvcCommand::kExport, kFolder, Operand::kFile},
      {"import", SvcCommand::kImport, kFolder, Operand::kFileRequired},
  };
  for (const CommandForm& form : kForms) {
    if (word == form.word) return &form;
  }
  return nullptr;
}

unsigned OptionNamed(const std::string& arg) {
  if (arg == "--wait") return kWait;
  if (arg == "--folder") return kFolder;
  if (arg == "--prometheus") return kPrometheus;
  if (arg == "--output") return kOutput;
  return 0;
}

}  // namespace

std::optional<SvcCommandLine> ParseSvcCommandLine(const std::vector<std::string>& args) {
  SvcCommandLine line;
  if (std::any_of(args.begin(), args.end(),
                  [](const std::string& a) { return a == "--help" || a == "-h"; })) {
    return line;
  }
  if (args.empty()) return std::nullopt;
  const CommandForm* form = FormNamed(args[0]);
  if (form == nullptr) return std::nullopt;
  line.command = form->command;
  unsigned given = 0;
  const bool takes_file =
      form->operand == Operand::kFile || form->operand == Operand::kFileRequired;
  bool operand_given = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (const unsigned option = OptionNamed(arg); option != 0) {
      if ((form->options & option) == 0 || (given & option) != 0) return std::nullopt;
      given |= option;
      if (option == kWait) {
        line.wait = true;
      } else if (option == kPrometheus) {
        line.prometheus = true;
      } else {
        // --folder DIR, --output FILE: a value that is not empty.
        if (i + 1 == args.size() || args[i + 1].empty()) return std::nullopt;
        (option == kFolder ? line.folder : line.output) = args[++i];
      }
    } else if ((!arg.empty() && arg[0] == '-' && !(arg == "-" && takes_file)) ||
               i + 1 != args.size() || form->operand == Operand::kNone ||
               (takes_file && arg.empty())) {
      // An option of no command, an operand that is not the last argument, or one given to a
      // command that takes none; "-" is a FILE, standard input or output.
      return std::nullopt;
    } else {
      (takes_file ? line.file : line.name) = arg;
      operand_given = true;
    }
  }
  if (form->operand == Operand::kFileRequired && !operand_given) return std::nullopt;
  return line;
}

}  // namespace tervane::svc
