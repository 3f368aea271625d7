// The service's single-threaded event loop over poll(). Every event of the service (a
// datagram for the listener, a signal turned into a state request) is delivered by it,
// one at a time, on the one thread.
//
// The loop is re-entrant: a handler may call WaitWithEvents, which processes further
// events from inside that handler. Nesting is bounded (kMaxNesting levels); past that
// WaitWithEvents only waits, so a flood can never grow the stack without limit.
#ifndef TERVANE_SERVICE_SNMP_EVENT_LOOP_H_
#define TERVANE_SERVICE_SNMP_EVENT_LOOP_H_

#include <poll.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace tervane::snmp {

class EventLoop {
 public:
  using Handler = std::function<void()>;
  static constexpr int kMaxNesting = 16;

  EventLoop() = default;
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Calls `on_readable` whenever `fd` is readable. One watch per fd; watching an fd again
  // replaces its handler. The loop does not own the fd.
  void Watch(int fd, Handler on_readable);
  // Stops watching `fd`; safe to call from inside that fd's own handler.
  void Unwatch(int fd);

  // Waits up to `timeout_ms` (negative: without limit) for events and runs the handlers of
  // every fd that is ready. Returns the number of handlers run.
  int RunOnce(int timeout_ms);
  // Processes events until Quit() is called.
  void Run();
  void Quit() { quit_ = true; }
  bool quitting() const { return quit_; }

  // (ms / 10) steps of 10 ms, processing pending events after each step.
  void WaitWithEvents(int ms);

  int depth() const { return depth_; }

 private:
  struct Watcher {
    int fd;
    Handler handler;
    uint64_t generation;
  };
  std::vector<Watcher> watchers_;
  uint64_t generation_ = 0;
  int depth_ = 0;
  bool quit_ = false;
};

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_EVENT_LOOP_H_
