// What the tests of the manager and the agent share: running the event loop, bounded in
// time, until what a test waits for has happened.
#ifndef TERVANE_SERVICE_SNMP_MANAGER_AGENT_FIXTURE_H_
#define TERVANE_SERVICE_SNMP_MANAGER_AGENT_FIXTURE_H_

#include <chrono>

#include "service/snmp/event_loop.h"

namespace tervane::snmp {

// Runs the loop until `done()` holds or `timeout_ms` has passed; returns done().
template <typename Done>
bool Pump(EventLoop& loop, Done done, int timeout_ms = 3000) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done() && Clock::now() < deadline) loop.RunOnce(10);
  return done();
}

}  // namespace tervane::snmp

#endif  // TERVANE_SERVICE_SNMP_MANAGER_AGENT_FIXTURE_H_
