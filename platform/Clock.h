#pragma once
// The clock that pacing code reads and sleeps on. Production code uses the
// system clock; tests pass a TManualClock so that timing rules are exact and
// no test sleeps for real.
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/DateTime.h"

namespace ospry {

class IClock {
public:
  virtual ~IClock() = default;
  // Local wall-clock date-time, millisecond resolution.
  virtual TDateTime Now() = 0;
  // Sleeps the calling thread; values <= 0 return at once (after yielding).
  virtual void SleepMs(std::int64_t ms) = 0;
};

class TSystemClock final : public IClock {
public:
  TDateTime Now() override;
  void SleepMs(std::int64_t ms) override;
};

// The process-wide system clock.
IClock& SystemClock();

// A clock that only moves when told to. SleepMs records the request and
// advances the time by it, so code under test sees its own sleeps pass.
// Thread-safe.
class TManualClock final : public IClock {
public:
  explicit TManualClock(TDateTime start = 46000.5) : now_(start) {}
  TDateTime Now() override;
  void SleepMs(std::int64_t ms) override;
  void AdvanceMs(double ms);
  void Set(TDateTime value);
  // Every SleepMs argument since the last call, oldest first.
  std::vector<std::int64_t> TakeSleeps();

private:
  std::mutex lock_;
  TDateTime now_;                   // guarded by lock_
  std::vector<std::int64_t> sleeps_;  // guarded by lock_
};

}  // namespace ospry
