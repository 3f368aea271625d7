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
  kOff = 1U << 4U,
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
      // Parsed by ParseStorm: an action word and its operands.
      {"storm", SvcCommand::kStorm, kFolder | kOff, Operand::kNone},
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
  if (arg == "--off") return kOff;
  return 0;
}

struct StormForm {
  const char* word;
  StormAction action;
  size_t operands;
  unsigned options;
};

// `tervane-svc storm [ACTION] [OPERAND...]`, the options anywhere after "storm": a rule's
// PREFIX PER_MINUTE BURST read better together, with --off after them.
std::optional<SvcCommandLine> ParseStorm(const std::vector<std::string>& args,
                                         SvcCommandLine line) {
  static const StormForm kStormForms[] = {
      {"list", StormAction::kList, 0, kFolder},     {"on", StormAction::kOn, 0, kFolder},
      {"off", StormAction::kOff, 0, kFolder},       {"set", StormAction::kSet, 3, kFolder | kOff},
      {"remove", StormAction::kRemove, 1, kFolder},
  };
  unsigned given = 0;
  std::vector<std::string> words;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (const unsigned option = OptionNamed(arg); option != 0) {
      // An option that the action does not take is refused below, once the action is known.
      if ((given & option) != 0) return std::nullopt;
      given |= option;
      if (option == kFolder) {
        if (i + 1 == args.size() || args[i + 1].empty()) return std::nullopt;
        line.folder = args[++i];
      }
    } else if (arg.empty() || arg[0] == '-') {
      // An option of no command, or an empty operand; a negative number is no rate either.
      return std::nullopt;
    } else {
      words.push_back(arg);
    }
  }
  const StormForm* form = &kStormForms[0];  // no action word: list
  if (!words.empty()) {
    form = nullptr;
    for (const StormForm& f : kStormForms) {
      if (words[0] == f.word) form = &f;
    }
    if (form == nullptr) return std::nullopt;
    words.erase(words.begin());
  }
  if (words.size() != form->operands || (given & ~form->options) != 0) return std::nullopt;
  line.storm = form->action;
  line.operands = std::move(words);
  line.off = (given & kOff) != 0;
  return line;
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
  if (form->command == SvcCommand::kStorm) return ParseStorm(args, std::move(line));
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
