#include "service/snmp/event_loop.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "gtest/gtest.h"
#include "tests/alarms.h"

namespace tervane::snmp {
namespace {

using Clock = std::chrono::steady_clock;

// A non-blocking pipe, closed when the test ends.
class Pipe {
 public:
  Pipe() { EXPECT_EQ(pipe2(fds_, O_NONBLOCK | O_CLOEXEC), 0); }
  ~Pipe() {
    if (fds_[0] >= 0) close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  int read_fd() const { return fds_[0]; }
  void Put(char c = 'x') { ASSERT_EQ(write(fds_[1], &c, 1), 1); }
  // Takes one byte; -1 when there is none.
  int Take() {
    char c = 0;
    return read(fds_[0], &c, 1) == 1 ? c : -1;
  }

 private:
  int fds_[2] = {-1, -1};
};

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(EventLoop, WaitBelowOneStepNeitherWaitsNorDispatches) {
  EventLoop loop;
  Pipe p;
  int calls = 0;
  loop.Watch(p.read_fd(), [&] {
    ++calls;
    p.Take();
  });
  p.Put();
  const Clock::time_point start = Clock::now();
  for (int ms : {-10, 0, 5, 9}) loop.WaitWithEvents(ms);
  // Four waits of no step each: no 10 ms step was slept, so this stays far below 40 ms
  // of sleeping; the bound is generous because the machine may be busy.
  EXPECT_LT(MsSince(start), 1000);
  EXPECT_EQ(calls, 0);
  // The event is still pending and a real step delivers it.
  loop.WaitWithEvents(10);
  EXPECT_EQ(calls, 1);
}

TEST(EventLoop, WaitLastsItsStepsAndDeliversEventsArrivingMeanwhile) {
  EventLoop loop;
  Pipe events;
  Pipe timer;  // written by the test's own handler during the wait
  std::vector<char> seen;
  loop.Watch(events.read_fd(), [&] {
    for (int c = events.Take(); c >= 0; c = events.Take()) seen.push_back(static_cast<char>(c));
  });
  int ticks = 0;
  loop.Watch(timer.read_fd(), [&] {
    timer.Take();
    // The second event arrives only while the wait is already running.
    if (++ticks == 1) events.Put('b');
  });
  events.Put('a');
  timer.Put();

  const Clock::time_point start = Clock::now();
  loop.WaitWithEvents(50);
  EXPECT_GE(MsSince(start), 50);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(seen, (std::vector<char>{'a', 'b'}));
}

TEST(EventLoop, InterruptedWaitsStillLastTheirStepsAndDeliver) {
  EventLoop loop;
  Pipe p;
  int calls = 0;
  loop.Watch(p.read_fd(), [&] {
    ++calls;
    p.Take();
  });
  p.Put();
  const Clock::time_point start = Clock::now();
  {
    testing::Alarms storm(1000, 1000);  // every millisecond
    loop.WaitWithEvents(50);
  }
  EXPECT_GE(MsSince(start), 50);
  EXPECT_EQ(calls, 1);
}

TEST(EventLoop, NestedWaitsDeliverFurtherEventsAndStopAtTheNestingLimit) {
  EventLoop loop;
  Pipe p;
  int calls = 0;
  int deepest = 0;
  // Every run takes one byte and waits again with more bytes pending: without the limit
  // this would nest once per byte.
  loop.Watch(p.read_fd(), [&] {
    ++calls;
    deepest = std::max(deepest, loop.depth());
    ASSERT_GE(p.Take(), 0);
    loop.WaitWithEvents(10);
  });
  constexpr int kBytes = EventLoop::kMaxNesting + 10;
  for (int i = 0; i < kBytes; ++i) p.Put();

  // The outermost run; every later one nests inside it, as deep as the limit allows.
  EXPECT_EQ(loop.RunOnce(1000), 1);
  EXPECT_EQ(loop.depth(), 0);
  for (int round = 0; round < 100 && calls < kBytes; ++round) loop.RunOnce(100);
  EXPECT_EQ(calls, kBytes);
  EXPECT_EQ(deepest, EventLoop::kMaxNesting);
  EXPECT_EQ(p.Take(), -1);
}

TEST(EventLoop, UnwatchAndRewatchFromInsideHandlers) {
  EventLoop loop;
  Pipe a;
  Pipe b;
  int a_calls = 0;
  int b_calls = 0;
  int replacement_calls = 0;
  // a's handler unwatches itself and b; both are ready in the same poll, so b's handler
  // must not run from that poll's stale readiness.
  loop.Watch(a.read_fd(), [&] {
    ++a_calls;
    loop.Unwatch(a.read_fd());
    loop.Unwatch(b.read_fd());
  });
  loop.Watch(b.read_fd(), [&] { ++b_calls; });
  a.Put();
  b.Put();
  EXPECT_EQ(loop.RunOnce(1000), 1);
  EXPECT_FALSE(loop.watching(a.read_fd()));
  EXPECT_EQ(loop.RunOnce(20), 0);  // both still readable, nobody watching
  EXPECT_EQ(a_calls, 1);
  EXPECT_EQ(b_calls, 0);

  // A handler that replaces itself finishes its run (its captures stay alive) and the
  // replacement gets the next event.
  int captured = 7;
  loop.Watch(a.read_fd(), [&, captured] {
    a.Take();
    loop.Watch(a.read_fd(), [&] {
      ++replacement_calls;
      a.Take();
    });
    a_calls += captured;  // reads a capture after the replacement
  });
  EXPECT_EQ(loop.RunOnce(1000), 1);
  EXPECT_EQ(a_calls, 8);
  a.Put();
  EXPECT_EQ(loop.RunOnce(1000), 1);
  EXPECT_EQ(replacement_calls, 1);
}

TEST(EventLoop, RunEndsOnQuitFromAHandler) {
  EventLoop loop;
  Pipe p;
  int calls = 0;
  loop.Watch(p.read_fd(), [&] {
    p.Take();
    if (++calls == 3) loop.Quit();
  });
  // Ends a Run that fails to end by itself, so that the test fails instead of hanging.
  const int watchdog = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  ASSERT_GE(watchdog, 0);
  itimerspec five_seconds{};
  five_seconds.it_value.tv_sec = 5;
  ASSERT_EQ(timerfd_settime(watchdog, 0, &five_seconds, nullptr), 0);
  bool watchdog_fired = false;
  loop.Watch(watchdog, [&] {
    watchdog_fired = true;
    loop.Quit();
  });
  for (int i = 0; i < 3; ++i) p.Put();
  loop.Run();
  loop.Unwatch(watchdog);
  close(watchdog);
  EXPECT_FALSE(watchdog_fired);
  EXPECT_EQ(calls, 3);
  EXPECT_FALSE(loop.quitting());  // consumed, so the loop can run again
}

TEST(EventLoop, AFailingPollPausesInsteadOfSpinning) {
  // poll fails with EINVAL while it is asked for more descriptors than RLIMIT_NOFILE allows.
  EventLoop loop;
  std::vector<Pipe> pipes(6);
  for (Pipe& p : pipes) loop.Watch(p.read_fd(), [] {});
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = 3;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  const Clock::time_point start = Clock::now();
  int rounds = 0;
  for (; rounds < 5; ++rounds) loop.RunOnce(-1);
  const long long ms = MsSince(start);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
  // Every failed round pauses one step before it lets its caller loop again.
  EXPECT_GE(ms, rounds * EventLoop::kStepMs);
}

// The ticker runs from an idle Run on its period, and a tick due while a handler waits runs
// after that handler, never inside it.
TEST(EventLoop, TickerRunsOnItsPeriodAndNeverInsideAHandler) {
  EventLoop loop;
  Pipe p;
  std::vector<long long> ticks;
  bool in_handler = false;
  bool tick_in_handler = false;
  const Clock::time_point start = Clock::now();
  loop.SetTicker(30, [&] {
    tick_in_handler = tick_in_handler || in_handler;
    ticks.push_back(MsSince(start));
    if (ticks.size() == 1) p.Put();  // a handler that waits past the next tick
    if (ticks.size() == 3) loop.Quit();
  });
  loop.Watch(p.read_fd(), [&] {
    p.Take();
    in_handler = true;
    loop.WaitWithEvents(50);
    in_handler = false;
  });
  loop.Run();
  loop.SetTicker(0, nullptr);
  ASSERT_EQ(ticks.size(), 3u);
  EXPECT_FALSE(tick_in_handler);
  EXPECT_GE(ticks[0], 30);
  EXPECT_GE(ticks[1], ticks[0] + 50);  // held back by the handler's wait
  EXPECT_GE(ticks[2], ticks[1] + 30);
  EXPECT_EQ(loop.RunOnce(0), 0);  // removed: nothing runs any more
}

// Timers run once each, earliest first, from the outermost level only (a timer due while a
// handler waits runs after it), and a cancelled one never runs.
TEST(EventLoop, TimersRunOnceInOrderNeverInsideAHandler) {
  EventLoop loop;
  Pipe p;
  std::vector<char> ran;
  bool in_handler = false;
  bool ran_in_handler = false;
  auto timer = [&](char name) {
    return [&, name] {
      ran_in_handler = ran_in_handler || in_handler;
      ran.push_back(name);
      if (name == 'c') loop.Quit();
    };
  };
  loop.Watch(p.read_fd(), [&] {
    p.Take();
    in_handler = true;
    loop.WaitWithEvents(60);  // past the due times of 'a' and 'b'
    in_handler = false;
  });
  const EventLoop::TimerId c = loop.After(80, timer('c'));
  const EventLoop::TimerId b = loop.After(20, timer('b'));
  const EventLoop::TimerId a = loop.After(10, timer('a'));
  const EventLoop::TimerId gone = loop.After(30, timer('x'));
  EXPECT_TRUE(loop.pending(gone));
  loop.Cancel(gone);
  EXPECT_FALSE(loop.pending(gone));
  EXPECT_NE(a, 0u);
  EXPECT_NE(a, b);
  p.Put();
  const Clock::time_point start = Clock::now();
  loop.Run();
  EXPECT_GE(MsSince(start), 60);  // the handler's wait came first
  EXPECT_EQ(ran, (std::vector<char>{'a', 'b', 'c'}));
  EXPECT_FALSE(ran_in_handler);
  EXPECT_FALSE(loop.pending(c));
  EXPECT_EQ(loop.RunOnce(0), 0);  // each ran once: nothing is left to run
  EXPECT_EQ(ran.size(), 3u);
}

}  // namespace
}  // namespace tervane::snmp
