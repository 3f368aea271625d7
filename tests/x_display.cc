#include "tests/x_display.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace tervane::testing {
namespace {

Display* D(void* display) { return static_cast<Display*>(display); }

// A window may go away between listing it and reading its name: such errors are expected
// and must not end the test program, which Xlib's default handler would do.
int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

}  // namespace

std::unique_ptr<XDisplay> XDisplay::Open(const std::string& name) {
  XSetErrorHandler(IgnoreErrors);
  Display* display = XOpenDisplay(name.c_str());
  if (display == nullptr) return nullptr;
  return std::unique_ptr<XDisplay>(new XDisplay(display));
}

XDisplay::~XDisplay() { XCloseDisplay(D(display_)); }

std::vector<XDisplay::Window> XDisplay::TopLevels() {
  std::vector<Window> windows;
  Display* display = D(display_);
  ::Window root = 0;
  ::Window parent = 0;
  ::Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0) {
    return windows;
  }
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  const Atom net_wm_name = XInternAtom(display, "_NET_WM_NAME", False);
  for (unsigned int i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, children[i], &attributes) == 0 ||
        attributes.map_state != IsViewable) {
      continue;
    }
    // _NET_WM_NAME in UTF-8, as Qt sets it; WM_NAME otherwise.
    std::string title;
    Atom type = 0;
    int format = 0;
    unsigned long items = 0;
    unsigned long left = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, children[i], net_wm_name, 0, 1024, False, utf8, &type, &format,
                           &items, &left, &data) == Success &&
        data != nullptr && type == utf8 && format == 8) {
      title.assign(reinterpret_cast<const char*>(data), items);
    } else {
      char* name = nullptr;
      if (XFetchName(display, children[i], &name) != 0 && name != nullptr) {
        title = name;
        XFree(name);
      }
    }
    if (data != nullptr) XFree(data);
    windows.push_back({children[i], title});
  }
  if (children != nullptr) XFree(children);
  return windows;
}

std::vector<std::string> XDisplay::Titles() {
  std::vector<std::string> titles;
  for (const Window& w : TopLevels()) titles.push_back(w.title);
  return titles;
}

std::optional<unsigned long> XDisplay::FindWindow(const std::string& title) {
  for (const Window& w : TopLevels()) {
    if (w.title == title) return w.id;
  }
  return std::nullopt;
}

bool XDisplay::RequestClose(unsigned long window) {
  Display* display = D(display_);
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  const bool sent = XSendEvent(display, window, False, NoEventMask, &event) != 0;
  XFlush(display);
  return sent;
}

}  // namespace tervane::testing
