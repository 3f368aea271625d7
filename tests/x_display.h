// A connection to an X server for tests that run a program with a window: find a top-level
// window by its title and ask it to close, as a window manager's close box does (the
// WM_DELETE_WINDOW message of ICCCM). Xlib stays inside x_display.cc, whose macros (Status,
// None, Bool) would collide with the project's names.
#ifndef TERVANE_TESTS_X_DISPLAY_H_
#define TERVANE_TESTS_X_DISPLAY_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tervane::testing {

class XDisplay {
 public:
  // Connects to `name` (":5"); null when the server does not answer.
  static std::unique_ptr<XDisplay> Open(const std::string& name);
  ~XDisplay();
  XDisplay(const XDisplay&) = delete;
  XDisplay& operator=(const XDisplay&) = delete;

  // The titles of the top-level windows that are mapped now.
  std::vector<std::string> Titles();
  // The first mapped top-level window titled `title`, if there is one.
  std::optional<unsigned long> FindWindow(const std::string& title);
  // Sends WM_DELETE_WINDOW to `window`; false when it could not be sent.
  bool RequestClose(unsigned long window);

 private:
  explicit XDisplay(void* display) : display_(display) {}
  struct Window {
    unsigned long id;
    std::string title;
  };
  std::vector<Window> TopLevels();

  void* display_;
};

}  // namespace tervane::testing

#endif  // TERVANE_TESTS_X_DISPLAY_H_
