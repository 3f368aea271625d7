#include "service/snmp/bind_retry.h"

#include <algorithm>
#include <utility>

#include "service/snmp/socket_util.h"

namespace tervane::snmp {

BindRetry::BindRetry(Binder binder, Now now) : binder_(std::move(binder)), now_(std::move(now)) {}

bool BindRetry::Worth(const Status& failure) { return failure.error() == kErrorAddressInUse; }

void BindRetry::Begin(const Status& failure) {
  failure_ = failure;
  began_ = now_();
  delay_ms_ = kFirstDelayMs;
  due_ = began_ + std::chrono::milliseconds(delay_ms_);
  ended_set_ = false;
  tries_ = 0;
  pending_ = true;
}

BindRetry::Outcome BindRetry::Poll() {
  if (!pending_) return Outcome::kIdle;
  const Clock::time_point now = now_();
  if (now < due_) return Outcome::kWaiting;
  ++tries_;
  Status bound = binder_();
  // The binder may have taken a while; the next delay counts from the end of this try.
  const Clock::time_point after = now_();
  if (bound.ok()) {
    pending_ = false;
    ended_ = after;
    ended_set_ = true;
    return Outcome::kBound;
  }
  if (!Worth(bound)) {
    pending_ = false;
    ended_ = after;
    ended_set_ = true;
    failure_ = std::move(bound);
    return Outcome::kGaveUp;
  }
  failure_ = std::move(bound);
  delay_ms_ = std::min(delay_ms_ * 2, kLongestDelayMs);
  due_ = after + std::chrono::milliseconds(delay_ms_);
  return Outcome::kWaiting;
}

int BindRetry::MsUntilDue() const {
  if (!pending_) return 0;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(due_ - now_());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

BindRetry::Clock::duration BindRetry::waited() const {
  return (ended_set_ ? ended_ : now_()) - began_;
}

}  // namespace tervane::snmp
