// Tervix's command line: what it does without a window.
//
//   Tervix                         opens the window (Qt's own options, such as -platform, apply)
//   Tervix --read-only             opens the window without changing anything
//   Tervix --generate-mib [FILE]   writes the MIB module of the stored trap definitions to FILE,
//                                  by default Tervix.mib in the program folder, and ends
//   Tervix --help                  prints the options and ends
//
// This runs before any Qt object exists: QApplication ends the process without a display, and
// an administrator on a server without one must still be able to make the MIB file.
#ifndef TERVANE_CONFIG_COMMAND_LINE_H_
#define TERVANE_CONFIG_COMMAND_LINE_H_

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tervane::config {

// Carries out `args` (the arguments after the program's name) on the program folder `folder`
// when they ask for something without a window, and returns the exit status: 0 after success,
// 1 when the file could not be written (the reason on `err`), 2 for arguments it cannot use.
// The path written goes to `out`, and what a management station will not load in the module
// to `err`. Nothing when the window is to open.
std::optional<int> RunWithoutWindow(const std::vector<std::string>& args, const std::string& folder,
                                    std::ostream& out, std::ostream& err);

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_COMMAND_LINE_H_
