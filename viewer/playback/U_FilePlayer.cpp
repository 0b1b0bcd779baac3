#include "viewer/playback/U_FilePlayer.h"

#include <algorithm>
#include <cmath>

namespace ospry {
namespace {

constexpr std::int64_t kIdleMs = 100;
constexpr std::int64_t kSleepSliceMs = 100;
constexpr double kClockRestartMs = 10000.0;
constexpr TDateTime kTenSeconds = 10.0 / kSecondsPerDay;
// A group or run-up is read under the player's lock and delivered after it;
// these bound what one tick may hold.
constexpr std::size_t kMaxGroupFrames = 4096;
constexpr std::size_t kMaxGroupBytes = 64u << 20;
// A source has one header frame per stream kind at most; the bound only
// guards against a source that keeps answering with header frames.
constexpr std::size_t kMaxHeaderFrames = 64;

bool IsStreamHeader(const TFrameHeader& header) {
  return header.FrameType == kFrameStreamHeader || header.FrameType == kFrameAudioHeader;
}

TDateTime TimeOfDay(TDateTime value) { return value - std::floor(value); }

std::int64_t RoundMs(double ms) { return std::llround(ms); }

}  // namespace

TFilePlayer::TFilePlayer(IClock& clock, TThreadMode mode)
    : clock_(clock), mode_(mode), thread_([this] { PlayerTick(); }, "ospry-player") {
  if (mode_ == TThreadMode::kOwnThread) thread_.Resume();
}

TFilePlayer::TFilePlayer(IQuernBasicSource* source, IClock& clock, TThreadMode mode)
    : TFilePlayer(clock, mode) {
  AddSource(source);
}

TFilePlayer::~TFilePlayer() {
  terminating_ = true;
  thread_.Terminate();
  thread_.WaitFor();
}

void TFilePlayer::SetOnFrame(TPlayerFrameEvent handler) {
  auto shared = handler ? std::make_shared<const TPlayerFrameEvent>(std::move(handler)) : nullptr;
  std::lock_guard<std::mutex> guard(handlerLock_);
  handlers_.Frame = std::move(shared);
}

void TFilePlayer::SetOnFlush(TPlayerFlushEvent handler) {
  auto shared = handler ? std::make_shared<const TPlayerFlushEvent>(std::move(handler)) : nullptr;
  std::lock_guard<std::mutex> guard(handlerLock_);
  handlers_.Flush = std::move(shared);
}

void TFilePlayer::SetOnClipEnd(TPlayerClipEndEvent handler) {
  auto shared =
      handler ? std::make_shared<const TPlayerClipEndEvent>(std::move(handler)) : nullptr;
  std::lock_guard<std::mutex> guard(handlerLock_);
  handlers_.ClipEnd = std::move(shared);
}

TFilePlayer::THandlers TFilePlayer::Handlers() {
  std::lock_guard<std::mutex> guard(handlerLock_);
  return handlers_;
}

void TFilePlayer::SeekAndPlay(TDateTime time) {
  Seek(time);
  Play();
}

void TFilePlayer::PlayAtSpeed(double speed) {
  SetSpeed(speed);
  Play();
}

void TFilePlayer::Play() { paused_ = false; }

void TFilePlayer::StepForward() { stepPending_ = true; }

void TFilePlayer::Stop() {
  // Pause first: a tick that takes the lock after the rewind sees the pause
  // and reads nothing, so the start is not skipped.
  paused_ = true;
  std::lock_guard<std::mutex> guard(lock_);
  for (auto* source : sources_) source->GoToStart();
}

bool TFilePlayer::Pause() {
  paused_ = true;
  return true;
}

bool TFilePlayer::Resume() {
  paused_ = false;
  return true;
}

bool TFilePlayer::Seek(TDateTime time) {
  seekTarget_ = time;
  stepPending_ = true;
  return time != kNoTime;
}

void TFilePlayer::SeekRelative(TDateTime delta) {
  const TDateTime position = GetPosition();
  if (position == kNoTime) return;
  seekTarget_ = position + delta;
}

TDateTime TFilePlayer::GetPosition() {
  std::lock_guard<std::mutex> guard(lock_);
  return sources_.empty() ? kNoTime : sources_[0]->GetPosition();
}

double TFilePlayer::GetSpeed() { return speed_; }

bool TFilePlayer::SetSpeed(double speed) {
  if (speed == 0.0) {
    Pause();
    return true;
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (speed < 0.0)
      for (auto* source : sources_)
        if (!source->CanPlayBackward()) return false;
    speed_ = speed;
    resyncPending_ = true;
    for (auto* source : sources_) source->SetSpeed(speed);
  }
  Resume();
  return true;
}

bool TFilePlayer::IsPaused() { return paused_; }

void TFilePlayer::SetPaused(bool value) { paused_ = value; }

void TFilePlayer::Faster() { SetSpeed(GetSpeed() + 1.0); }

void TFilePlayer::Slower() { SetSpeed(GetSpeed() - 1.0); }

std::string TFilePlayer::GetLastError() {
  std::lock_guard<std::mutex> guard(lock_);
  return lastError_;
}

bool TFilePlayer::HasSource(IQuernBasicSource* source) {
  std::lock_guard<std::mutex> guard(lock_);
  return std::find(sources_.begin(), sources_.end(), source) != sources_.end();
}

bool TFilePlayer::AddSource(IQuernBasicSource* source) {
  auto* video = dynamic_cast<IQuernVideoSource*>(source);
  std::lock_guard<std::mutex> guard(lock_);
  if (video == nullptr) {
    lastError_ = "Add source failed: not a video source";
    return false;
  }
  if (std::find(sources_.begin(), sources_.end(), video) != sources_.end()) {
    lastError_ = "Add source failed: source already exists";
    return false;
  }
  const double speed = speed_;
  if (speed < 0.0 && !video->CanPlayBackward()) {
    lastError_ = "Add source failed: source cannot play backward";
    return false;
  }
  sources_.push_back(video);
  video->SetActive(true);
  resyncPending_ = true;
  video->SetSpeed(speed);
  return true;
}

bool TFilePlayer::RemoveSource(IQuernBasicSource* source) {
  std::lock_guard<std::mutex> guard(lock_);
  auto found = std::find(sources_.begin(), sources_.end(), source);
  if (found == sources_.end()) {
    lastError_ = "Remove source failed: source does not exist";
    return false;
  }
  IQuernVideoSource* removed = *found;
  sources_.erase(found);
  removed->SetActive(false);
  return true;
}

void TFilePlayer::KeepFirstSources(int count) {
  std::lock_guard<std::mutex> guard(lock_);
  const std::size_t keep = count < 0 ? 0 : static_cast<std::size_t>(count);
  for (std::size_t i = keep; i < sources_.size(); ++i) sources_[i]->SetActive(false);
  if (sources_.size() > keep) sources_.resize(keep);
}

void TFilePlayer::KeepFirstSource() { KeepFirstSources(1); }

void TFilePlayer::RemoveAllSources() { KeepFirstSources(0); }

void TFilePlayer::PlayerTick() {
  std::int64_t delayMs = kIdleMs;
  if (paused_ && !stepPending_) {
    // After any pause the clock restarts instead of catching up.
    resyncPending_ = true;
  } else {
    const bool stepping = stepPending_.exchange(false);
    const double speed = speed_;
    const THandlers handlers = Handlers();
    const TDateTime target = seekTarget_.exchange(kNoTime);
    if (target != kNoTime)
      delayMs = SeekAndRunUp(target, handlers, speed, stepping);
    else
      delayMs = ReadAndDeliver(handlers, speed, stepping);
  }
  SleepMs(std::max<std::int64_t>(delayMs, 0));
}

std::size_t TFilePlayer::ReadHeadersForwardLocked(IQuernVideoSource* source, std::size_t count) {
  // ReadGopFrame reads forwards whatever the playing direction.
  const std::size_t limit = count + kMaxHeaderFrames;
  TFrameHeader next;
  while (count < limit && source->PeekHeader(next) == kReadFrame && IsStreamHeader(next)) {
    if (headers_.size() <= count) headers_.resize(count + 1);
    TFrameSlot& slot = headers_[count];
    TDateTime ignored = 0;
    if (source->ReadGopFrame(slot.SourceId, slot.Data, slot.Header, ignored) != kReadFrame) break;
    ++count;
  }
  return count;
}

std::size_t TFilePlayer::ReadHeadersBackwardLocked(IQuernVideoSource* source, std::size_t count) {
  // Reading backwards nothing peeks at the header frames after the last
  // frame: read on while they come, and put back the first other frame.
  const std::size_t limit = count + kMaxHeaderFrames;
  while (count < limit) {
    if (headers_.size() <= count) headers_.resize(count + 1);
    TFrameSlot& slot = headers_[count];
    TDateTime ignored = 0;
    source->MarkPosition();
    if (source->ReadFrame(slot.SourceId, slot.Data, slot.Header, ignored) != kReadFrame ||
        !IsStreamHeader(slot.Header)) {
      source->RestorePosition();
      break;
    }
    ++count;
  }
  return count;
}

TFilePlayer::TFrameSlot& TFilePlayer::GroupSlot(std::size_t index) {
  if (group_.size() <= index) group_.resize(index + 1);
  return group_[index];
}

void TFilePlayer::ReadGroupLocked(IQuernVideoSource* master) {
  master->MarkPosition();
  if (master->SkipPastNextKeyFrame() == kReadFrame) {
    std::size_t bytes = 0;
    while (groupCount_ < kMaxGroupFrames && bytes < kMaxGroupBytes) {
      TFrameSlot& slot = GroupSlot(groupCount_);
      TDateTime ignored = 0;
      if (master->ReadGopFrame(slot.SourceId, slot.Data, slot.Header, ignored) != kReadFrame) break;
      bytes += slot.Data.size();
      ++groupCount_;
    }
  }
  master->RestorePosition();
}

std::int64_t TFilePlayer::PaceFrame(TDateTime stamp, double speed) {
  const TDateTime now = clock_.Now();
  std::int64_t delayMs = 0;
  const bool restart = resyncPending_.exchange(false);
  if (!restart && std::fabs(stamp - lastStamp_) <= kTenSeconds) {
    const std::int64_t elapsedMs = RoundMs((now - refWall_) * kMsPerDay);
    const std::int64_t mediaMs = RoundMs((stamp - refStamp_) * kMsPerDay);
    delayMs = RoundMs(static_cast<double>(mediaMs) / speed) - elapsedMs;
    if (std::fabs(static_cast<double>(delayMs)) > std::fabs(kClockRestartMs / speed)) {
      refWall_ = now;
      refStamp_ = stamp;
      delayMs = 0;
    }
  } else {
    refWall_ = now;
    refStamp_ = stamp;
    delayMs = 0;
    justResynced_ = true;
  }
  lastStamp_ = stamp;
  return std::max<std::int64_t>(delayMs, 0);
}

void TFilePlayer::Deliver(const THandlers& handlers, const TFrameSlot& frame) {
  (*handlers.Frame)(frame.SourceId, frame.Header, frame.Data.data());
}

std::int64_t TFilePlayer::ReadAndDeliver(const THandlers& handlers, double speed, bool stepping) {
  if (!handlers.Frame) return kIdleMs;
  IQuernVideoSource* master = nullptr;
  TReadResult result = kReadNothing;
  groupCount_ = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    // Paused or stopped since this tick began: read nothing.
    if (sources_.empty() || (paused_ && !stepping)) return kIdleMs;
    master = sources_[0];
    TDateTime ignored = 0;
    result = master->ReadFrame(frame_.SourceId, frame_.Data, frame_.Header, ignored);
    if (result == kReadFrame && speed >= -1.0 && speed < 0.0) ReadGroupLocked(master);
  }
  if (result != kReadFrame) {
    if ((result == kReadPastEnd || result == kReadBeforeStart) && handlers.ClipEnd)
      (*handlers.ClipEnd)(this, master, speed < 0.0);
    return kIdleMs;
  }
  // A backward group is shown newest picture first, and the render throttle
  // shows it only once the next group begins to arrive: the next group must
  // go out when this one's newest picture is due, not when its key frame is
  // (a whole group later, which left nothing on the screen meanwhile).
  TDateTime paceStamp = frame_.Header.Stamp;
  for (std::size_t i = 0; i < groupCount_; ++i) paceStamp = std::max(paceStamp, group_[i].Header.Stamp);
  const std::int64_t delayMs = PaceFrame(paceStamp, speed);
  Deliver(handlers, frame_);
  // A backward group can take long to decode; the end of the player does not
  // wait for the rest of it.
  for (std::size_t i = 0; i < groupCount_ && !terminating_; ++i) Deliver(handlers, group_[i]);
  SyncOthers(lastStamp_, handlers, speed, stepping);
  return delayMs;
}

