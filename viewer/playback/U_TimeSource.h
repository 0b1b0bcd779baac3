#pragma once
// A stopwatch on the injected clock; the backward pacing of the render
// throttle measures against it.
//
// Threading: not thread-safe; the render throttle uses it under its lock.
#include "platform/Clock.h"

namespace ospry {

class TTimeSource {
public:
  explicit TTimeSource(IClock& clock = SystemClock()) : clock_(clock), startTime_(clock.Now()) {}
  void Restart() { startTime_ = clock_.Now(); }
  // Days since the last Restart (or since construction).
  TDateTime Elapsed() const { return clock_.Now() - startTime_; }

private:
  IClock& clock_;
  TDateTime startTime_;
};

}  // namespace ospry
