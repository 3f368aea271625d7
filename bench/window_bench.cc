// Window benchmark: how long the configuration window Tervix takes to start on a program
// folder holding the most definitions there can be (30, each with 14 variables).
//
// It starts itself again as a child, once per run, so every run pays what a user's start pays:
// loading the program and Qt, the application object, reading Tervix.mdb, building the window
// and showing it (on the offscreen platform, so no X server is needed). The child reports when
// its window is exposed; the parent measures from before the child's start to that report.
//
// Usage: window_bench [RUNS]   (default 10). Prints the fastest, median and slowest start.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QtTest/QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "config/mainwindow.h"
#include "config/tervix_model.h"
#include "store/store.h"

namespace {

using Clock = std::chrono::steady_clock;

// Answers nothing: a start shows no message.
class SilentDialogs : public tervane::config::Dialogs {
 public:
  void Inform(const std::string&, const std::string&, tervane::config::Icon) override {}
  bool AskYesNo(const std::string&, const std::string&, tervane::config::Icon) override {
    return false;
  }
  std::optional<std::string> AskNewTrapName() override { return std::nullopt; }
  std::optional<std::string> AskSaveFile(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void OpenFile(const std::string&) override {}
};

int Child(int argc, char** argv, const std::string& folder) {
  // Qt's notes about the offscreen platform and the runtime folder would drown the figures.
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  QApplication app(argc, argv);
  SilentDialogs dialogs;
  auto model = tervane::config::TervixModel::Open(folder, dialogs);
  if (!model.ok()) {
    std::fprintf(stderr, "window_bench: %s\n", model.status().ToString().c_str());
    return 1;
  }
  tervane::config::MainWindow window(**model);
  window.show();
  if (!QTest::qWaitForWindowExposed(&window, 10000)) return 1;
  QApplication::processEvents();
  std::puts("ready");
  std::fflush(stdout);
  return 0;
}

bool MakeFolder(const std::string& folder) {
  if (!tervane::store::Store::Create(folder + "/Tervix.mdb").ok()) return false;
  tervane::Result<tervane::store::Store> db = tervane::store::Store::Open(folder);
  if (!db.ok()) return false;
  for (int k = 1; k <= tervane::config::kMaxDefinitions; ++k) {
    tervane::store::ColumnValues columns = {
        {"TrapName", tervane::store::Value("trap" + std::to_string(k))},
        {"TrapOID", tervane::store::Value("1.3.6.1.4.1.32473.7." + std::to_string(k))},
        {"TrapSourceVarNo", tervane::store::Value(1)},
        {"TrapNewNumber", tervane::store::Value(1000 + 100 * (k - 1))},
        {"TrapNewVarNo", tervane::store::Value(14)}};
    for (int i = 1; i <= tervane::config::kVarRows; ++i) {
      const std::string n = std::to_string(i);
      columns.emplace_back("VarName" + n, tervane::store::Value("var" + n));
      columns.emplace_back("VarPos" + n, tervane::store::Value(i));
      columns.emplace_back("VarChar" + n, tervane::store::Value(2));
      columns.emplace_back("VarType" + n, tervane::store::Value("DisplayString"));
    }
    if (!db->AddTrap(columns).ok()) return false;
  }
  return true;
}

// Milliseconds from before the child's start to its "ready"; negative when it failed.
double OneStart(const std::string& self, const std::string& folder) {
  int out[2];
  if (pipe(out) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string child = "--child";
  std::vector<char*> args = {const_cast<char*>(self.c_str()), child.data(),
                             const_cast<char*>(folder.c_str()), nullptr};
  const Clock::time_point start = Clock::now();
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, self.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  double ms = -1;
  if (rc == 0) {
    char buf[16] = {};
    if (read(out[0], buf, sizeof buf - 1) > 0 && std::string(buf).rfind("ready", 0) == 0) {
      ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ms = -1;
  }
  close(out[0]);
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (argc == 3 && std::string(argv[1]) == "--child") return Child(argc, argv, argv[2]);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  char pattern[] = "/tmp/tervix-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string folder = pattern;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  std::vector<double> times;
  bool made = MakeFolder(folder);
  for (int i = 0; made && i < runs; ++i) {
    const double ms = OneStart(self, folder);
    if (ms < 0) break;
    times.push_back(ms);
  }
  std::filesystem::remove_all(folder);
  if (!made || times.size() != static_cast<size_t>(runs)) {
    std::fprintf(stderr, "window_bench: a start failed\n");
    return 1;
  }
  std::sort(times.begin(), times.end());
  std::printf("Tervix start with 30 definitions of 14 variables, to the window shown (%d runs):\n",
              runs);
  std::printf("  fastest %.1f ms, median %.1f ms, slowest %.1f ms\n", times.front(),
              times[times.size() / 2], times.back());
  return 0;
}
