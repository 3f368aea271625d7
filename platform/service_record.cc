#include "platform/service_record.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "platform/file.h"
#include "platform/sys_error.h"

namespace tervane::svc {
namespace {

// Parses a whole decimal number; nothing for an empty text, other characters or overflow.
std::optional<unsigned long long> ParseNumber(const std::string& text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  unsigned long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const unsigned long long digit = static_cast<unsigned long long>(c - '0');
    if (value > (ULLONG_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

// The blank-separated words of the first line of `text`.
std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text.substr(0, text.find('\n')));
  std::vector<std::string> words;
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

std::optional<pid_t> ParsePid(const std::string& text) {
  std::optional<unsigned long long> n = ParseNumber(text);
  if (!n || *n == 0 || *n > static_cast<unsigned long long>(INT_MAX)) return std::nullopt;
  return static_cast<pid_t>(*n);
}

}  // namespace

std::string RegistryDir() {
  const char* dir = std::getenv(kServiceDirVariable);
  return dir != nullptr && *dir != '\0' ? std::string(dir) : std::string(kDefaultServiceDir);
}

std::string FormatRecord(const ServiceConfig& config) {
  // Values are single lines: a line break would start a key of its own.
  auto line = [](const char* key, const std::string& value) {
    std::string out = key;
    out += '=';
    for (char c : value) out += (c == '\n' || c == '\r') ? ' ' : c;
    out += '\n';
    return out;
  };
  return "# Service record of the Tervane service manager.\n" +
         line("DisplayName", config.display_name) + line("BinaryPath", config.binary_path) +
         line("WorkingDirectory", config.working_directory) +
         line("StartType", std::to_string(config.start_type));
}

std::optional<ServiceConfig> ParseRecord(const std::string& text) {
  ServiceConfig config;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    if (key == "DisplayName") {
      config.display_name = value;
    } else if (key == "BinaryPath") {
      config.binary_path = value;
    } else if (key == "WorkingDirectory") {
      config.working_directory = value;
    } else if (key == "StartType") {
      std::optional<unsigned long long> n = ParseNumber(value);
      if (!n || *n > 4) return std::nullopt;
      config.start_type = static_cast<int>(*n);
    }
  }
  if (config.binary_path.empty()) return std::nullopt;
  return config;
}

std::string FormatPidFile(const ProcessId& id) {
  return std::to_string(id.pid) + " " + std::to_string(id.start_time) + "\n";
}

std::optional<ProcessId> ParsePidFile(const std::string& text) {
  const std::vector<std::string> words = Words(text);
  if (words.size() != 2) return std::nullopt;
  std::optional<pid_t> pid = ParsePid(words[0]);
  std::optional<unsigned long long> start = ParseNumber(words[1]);
  if (!pid || !start) return std::nullopt;
  return ProcessId{*pid, *start};
}

std::string FormatStateReport(const StateReport& report) {
  return std::to_string(report.state) + " " + std::to_string(report.pid) + "\n";
}

std::optional<StateReport> ParseStateReport(const std::string& text) {
  const std::vector<std::string> words = Words(text);
  if (words.size() != 2) return std::nullopt;
  std::optional<unsigned long long> state = ParseNumber(words[0]);
  std::optional<pid_t> pid = ParsePid(words[1]);
  if (!state || *state < kServiceStopped || *state > kServicePaused || !pid) return std::nullopt;
  return StateReport{static_cast<int>(*state), *pid};
}

std::optional<ProcStat> ParseProcStat(const std::string& text) {
  // "pid (comm) state ppid ...": comm may hold blanks and parentheses, so the fields after
  // it are counted from the last ")".
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream in(text.substr(close + 1));
  std::vector<std::string> fields;  // fields[0] is field 3 (state)
  std::string field;
  while (fields.size() < 20 && in >> field) fields.push_back(field);
  if (fields.size() < 20 || fields[0].size() != 1) return std::nullopt;
  std::optional<unsigned long long> start = ParseNumber(fields[19]);  // field 22
  if (!start) return std::nullopt;
  return ProcStat{fields[0][0], *start};
}

std::optional<ProcStat> ReadProcStat(pid_t pid) {
  Result<std::string> text = ReadTextFile("/proc/" + std::to_string(pid) + "/stat");
  if (!text.ok()) return std::nullopt;
  return ParseProcStat(*text);
}

bool IsLiveProcess(const ProcessId& id, const std::string& binary) {
  if (id.pid <= 0) return false;
  std::optional<ProcStat> stat = ReadProcStat(id.pid);
  if (!stat || stat->state == 'Z' || stat->state == 'X' || stat->state == 'x') return false;
  if (id.start_time != 0 && stat->start_time != id.start_time) return false;
  char buf[PATH_MAX];
  const std::string exe_link = "/proc/" + std::to_string(id.pid) + "/exe";
  const ssize_t n = readlink(exe_link.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return true;  // not ours to read; the start time has spoken
  std::string exe(buf, static_cast<size_t>(n));
  // A program replaced on disk while it runs (a rebuild, an upgrade) reads as "(deleted)".
  const std::string deleted = " (deleted)";
  if (exe.size() > deleted.size() && exe.ends_with(deleted))
    exe.resize(exe.size() - deleted.size());
  std::error_code ec;
  const std::filesystem::path want = std::filesystem::weakly_canonical(binary, ec);
  return exe == (ec ? binary : want.string());
}

Result<std::string> ReadTextFile(const std::string& path) {
  Result<std::string> text = ReadFile(path);
  if (!text.ok()) return AsServiceError(text.status());
  return text;
}

Status WriteTextFileAtomic(const std::string& path, const std::string& text, int mode) {
  return AsServiceError(ReplaceFile(path, text, mode));
}

Result<RegistryLock> RegistryLock::Take(const std::string& dir, bool create) {
  if (create) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return ServiceErrno(ec.value(), dir);
  }
  Result<UniqueFd> fd = LockFile(dir + "/.lock", true);
  if (!fd.ok()) {
    struct stat st {};
    if (fd.status().error() == ErrnoCode(ENOENT) && stat(dir.c_str(), &st) != 0) {
      return ServiceError(kErrorServiceDoesNotExist);  // no registry, so no service
    }
    return AsServiceError(fd.status());
  }
  return RegistryLock(std::move(*fd));
}

}  // namespace tervane::svc
