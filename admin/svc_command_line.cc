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

struct CommandForm {
  const char* word;
  SvcCommand command;
  unsigned options;
  bool takes_name;
};

const CommandForm* FormNamed(const std::string& word) {
  static const CommandForm kForms[] = {
      {"query", SvcCommand::kQuery, 0, true},
      {"config", SvcCommand::kConfig, 0, true},
      {"start", SvcCommand::kStart, kWait, true},
      {"stop", SvcCommand::kStop, kWait, true},
      {"delete", SvcCommand::kDelete, 0, true},
      {"unit", SvcCommand::kUnit, kFolder, true},
      {"rule", SvcCommand::kRule, 0, true},
      // The counters are the program folder's, whatever the service is called.
      {"stats", SvcCommand::kStats, kFolder | kPrometheus | kOutput, false},
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
    } else if ((!arg.empty() && arg[0] == '-') || i + 1 != args.size() || !form->takes_name) {
      // An option of no command, a NAME that is not the last argument, or one given to a
      // command that takes none.
      return std::nullopt;
    } else {
      line.name = arg;
    }
  }
  return line;
}

}  // namespace tervane::svc
