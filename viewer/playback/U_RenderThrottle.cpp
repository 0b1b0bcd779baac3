#include "viewer/playback/U_RenderThrottle.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ospry {
namespace {

constexpr int kFrameBufferCapacity = 16;
constexpr int kPrebufferPictures = 4;
constexpr std::int64_t kPrebufferMs = 1000;
constexpr std::int64_t kPollMs = 10;
constexpr std::int64_t kMaxForwardDelayMs = 10000;
constexpr std::int64_t kMaxBackwardDelayMs = 10;
constexpr std::int64_t kQueueCorrectionMs = 5;
// Long sleeps are cut into slices so that destruction never waits long.
constexpr std::int64_t kSleepSliceMs = 100;

std::unique_ptr<IYuvRenderer> MakeRenderer(const TRendererFactory& factory) {
  return factory ? factory() : nullptr;
}

}  // namespace

TRenderThrottle::TRenderThrottle(TRendererFactory rendererFactory, TWaveOutputFactory waveFactory,
                                 IClock& clock, TThreadMode mode)
    : clock_(clock),
      mode_(mode),
      timeSource_(clock),
      display_(kFrameBufferCapacity, MakeRenderer(rendererFactory)),
      staging_(kFrameBufferCapacity, nullptr),
      wave_(waveFactory ? waveFactory() : nullptr),
      renderThread_([this] { RenderTick(); }, "ospry-render") {}

TRenderThrottle::~TRenderThrottle() {
  destroying_ = true;
  renderThread_.Terminate();
  renderThread_.WaitFor();
  std::lock_guard<TRecursiveLock> guard(lock_);
  if (wave_) wave_->Close();
}

void TRenderThrottle::Push(const TFrameInfo& info, const std::uint8_t* payload) {
  std::lock_guard<TRecursiveLock> guard(lock_);
  if (destroying_) return;
  TFrameInfo frame = info;
  if (windowOverrideOn_) frame.Window = overrideWindow_;
  if (frame.IsAudio) {
    PlayAudio(frame, payload);
    return;
  }
  if (!IsDrawablePicture(frame) || payload == nullptr) return;
  if (!renderRunning_) {
    resumeTime_ = clock_.Now();
    renderRunning_ = true;
    if (mode_ == TThreadMode::kOwnThread) renderThread_.Resume();
  }
  if (speed_ >= -1.0 && speed_ < 0.0) {
    if (frame.Stamp < lastPushedStamp_) {
      if (flushOnNextRun_ && staging_.Count() > 0) {
        flushOnNextRun_ = false;
        // Only the run around the picture that was on screen when backward
        // play began is dropped: it was just seen. A run elsewhere, such as a
        // clip's last group after a jump to its end, is the first thing to
        // show, and dropping it would leave the screen still for a group.
        const bool aroundOldPosition = oldPositionStamp_ >= 0 &&
                                       runFirstStamp_ <= oldPositionStamp_ &&
                                       oldPositionStamp_ <= lastPushedStamp_;
        if (aroundOldPosition) {
          Flush();
          resyncPending_ = true;
          // Flush stopped the thread; this push keeps it going.
          resumeTime_ = clock_.Now();
          renderRunning_ = true;
          if (mode_ == TThreadMode::kOwnThread) renderThread_.Resume();
        }
      }
      display_.MoveAllFrom(staging_);
    }
    if (staging_.Count() == 0) runFirstStamp_ = frame.Stamp;
    staging_.Push(frame, payload);
  } else {
    display_.Push(frame, payload);
  }
  if (speed_ == 0.0) display_.RenderNext();
  lastPushedStamp_ = frame.Stamp;
}

void TRenderThrottle::PlayAudio(const TFrameInfo& info, const std::uint8_t* payload) {
  if (!info.AudioFormat.Valid || !wave_) return;
  if (!(info.AudioFormat == lastAudioFormat_)) {
    TWaveFormat format;
    format.channels = info.AudioFormat.Channels;
    format.sampleRate = info.AudioFormat.SampleRate;
    format.bitsPerSample = 16;
    wave_->Open(format);
    lastAudioFormat_ = info.AudioFormat;
  }
  if (payload != nullptr && info.DataSize > 0) wave_->Write(payload, info.DataSize);
}

void TRenderThrottle::SetSpeed(double speed) {
  std::lock_guard<TRecursiveLock> guard(lock_);
  const bool backward = speed >= -1.0 && speed < 0.0;
  if (backward) {
    // The old position: the picture on screen before a reversal clears it.
    TFrameInfo shown;
    const std::uint8_t* payload = nullptr;
    display_.PeekDisplayed(shown, payload);
    oldPositionStamp_ = shown.DataSize > 0 ? shown.Stamp : -1.0;
    flushOnNextRun_ = true;
  }
  if (speed_ * speed < 0.0) Flush();
  backwardClockMode_ = backward;
  speed_ = speed;
  resyncPending_ = true;
}

void TRenderThrottle::StopRenderThread() {
  if (!renderRunning_) return;
  renderRunning_ = false;
  renderThread_.Suspend();
}

void TRenderThrottle::Flush() {
  std::lock_guard<TRecursiveLock> guard(lock_);
  StopRenderThread();
  display_.Clear();
  staging_.Clear();
  resyncPending_ = true;
}

