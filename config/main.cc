// Tervix: the configuration window of Tervane, on Tervix.mdb of its own program folder.
//
// Exit status 0 once the window is closed, 1 when the settings database cannot be opened or
// its settings row went away while the window was open (after a message box that says why). The
// options that need no window (command_line.h) are carried out before Qt is started, so that they
// run without a display.
#include <QApplication>
#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "config/command_line.h"
#include "config/mainwindow.h"
#include "config/qtdialogs.h"
#include "config/tervix_model.h"
#include "platform/file.h"
#include "platform/program_folder.h"

int main(int argc, char** argv) {
  // The service and the administrators share the program folder through its group.
  tervane::KeepGroupWritable();
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (std::optional<int> status =
          tervane::config::RunWithoutWindow(args, tervane::ProgramFolder(), std::cout, std::cerr)) {
    return *status;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName("Tervix");

  tervane::config::QtDialogs dialogs;
  // --read-only opens the window without changing anything, also for a user who may.
  const bool read_only = std::find(args.begin(), args.end(), "--read-only") != args.end();
  tervane::Result<std::unique_ptr<tervane::config::TervixModel>> model =
      tervane::config::TervixModel::Open(tervane::ProgramFolder(), dialogs, read_only);
  if (!model.ok()) {
    dialogs.Inform(model.status().description(), "Tervix", tervane::config::Icon::kCritical);
    return 1;
  }
  tervane::config::MainWindow window(**model);
  dialogs.SetModel(model->get());
  dialogs.SetParent(&window);
  window.show();
  const int status = QApplication::exec();
  // The settings row went away while the window was open: the window closed after saying so.
  return (*model)->ended() ? 1 : status;
}
