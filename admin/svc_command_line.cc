#include "admin/svc_command_line.h"

#include <algorithm>
#include <span>

namespace tervane::svc {
namespace {

// The options, as bits of what a command takes.
enum Option : unsigned {
  kWait = 1U << 0U,
  kFolder = 1U << 1U,
  kPrometheus = 1U << 2U,
  kOutput = 1U << 3U,
  kOff = 1U << 4U,
  kWithKeys = 1U << 5U,
  kEngine = 1U << 6U,
  kAuth = 1U << 7U,
  kPriv = 1U << 8U,
  kSet = 1U << 9U,
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
      {"export", SvcCommand::kExport, kFolder | kWithKeys, Operand::kFile},
      {"import", SvcCommand::kImport, kFolder, Operand::kFileRequired},
      // Parsed by ParseActions: an action word and its operands.
      {"storm", SvcCommand::kStorm, kFolder | kOff, Operand::kNone},
      {"v3user", SvcCommand::kV3User, kFolder | kEngine | kAuth | kPriv, Operand::kNone},
      {"engine", SvcCommand::kEngine, kFolder | kSet, Operand::kNone},
  };
  for (const CommandForm& form : kForms) {
    if (word == form.word) return &form;
  }
  return nullptr;
}

unsigned OptionNamed(const std::string& arg) {
  static const struct {
    const char* word;
    Option option;
  } kOptions[] = {
      {"--wait", kWait},     {"--folder", kFolder}, {"--prometheus", kPrometheus},
      {"--output", kOutput}, {"--off", kOff},       {"--with-keys", kWithKeys},
      {"--engine", kEngine}, {"--auth", kAuth},     {"--priv", kPriv},
      {"--set", kSet},
  };
  for (const auto& o : kOptions) {
    if (arg == o.word) return o.option;
  }
  return 0;
}

// Takes the option `option`, found at args[*i], into `line`, with its value, the next
// argument, for those that have one (*i then moves on to it). False for a value that is
// missing or empty.
bool TakeOption(unsigned option, const std::vector<std::string>& args, size_t* i,
                SvcCommandLine* line) {
  bool* flag = option == kWait         ? &line->wait
               : option == kPrometheus ? &line->prometheus
               : option == kOff        ? &line->off
               : option == kWithKeys   ? &line->with_keys
                                       : nullptr;
  if (flag != nullptr) {
    *flag = true;
    return true;
  }
  std::string* value = option == kFolder   ? &line->folder
                       : option == kOutput ? &line->output
                       : option == kEngine ? &line->engine
                       : option == kAuth   ? &line->auth
                       : option == kPriv   ? &line->priv
                                           : &line->set_engine;
  if (*i + 1 == args.size() || args[*i + 1].empty()) return false;
  *value = args[++*i];
  return true;
}

// An action word of storm or v3user, the number of operands it takes and its options.
struct ActionForm {
  const char* word;
  int action;
  size_t operands;
  unsigned options;
};

constexpr ActionForm kStormForms[] = {
    {"list", static_cast<int>(StormAction::kList), 0, kFolder},
    {"on", static_cast<int>(StormAction::kOn), 0, kFolder},
    {"off", static_cast<int>(StormAction::kOff), 0, kFolder},
    {"set", static_cast<int>(StormAction::kSet), 3, kFolder | kOff},
    {"remove", static_cast<int>(StormAction::kRemove), 1, kFolder},
};

constexpr ActionForm kV3UserForms[] = {
    {"list", static_cast<int>(V3UserAction::kList), 0, kFolder},
    {"add", static_cast<int>(V3UserAction::kAdd), 1, kFolder | kEngine | kAuth | kPriv},
    {"remove", static_cast<int>(V3UserAction::kRemove), 1, kFolder | kEngine},
};

// `tervane-svc storm|v3user [ACTION] [OPERAND...]`, the options anywhere after the command's
// word: a rule's PREFIX PER_MINUTE BURST read better together, with --off after them. The
// first of `forms` is the action without a word. Sets line->operands and returns the form
// chosen; nothing for a usage error.
const ActionForm* ParseActions(const std::vector<std::string>& args,
                               std::span<const ActionForm> forms, SvcCommandLine* line) {
  unsigned given = 0;
  std::vector<std::string> words;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (const unsigned option = OptionNamed(arg); option != 0) {
      // An option that the action does not take is refused below, once the action is known.
      if ((given & option) != 0 || !TakeOption(option, args, &i, line)) return nullptr;
      given |= option;
    } else if (arg.empty() || arg[0] == '-') {
      // An option of no command, or an empty operand; a negative number is no rate either.
      return nullptr;
    } else {
      words.push_back(arg);
    }
  }
  const ActionForm* form = forms.data();  // no action word: the first
  if (!words.empty()) {
    form = nullptr;
    for (const ActionForm& f : forms) {
      if (words[0] == f.word) form = &f;
    }
    if (form == nullptr) return nullptr;
    words.erase(words.begin());
  }
  if (words.size() != form->operands || (given & ~form->options) != 0) return nullptr;
  // Privacy keys are made with the authentication protocol's hash: no privacy without it.
  if ((given & kPriv) != 0 && (given & kAuth) == 0) return nullptr;
  line->operands = std::move(words);
  return form;
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
  if (form->command == SvcCommand::kStorm) {
    const ActionForm* action = ParseActions(args, kStormForms, &line);
    if (action == nullptr) return std::nullopt;
    line.storm = static_cast<StormAction>(action->action);
    return line;
  }
  if (form->command == SvcCommand::kV3User) {
    const ActionForm* action = ParseActions(args, kV3UserForms, &line);
    if (action == nullptr) return std::nullopt;
    line.v3user = static_cast<V3UserAction>(action->action);
    if (!line.operands.empty()) line.user = line.operands[0];
    line.operands.clear();
    return line;
  }
  unsigned given = 0;
  const bool takes_file =
      form->operand == Operand::kFile || form->operand == Operand::kFileRequired;
  bool operand_given = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (const unsigned option = OptionNamed(arg); option != 0) {
      if ((form->options & option) == 0 || (given & option) != 0 ||
          !TakeOption(option, args, &i, &line)) {
        return std::nullopt;
      }
      given |= option;
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
  // The keys go into a file of the owner's only, never to standard output.
  if (line.with_keys && (line.file.empty() || line.file == "-")) return std::nullopt;
  return line;
}

}  // namespace tervane::svc