void TRenderThrottle::RenderAllPending() {
  std::lock_guard<TRecursiveLock> guard(lock_);
  StopRenderThread();
  while (display_.RenderNext()) {
  }
  resyncPending_ = true;
}

void TRenderThrottle::FinishRun() {
  std::lock_guard<TRecursiveLock> guard(lock_);
  if (destroying_ || staging_.Count() == 0) return;
  display_.MoveAllFrom(staging_);
  if (!renderRunning_) {
    resumeTime_ = clock_.Now();
    renderRunning_ = true;
    if (mode_ == TThreadMode::kOwnThread) renderThread_.Resume();
  }
}

bool TRenderThrottle::RenderNext() { return display_.RenderNext(); }

void TRenderThrottle::StepBack() { display_.StepBack(); }

int TRenderThrottle::PendingCount() { return display_.Count(); }

void TRenderThrottle::SetWindowOverride(TWindowHandle window, bool on) {
  std::lock_guard<TRecursiveLock> guard(lock_);
  overrideWindow_ = window;
  windowOverrideOn_ = on;
}

void TRenderThrottle::Repaint() { display_.Repaint(); }

bool TRenderThrottle::SnapshotPicture(TFrameInfo& info, std::vector<std::uint8_t>& picture) {
  return display_.CopyDisplayed(info, picture);
}

void TRenderThrottle::Snapshot(const TSnapshotMaker& maker, std::vector<std::uint8_t>& bitmap,
                               int& width, int& height) {
  bitmap.clear();
  width = 0;
  height = 0;
  TFrameInfo info;
  std::vector<std::uint8_t> picture;
  if (!maker || !SnapshotPicture(info, picture)) return;
  try {
    int w = 0;
    int h = 0;
    if (maker(picture.data(), info.Width, info.Height, bitmap, w, h) && !bitmap.empty()) {
      width = w;
      height = h;
    } else {
      bitmap.clear();
    }
  } catch (...) {
    // A failed conversion yields no snapshot; the caller reports it.
    bitmap.clear();
  }
}

bool TRenderThrottle::IsRenderThreadRunning() {
  std::lock_guard<TRecursiveLock> guard(lock_);
  return renderRunning_;
}

void TRenderThrottle::Resync(TDateTime stamp) {
  baseStamp_ = stamp;
  lastShownStamp_ = stamp;
  timeSource_.Restart();
  resyncPending_ = false;
}

bool TRenderThrottle::ComputeDelay(std::int64_t& delayMs) {
  const int pending = display_.Count();
  if (pending == 0 || speed_ == 0.0) {
    delayMs = kPollMs;
    return false;
  }
  const TFrameInfo info = display_.PeekNextHeader();

  if (!backwardClockMode_) {
    if (resyncPending_) Resync(info.Stamp);
    const std::int64_t gapMs = MillisecondsBetween(info.Stamp, lastShownStamp_);
    if (gapMs > 2 * lastIntervalMs_) {
      delayMs = kPollMs;
    } else {
      if (gapMs <= std::numeric_limits<std::int32_t>::max())
        delayMs = std::llround(static_cast<double>(gapMs) / speed_);
      else
        delayMs = kPollMs;
      delayMs -= (pending - kPrebufferPictures) * kQueueCorrectionMs;
    }
    lastIntervalMs_ = gapMs;
    lastShownStamp_ = info.Stamp;
    delayMs = std::clamp<std::int64_t>(delayMs, 0, kMaxForwardDelayMs);
    return true;
  }

  if (info.Width == 0) {
    delayMs = kPollMs;
    return false;
  }
  TDateTime elapsed = timeSource_.Elapsed();
  TDateTime due = (info.Stamp - baseStamp_) / speed_;
  delayMs = MillisecondsBetween(elapsed, due);
  if (delayMs > kMaxForwardDelayMs || resyncPending_) {
    Resync(info.Stamp);
    elapsed = timeSource_.Elapsed();
    due = 0;
    delayMs = MillisecondsBetween(elapsed, due);
  }
  if (elapsed > due) delayMs = -delayMs;
  const bool draw = delayMs < kMaxBackwardDelayMs;
  if (draw) lastShownStamp_ = info.Stamp;
  delayMs = std::clamp<std::int64_t>(delayMs, 0, kMaxBackwardDelayMs);
  return draw;
}

void TRenderThrottle::RenderTick() {
  while (!destroying_ && display_.Count() < kPrebufferPictures &&
         MillisecondsBetween(clock_.Now(), resumeTime_.load()) < kPrebufferMs)
    clock_.SleepMs(kPollMs);
  std::int64_t delayMs = kPollMs;
  {
    std::lock_guard<TRecursiveLock> guard(lock_);
    if (ComputeDelay(delayMs)) display_.RenderNext();
  }
  SleepMs(delayMs);
}

void TRenderThrottle::SleepMs(std::int64_t ms) {
  if (ms <= 0) {
    clock_.SleepMs(0);
    return;
  }
  while (ms > 0 && !destroying_) {
    const std::int64_t slice = std::min(ms, kSleepSliceMs);
    clock_.SleepMs(slice);
    ms -= slice;
  }
}

}  // namespace ospry
