// The service's single-threaded event loop over poll(). Every event of the service (a
// datagram for the listener, a signal turned into a state request, a tick, a timer that came
// due) is delivered by it, one at a time, on the one thread.
//
// The loop is re-entrant: a handler may call WaitWithEvents, which processes further
// events from inside that handler. Nesting is bounded (kMaxNesting levels of handlers);
// past that WaitWithEvents only waits, so a flood can never grow the stack without limit.
// Watch and Unwatch may be called from any handler, at any depth: a handler that is
// unwatched while it runs finishes its run, and is never called again.
#ifndef TERVANE_SERVICE_SNMP_EVENT_LOOP_H_
#define TERVANE_SERVICE_SNMP_EVENT_LOOP_H_

#include <poll.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace tervane::snmp {

class EventLoop {
 public:
  using Handler = std::function<void()>;
  // Most handlers that may be active at once, one inside another.
  static constexpr int kMaxNesting = 16;
  // Length of one WaitWithEvents step.
  static constexpr int kStepMs = 10;

  EventLoop() = default;
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Calls `on_readable` whenever `fd` is readable (or has an error or hang-up pending, so
  // that the handler can see it). One watch per fd; watching an fd again replaces its
  // handler. The loop does not own the fd; unwatch it before closing it (a closed fd that
  // is still watched is dropped from the watch list the first time poll reports it).
  void Watch(int fd, Handler on_readable);
  // Stops watching `fd`; safe to call from inside that fd's own handler. Does nothing for
  // an fd that is not watched.
  void Unwatch(int fd);
  bool watching(int fd) const;

  // Waits up to `timeout_ms` (negative: without limit) for events and runs the handler of
  // every fd that is ready, one after another. Returns the number of handlers run. At the
  // nesting limit it runs no handler and only waits (a negative timeout then returns at
  // once instead of blocking forever).
  int RunOnce(int timeout_ms);
  // Processes events until Quit() is called; Quit() before Run() makes it return at once.
  // The quit request is consumed when Run returns.
  void Run();
  void Quit() { quit_ = true; }
  bool quitting() const { return quit_; }

  // Waits (ms / kStepMs) steps of kStepMs, on steady-clock deadlines, processing events
  // as they arrive during each step and the pending ones at its end. Fewer than kStepMs
  // milliseconds wait no step and process nothing.
  void WaitWithEvents(int ms);

  // Calls `on_tick` every `period_ms` (the first time `period_ms` from now), from the loop's
  // outermost level only: never inside another handler, so a tick never interrupts one, and
  // a tick that comes due during a handler runs after it. Replaces an earlier ticker;
  // `period_ms` of 0 or less removes it.
  void SetTicker(int period_ms, Handler on_tick);

  // Calls `on_due` once, `ms` from now (0 or less: at the next round), from the loop's
  // outermost level only, as the ticker. Returns the timer's id, never 0. Timers due together
  // run in the order of their due times.
  using TimerId = uint64_t;
  TimerId After(int ms, Handler on_due);
  // Forgets the timer `id` so that it never runs; does nothing for one that ran or is unknown.
  void Cancel(TimerId id);
  bool pending(TimerId id) const;

  // Number of handlers currently running, one inside another (0 outside any handler).
  int depth() const { return depth_; }

 private:
  struct Watcher {
    int fd;
    // Shared so that a handler that unwatches or replaces itself stays alive until its
    // run ends.
    std::shared_ptr<Handler> handler;
    // Identifies this registration: a ready fd found in a poll is only dispatched to the
    // registration that was polled, never to one that replaced it meanwhile.
    uint64_t generation;
  };
  struct Polled {
    uint64_t generation;
  };

  Watcher* Find(int fd);
  // Polls the watched fds and dispatches the ready ones. `timeout_ms` as for poll().
  int PollAndDispatch(int timeout_ms);

  std::vector<Watcher> watchers_;
  // One scratch poll set per nesting level, reused so that polling allocates nothing in
  // the steady state.
  std::array<std::vector<pollfd>, kMaxNesting + 1> poll_sets_;
  std::array<std::vector<Polled>, kMaxNesting + 1> polled_;
  // Bounds `timeout_ms` (as for poll) by the ticker's and the timers' next times.
  int TickerTimeout(int timeout_ms) const;
  // Runs the ticker and the timers that are due.
  void TickIfDue();
  void RunDueTimers();

  struct Timer {
    TimerId id;
    std::chrono::steady_clock::time_point due;
    Handler handler;
  };
  // Few at a time (the listener's and the agent's retries): a plain list.
  std::vector<Timer> timers_;
  TimerId last_timer_ = 0;

  Handler ticker_;
  std::chrono::milliseconds ticker_period_{0};
  std::chrono::steady_clock::time_point next_tick_{};
  uint64_t generation_ = 0;
  uint64_t dispatches_ = 0;  // handler runs so far, to notice nested dispatching
  int depth_ = 0;
  bool quit_ = false;
};

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_EVENT_LOOP_H_
