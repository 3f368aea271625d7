#include "service/snmp/event_loop.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <utility>

namespace tervane::snmp {

namespace {

constexpr short kReadyEvents = POLLIN | POLLERR | POLLHUP | POLLNVAL;

// Sleeps up to `ms` milliseconds; a signal may end it early, which every caller tolerates
// because it loops on its own deadline.
void Sleep(int ms) {
  if (ms > 0) poll(nullptr, 0, ms);
}

// Keeps depth_ right even if a handler throws.
class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : depth_(depth) { ++depth_; }
  ~DepthGuard() { --depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int& depth_;
};

}  // namespace

void EventLoop::Watch(int fd, Handler on_readable) {
  auto handler = std::make_shared<Handler>(std::move(on_readable));
  if (Watcher* w = Find(fd)) {
    w->handler = std::move(handler);
    w->generation = ++generation_;
    return;
  }
  watchers_.push_back(Watcher{fd, std::move(handler), ++generation_});
}

void EventLoop::Unwatch(int fd) {
  std::erase_if(watchers_, [fd](const Watcher& w) { return w.fd == fd; });
}

bool EventLoop::watching(int fd) const {
  return std::any_of(watchers_.begin(), watchers_.end(),
                     [fd](const Watcher& w) { return w.fd == fd; });
}

EventLoop::Watcher* EventLoop::Find(int fd) {
  for (Watcher& w : watchers_) {
    if (w.fd == fd) return &w;
  }
  return nullptr;
}

int EventLoop::RunOnce(int timeout_ms) {
  if (depth_ >= kMaxNesting) {
    Sleep(timeout_ms);
    return 0;
  }
  if ((!ticker_ && timers_.empty()) || depth_ != 0) return PollAndDispatch(timeout_ms);
  const int run = PollAndDispatch(TickerTimeout(timeout_ms));
  TickIfDue();
  return run;
}

void EventLoop::SetTicker(int period_ms, Handler on_tick) {
  if (period_ms <= 0) {
    ticker_ = nullptr;
    return;
  }
  ticker_ = std::move(on_tick);
  ticker_period_ = std::chrono::milliseconds(period_ms);
  next_tick_ = std::chrono::steady_clock::now() + ticker_period_;
}

EventLoop::TimerId EventLoop::After(int ms, Handler on_due) {
  const TimerId id = ++last_timer_;
  timers_.push_back(Timer{id, std::chrono::steady_clock::now() + std::chrono::milliseconds(ms),
                          std::move(on_due)});
  return id;
}

void EventLoop::Cancel(TimerId id) {
  std::erase_if(timers_, [id](const Timer& t) { return t.id == id; });
}

bool EventLoop::pending(TimerId id) const {
  return std::any_of(timers_.begin(), timers_.end(), [id](const Timer& t) { return t.id == id; });
}

int EventLoop::TickerTimeout(int timeout_ms) const {
  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> next;
  if (ticker_) next = next_tick_;
  for (const Timer& t : timers_) {
    if (!next || t.due < *next) next = t.due;
  }
  if (!next) return timeout_ms;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now());
  const int until_next = static_cast<int>(std::max<int64_t>(0, left.count()));
  return timeout_ms < 0 ? until_next : std::min(timeout_ms, until_next);
}

void EventLoop::TickIfDue() {
  RunDueTimers();
  const auto now = std::chrono::steady_clock::now();
  if (!ticker_ || now < next_tick_) return;
  next_tick_ = now + ticker_period_;
  const Handler tick = ticker_;  // the tick may replace the ticker
  DepthGuard guard(depth_);
  tick();
}

void EventLoop::RunDueTimers() {
  // One at a time, earliest first: a timer's handler may add or cancel timers. Only those
  // due now and set before now run, so that a handler which sets a timer anew cannot keep
  // this round going.
  const auto now = std::chrono::steady_clock::now();
  const TimerId newest = last_timer_;
  for (;;) {
    auto due = timers_.end();
    for (auto t = timers_.begin(); t != timers_.end(); ++t) {
      if (t->id <= newest && t->due <= now && (due == timers_.end() || t->due < due->due)) {
        due = t;
      }
    }
    if (due == timers_.end()) return;
    const Handler handler = std::move(due->handler);
    timers_.erase(due);
    DepthGuard guard(depth_);
    handler();
  }
}

int EventLoop::PollAndDispatch(int timeout_ms) {
  // Nested calls run at a greater depth and use their own sets, so these stay intact
  // while the handlers below run.
  std::vector<pollfd>& set = poll_sets_[depth_];
  std::vector<Polled>& polled = polled_[depth_];
  set.clear();
  polled.clear();
  for (const Watcher& w : watchers_) {
    set.push_back(pollfd{w.fd, POLLIN, 0});
    polled.push_back(Polled{w.generation});
  }

  const int ready = poll(set.data(), static_cast<nfds_t>(set.size()), timeout_ms);
  if (ready < 0 && errno != EINTR) {
    // A failing poll (no memory, too many descriptors for the limit) returns at once; every
    // caller loops, so pause a step here rather than spin on it until it heals.
    Sleep(timeout_ms < 0 ? kStepMs : std::min(timeout_ms, kStepMs));
  }
  // A signal (EINTR) ends this round early too; the callers loop on their own deadlines.
  if (ready <= 0) return 0;

  int run = 0;
  bool stale = false;  // a nested wait may have consumed what this poll reported
  for (size_t i = 0; i < set.size(); ++i) {
    if ((set[i].revents & kReadyEvents) == 0) continue;
    Watcher* w = Find(set[i].fd);
    // Unwatched or replaced since the poll: the readiness belongs to nobody now.
    if (w == nullptr || w->generation != polled[i].generation) continue;
    if ((set[i].revents & POLLNVAL) != 0) {
      // Closed without Unwatch; dropping it keeps the loop from spinning on it.
      Unwatch(set[i].fd);
      continue;
    }
    if (stale) {
      pollfd again{set[i].fd, POLLIN, 0};
      if (poll(&again, 1, 0) <= 0 || (again.revents & kReadyEvents) == 0) continue;
    }
    std::shared_ptr<Handler> handler = w->handler;
    const uint64_t before = ++dispatches_;
    {
      DepthGuard guard(depth_);
      (*handler)();
    }
    ++run;
    if (dispatches_ != before) stale = true;
  }
  return run;
}

void EventLoop::Run() {
  while (!quit_) RunOnce(-1);
  quit_ = false;
}

void EventLoop::WaitWithEvents(int ms) {
  using Clock = std::chrono::steady_clock;
  const int steps = ms / kStepMs;
  if (steps <= 0) return;
  const Clock::time_point start = Clock::now();
  for (int step = 1; step <= steps; ++step) {
    const Clock::time_point deadline = start + std::chrono::milliseconds(step * kStepMs);
    // Each round either dispatches something or waits until the deadline, so this ends
    // when the step's time is up.
    for (Clock::time_point now = Clock::now(); now < deadline; now = Clock::now()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
      RunOnce(static_cast<int>(left.count()));
    }
    RunOnce(0);
  }
}

}  // namespace tervane::snmp