std::int64_t TFilePlayer::SeekAndRunUp(TDateTime target, const THandlers& handlers, double speed,
                                       bool stepping) {
  double moved = 0;
  std::size_t headerCount = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    // A source whose stream headers have not been read yet (a seek before
    // the first frame, or from the end going backward) would skip them, and
    // a decoder that never gets its stream header decodes nothing after the
    // seek: they go out first.
    if (handlers.Frame) {
      for (auto* source : sources_) {
        headerCount = ReadHeadersForwardLocked(source, headerCount);
        if (speed < 0.0) headerCount = ReadHeadersBackwardLocked(source, headerCount);
      }
    }
    for (auto* source : sources_) moved += source->Seek(target);
  }
  for (std::size_t i = 0; i < headerCount; ++i) Deliver(handlers, headers_[i]);
  if (moved <= 0) return ReadAndDeliver(handlers, speed, stepping);
  resyncPending_ = true;
  RaiseFlush(handlers, TFlushReason::kSeekStarted);
  if (!handlers.Frame) return kIdleMs;

  IQuernVideoSource* master = nullptr;
  TReadResult result = kReadNothing;
  groupCount_ = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (sources_.empty()) return kIdleMs;
    master = sources_[0];
    TDateTime ignored = 0;
    result = master->ReadFrame(frame_.SourceId, frame_.Data, frame_.Header, ignored);
    if (result == kReadFrame) {
      // The frames from the key frame up to the last one at or before the
      // target, in forward order whatever the playing direction.
      std::size_t bytes = 0;
      TFrameHeader next;
      if (speed < 0.0) {
        master->MarkPosition();
        if (master->SkipPastNextKeyFrame() == kReadFrame) {
          while (groupCount_ < kMaxGroupFrames && bytes < kMaxGroupBytes &&
                 master->PeekHeader(next) == kReadFrame && next.FrameType != kFrameKey &&
                 next.Stamp <= target) {
            TFrameSlot& slot = GroupSlot(groupCount_);
            if (master->ReadGopFrame(slot.SourceId, slot.Data, slot.Header, ignored) != kReadFrame)
              break;
            bytes += slot.Data.size();
            ++groupCount_;
          }
        }
        master->RestorePosition();
      } else {
        while (groupCount_ < kMaxGroupFrames && bytes < kMaxGroupBytes &&
               master->PeekHeader(next) == kReadFrame &&
               (next.Stamp <= target || IsStreamHeader(next))) {
          TFrameSlot& slot = GroupSlot(groupCount_);
          if (master->ReadFrame(slot.SourceId, slot.Data, slot.Header, ignored) != kReadFrame)
            break;
          bytes += slot.Data.size();
          ++groupCount_;
        }
      }
    }
  }
  if (result != kReadFrame) {
    if ((result == kReadPastEnd || result == kReadBeforeStart) && handlers.ClipEnd)
      (*handlers.ClipEnd)(this, master, speed < 0.0);
    return kIdleMs;
  }
  Deliver(handlers, frame_);
  for (std::size_t i = 0; i < groupCount_ && !terminating_; ++i) Deliver(handlers, group_[i]);
  // The clock restarts at the target picture.
  const TFrameSlot& last = groupCount_ > 0 ? group_[groupCount_ - 1] : frame_;
  refWall_ = clock_.Now();
  refStamp_ = last.Header.Stamp;
  lastStamp_ = last.Header.Stamp;
  resyncPending_ = false;
  justResynced_ = true;
  SyncOthers(lastStamp_, handlers, speed, stepping);
  RaiseFlush(handlers, TFlushReason::kTargetReached);
  return 0;
}

