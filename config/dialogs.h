// What the window's rules ask of the desktop: message boxes, the "Add New" dialog, the
// station dialog, the SNMPv3 user dialog and the system's viewer for a file. The rules
// (tervix_model.h) speak only to this interface; the window implements it with Qt, and tests answer
// it themselves.
#ifndef TERVANE_CONFIG_DIALOGS_H_
#define TERVANE_CONFIG_DIALOGS_H_

#include <optional>
#include <string>

#include "config/station_fields.h"
#include "config/v3_user_edit.h"

namespace tervane::config {

enum class Icon { kInformation, kExclamation, kCritical, kQuestion };

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // A message box with an OK button.
  virtual void Inform(const std::string& text, const std::string& title, Icon icon) = 0;
  // A message box with the buttons Yes and No; true for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& title, Icon icon) = 0;
  // The modal "Add New" dialog: the name typed when it was closed with "&OK" (possibly
  // empty), nothing when it was cancelled or closed by its close box.
  virtual std::optional<std::string> AskNewTrapName() = 0;
  // Asks where to save a file, suggesting `suggested`: the path chosen, or nothing when the
  // user cancelled.
  virtual std::optional<std::string> AskSaveFile(const std::string& title,
                                                 const std::string& suggested) = 0;
  // The modal dialog of a further station, titled `title`, showing `fields`: each "&OK" hands
  // what it holds to `accept`, and the dialog closes when the verdict says so; "&Cancel" and
  // the close box close it without a call. A program without a window shows none.
  virtual void EditStation(const std::string& title, const StationFields& fields,
                           const StationAccept& accept) {
    (void)title;
    (void)fields;
    (void)accept;
  }
  // The modal dialog of an SNMPv3 user, as `setup` says: each "&OK" hands what it holds to
  // `accept`, and the dialog closes when the verdict says so. The passwords typed are cleared
  // when it closes, however it is closed. A program without a window shows none.
  virtual void EditV3User(const V3UserDialogSetup& setup, const V3UserAccept& accept) {
    (void)setup;
    (void)accept;
  }
  // Hands `path` to the desktop's viewer for its type; what the viewer does is not looked at.
  virtual void OpenFile(const std::string& path) = 0;
};

}  // namespace tervane::config

#endif  // TERVANE_CONFIG_DIALOGS_H_
