#include "platform/svc_command_line.h"

#include <algorithm>

namespace tervane::svc {
namespace {

std::optional<SvcCommand> CommandNamed(const std::string& word) {
  static const struct {
    const char* word;
    SvcCommand command;
  } kCommands[] = {
      {"query", SvcCommand::kQuery}, {"config", SvcCommand::kConfig}, {"start", SvcCommand::kStart},
      {"stop", SvcCommand::kStop},   {"delete", SvcCommand::kDelete}, {"unit", SvcCommand::kUnit},
      {"rule", SvcCommand::kRule},
  };
  for (const auto& c : kCommands) {
    if (word == c.word) return c.command;
  }
  return std::nullopt;
}

}  // namespace

std::optional<SvcCommandLine> ParseSvcCommandLine(const std::vector<std::string>& args) {
  SvcCommandLine line;
  if (std::any_of(args.begin(), args.end(),
                  [](const std::string& a) { return a == "--help" || a == "-h"; })) {
    return line;
  }
  if (args.empty()) return std::nullopt;
  std::optional<SvcCommand> command = CommandNamed(args[0]);
  if (!command) return std::nullopt;
  line.command = *command;
  const bool waits = line.command == SvcCommand::kStart || line.command == SvcCommand::kStop;
  bool has_folder = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--wait") {
      if (!waits || line.wait) return std::nullopt;
      line.wait = true;
    } else if (arg == "--folder") {
      if (line.command != SvcCommand::kUnit || has_folder || i + 1 == args.size() ||
          args[i + 1].empty()) {
        return std::nullopt;
      }
      has_folder = true;
      line.folder = args[++i];
    } else if ((!arg.empty() && arg[0] == '-') || i + 1 != args.size()) {
      // An option of no command, or a NAME that is not the last argument.
      return std::nullopt;
    } else {
      line.name = arg;
    }
  }
  return line;
}

}  // namespace tervane::svc
