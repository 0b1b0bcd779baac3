#include "platform/Clock.h"

#include <chrono>
#include <thread>

namespace ospry {

TDateTime TSystemClock::Now() { return NowDateTime(); }

void TSystemClock::SleepMs(std::int64_t ms) {
  if (ms <= 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

IClock& SystemClock() {
  static TSystemClock clock;
  return clock;
}

TDateTime TManualClock::Now() {
  std::lock_guard<std::mutex> guard(lock_);
  return now_;
}

void TManualClock::SleepMs(std::int64_t ms) {
  std::lock_guard<std::mutex> guard(lock_);
  sleeps_.push_back(ms);
  if (ms > 0) now_ += ms / kMsPerDay;
}

void TManualClock::AdvanceMs(double ms) {
  std::lock_guard<std::mutex> guard(lock_);
  now_ += ms / kMsPerDay;
}

void TManualClock::Set(TDateTime value) {
  std::lock_guard<std::mutex> guard(lock_);
  now_ = value;
}

std::vector<std::int64_t> TManualClock::TakeSleeps() {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<std::int64_t> out;
  out.swap(sleeps_);
  return out;
}

}  // namespace ospry
