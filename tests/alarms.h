// Alarms: interrupts the blocking calls of a test with SIGALRM, so that a test can show that
// code goes on correctly after EINTR.
#ifndef TERVANE_TESTS_ALARMS_H_
#define TERVANE_TESTS_ALARMS_H_

#include <signal.h>
#include <sys/time.h>

namespace tervane::testing {

// SIGALRM after `first_us` microseconds, then every `every_us` (0: only once), while the
// object lives; the signal's handler does nothing and is installed without SA_RESTART, so
// interrupted calls fail with EINTR.
class Alarms {
 public:
  Alarms(long first_us, long every_us) {
    struct sigaction quiet {};
    quiet.sa_handler = [](int) {};
    sigemptyset(&quiet.sa_mask);
    sigaction(SIGALRM, &quiet, &previous_);
    itimerval timer{{0, every_us}, {0, first_us}};
    setitimer(ITIMER_REAL, &timer, nullptr);
  }
  ~Alarms() {
    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous_, nullptr);
  }
  Alarms(const Alarms&) = delete;
  Alarms& operator=(const Alarms&) = delete;

 private:
  struct sigaction previous_ {};
};

}  // namespace tervane::testing

#endif  // TERVANE_TESTS_ALARMS_H_