void TFilePlayer::SyncOthers(TDateTime masterStamp, const THandlers& handlers, double speed,
                             bool stepping) {
  clipEnds_.clear();
  {
    std::lock_guard<std::mutex> guard(lock_);
    const TDateTime masterTime = TimeOfDay(masterStamp);
    for (std::size_t i = 1; i < sources_.size(); ++i) {
      IQuernVideoSource* source = sources_[i];
      TFrameHeader header;
      TReadResult peeked = source->PeekHeader(header);
      if (handlers.Frame) {
        // Header frames ahead in the playing direction go out before the
        // rules below may seek past them (backward, from the end, PeekHeader
        // cannot see them); the frame after them is the one the rules see.
        std::size_t count = 0;
        if (speed > 0.0 && peeked == kReadFrame && IsStreamHeader(header))
          count = ReadHeadersForwardLocked(source, 0);
        else if (speed < 0.0 && peeked != kReadFrame)
          count = ReadHeadersBackwardLocked(source, 0);
        for (std::size_t h = 0; h < count; ++h)
          (*handlers.Frame)(headers_[h].SourceId, headers_[h].Header, headers_[h].Data.data());
        if (count > 0) peeked = source->PeekHeader(header);
      }
      if (peeked != kReadFrame) continue;
      if ((justResynced_ && !stepping && !IsStreamHeader(header)) ||
          std::fabs(TimeOfDay(header.Stamp) - masterTime) > kTenSeconds) {
        source->Seek(std::floor(header.Stamp) + masterTime);
        // The catch-up below must test the frame the seek moved to, or a
        // frame past the master's time would go out.
        if (source->PeekHeader(header) != kReadFrame) continue;
      }
      while (IsStreamHeader(header) ||
             (speed > 0.0 ? TimeOfDay(header.Stamp) <= masterTime
                          : TimeOfDay(header.Stamp) >= masterTime)) {
        TDateTime ignored = 0;
        const TReadResult result =
            source->ReadFrame(secondary_.SourceId, secondary_.Data, header, ignored);
        if (result == kReadFrame) {
          if (handlers.Frame) (*handlers.Frame)(secondary_.SourceId, header, secondary_.Data.data());
          source->PeekHeader(header);
        } else {
          if (result == kReadPastEnd || result == kReadBeforeStart) clipEnds_.push_back(source);
          break;
        }
      }
    }
  }
  justResynced_ = false;
  // Raised after the lock is released, so the handler may change the sources.
  if (handlers.ClipEnd)
    for (auto* source : clipEnds_) (*handlers.ClipEnd)(this, source, speed < 0.0);
}

void TFilePlayer::RaiseFlush(const THandlers& handlers, TFlushReason reason) {
  flushReason_ = reason;
  if (handlers.Flush) (*handlers.Flush)();
}

void TFilePlayer::SleepMs(std::int64_t ms) {
  if (ms <= 0) {
    clock_.SleepMs(0);
    return;
  }
  // In slices, so that a seek, a pause or the end of the player does not wait
  // out a long frame interval.
  while (ms > 0 && !terminating_) {
    const std::int64_t slice = std::min(ms, kSleepSliceMs);
    clock_.SleepMs(slice);
    ms -= slice;
    if (seekTarget_ != kNoTime || (paused_ && !stepPending_)) break;
  }
}

}  // namespace ospry
