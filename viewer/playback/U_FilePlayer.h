#pragma once
// Plays one or more pull sources in real time. On its own thread it reads
// encoded frames from the first source (the master), hands each to the frame
// event and sleeps until the next is due at the current speed. Every further
// source is a secondary kept on the master's time of day: after each master
// frame it delivers everything up to that time (synchronised play of several
// channels). Players never own or free their sources.
//
// Pacing: the player's clock restarts (sleep 0) after a pause, a speed change,
// a seek, a source change, a jump of more than 10 s between master stamps, or
// when the lag or lead exceeds 10 s of media time (10000 / |speed| ms of wall
// time). Otherwise the sleep after a frame is its media time since the
// restart divided by the speed, less the wall time since the restart.
//
// Backward play: from -1 to 0 the master reads key frames going back and the
// player completes each group (key frame first, then its following frames in
// forward order; the render throttle reverses them); below -1 only key frames
// go out, one per tick. A group is paced by its newest frame, the first one
// shown going backward, so that the next group (which makes the render
// throttle show this one) goes out when this one is due. The end of the
// player cuts a group short.
//
// Seeking: stream-header frames not read yet (a seek before the first frame,
// or from the end going backward) go out first, so that decoders that need
// them (the vendor decoder opens its library stream with one) can decode what
// follows the seek. Seek then moves every source to the key frame at or
// before the wanted time; the player raises the flush event (decoders reset,
// queued pictures drain), delivers the frames from that key frame up to the
// last frame whose stamp is at or before the wanted time without pacing,
// brings the secondary sources up to that time, and raises the flush event
// once more so that the target picture is shown at once. During the flush
// event LastFlushReason tells the two apart: after kTargetReached decoders
// must not be reset, or the frames after the target could not be decoded.
// This holds while paused too: a paused seek delivers the whole run-up and
// stays paused.
//
// Synchronised play: a secondary whose next frames in the playing direction
// are stream-header frames delivers them before it may be sought to the
// master's time.
//
// Clip end: when the master has no frame left in the playing direction the
// clip-end event is raised every 100 ms until the source changes or the user
// stops; a secondary at its end raises it once per master frame.
//
// Threading:
// - The player thread (named "ospry-player") runs PlayerTick and raises every
//   event: OnFrame, OnFlush and OnClipEnd.
// - Every other operation runs on the main thread (or from an event handler on
//   the player thread); Paused, StepPending, SeekTarget, Speed and
//   ResyncPending are atomics read by the next tick.
// - Lock (the player's lock) guards the source list and every call into a
//   source, from either thread: a tick holds it while it reads, so a source is
//   never read while the main thread removes or replaces it, and once
//   RemoveSource (or KeepFirstSources, RemoveAllSources) returns the tick
//   never touches the source again. It is held while secondary frames go to
//   OnFrame (the main window's frame handler then runs under it: lock order
//   player lock, frame lock, throttle lock); it is never held while master
//   frames go to OnFrame nor while OnFlush or OnClipEnd run, so those handlers
//   may change the sources. OnFrame handlers must not call operations that
//   take Lock (source changes, GetPosition, SetSpeed, Stop). No handler may
//   wait for the main thread (post to it instead): the main thread may be
//   waiting for Lock or, in the destructor, for the player thread.
// - Lock is also taken by GetPosition, SetSpeed and Stop, which call into the
//   sources; call them without holding the frame lock.
// - HandlerLock guards the three event handlers; it is a leaf lock never held
//   while a handler runs.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/CallbackThread.h"
#include "platform/Clock.h"
#include "viewer/sources/U_Interfaces.h"

namespace ospry {

class TFilePlayer final : public IVideoSourcePlayer {
public:
  // kManualTicks never starts the player thread; the owner (a test) calls
  // PlayerTick itself.
  enum class TThreadMode { kOwnThread, kManualTicks };
  enum class TFlushReason { kSeekStarted, kTargetReached };

  explicit TFilePlayer(IClock& clock = SystemClock(), TThreadMode mode = TThreadMode::kOwnThread);
  // Constructs, then AddSource(source).
  TFilePlayer(IQuernBasicSource* source, IClock& clock = SystemClock(),
              TThreadMode mode = TThreadMode::kOwnThread);
  ~TFilePlayer() override;  // ends the player thread first
  TFilePlayer(const TFilePlayer&) = delete;
  TFilePlayer& operator=(const TFilePlayer&) = delete;

  void SetOnFrame(TPlayerFrameEvent handler) override;
  void SetOnFlush(TPlayerFlushEvent handler) override;
  void SetOnClipEnd(TPlayerClipEndEvent handler) override;

  void SeekAndPlay(TDateTime time) override;  // Seek, then Play
  void PlayAtSpeed(double speed) override;    // SetSpeed, then Play
  void Play() override;                       // unpauses
  void StepForward() override;                // one tick while paused
  void Stop() override;                       // pauses; every source to its start
  bool Pause() override;
  bool Resume() override;
  // Asks the next tick to seek (and to run while paused). False for kNoTime.
  bool Seek(TDateTime time) override;
  // Seeks delta from the current position at the next tick that runs (not
  // while paused). Nothing happens without a position.
  void SeekRelative(TDateTime delta) override;
  TDateTime GetPosition() override;  // the master's; kNoTime without sources
  double GetSpeed() override;
  // A negative speed is refused (false) when a source cannot play backward;
  // 0 pauses and keeps the speed; otherwise sets it on every source and plays.
  bool SetSpeed(double speed) override;
  bool IsPaused() override;
  void SetPaused(bool value) override;
  void Faster() override;  // SetSpeed(speed + 1)
  void Slower() override;  // SetSpeed(speed - 1)
  std::string GetLastError() override;

  bool HasSource(IQuernBasicSource* source) override;
  // Accepts a video source that is not in the list yet and, while playing
  // backward, can play backward. Marks it active and sets its speed.
  bool AddSource(IQuernBasicSource* source) override;
  bool RemoveSource(IQuernBasicSource* source) override;
  void KeepFirstSources(int count) override;
  void KeepFirstSource() override;
  void RemoveAllSources() override;

  // One round of the player thread: seek or read and deliver, then sleep.
  void PlayerTick();
  // Valid during the flush event, on the player thread.
  TFlushReason LastFlushReason() const { return flushReason_.load(); }

private:
  struct TFrameSlot {
    std::int32_t SourceId = 0;
    TFrameHeader Header;
    std::vector<std::uint8_t> Data;
  };
  struct THandlers {
    std::shared_ptr<const TPlayerFrameEvent> Frame;
    std::shared_ptr<const TPlayerFlushEvent> Flush;
    std::shared_ptr<const TPlayerClipEndEvent> ClipEnd;
  };

  THandlers Handlers();
  std::int64_t ReadAndDeliver(const THandlers& handlers, double speed, bool stepping);
  std::int64_t SeekAndRunUp(TDateTime target, const THandlers& handlers, double speed,
                            bool stepping);
  void ReadGroupLocked(IQuernVideoSource* master);  // under lock_
  // Read the stream-header frames next to the source's read position, the
  // ones met first reading forwards (before the first frame) or backwards
  // (after the last), into headers_ from index count on; return the new
  // count. Under lock_.
  std::size_t ReadHeadersForwardLocked(IQuernVideoSource* source, std::size_t count);
  std::size_t ReadHeadersBackwardLocked(IQuernVideoSource* source, std::size_t count);
  TFrameSlot& GroupSlot(std::size_t index);
  std::int64_t PaceFrame(TDateTime stamp, double speed);
  void Deliver(const THandlers& handlers, const TFrameSlot& frame);
  void SyncOthers(TDateTime masterStamp, const THandlers& handlers, double speed, bool stepping);
  void RaiseFlush(const THandlers& handlers, TFlushReason reason);
  void SleepMs(std::int64_t ms);

  IClock& clock_;
  const TThreadMode mode_;

  std::mutex lock_;
  std::vector<IQuernVideoSource*> sources_;  // guarded by lock_
  std::string lastError_;                    // guarded by lock_

  std::mutex handlerLock_;
  THandlers handlers_;  // guarded by handlerLock_

  std::atomic<bool> paused_{true};
  std::atomic<bool> stepPending_{false};
  std::atomic<bool> resyncPending_{false};
  std::atomic<TDateTime> seekTarget_{kNoTime};
  std::atomic<double> speed_{1.0};
  std::atomic<bool> terminating_{false};
  std::atomic<TFlushReason> flushReason_{TFlushReason::kSeekStarted};

  // Player thread only.
  TDateTime refWall_ = 0;
  TDateTime refStamp_ = 0;
  TDateTime lastStamp_ = 0;
  bool justResynced_ = false;
  TFrameSlot frame_;                        // the master frame of this tick
  std::vector<TFrameSlot> group_;           // frames of a group or run-up; reused
  std::size_t groupCount_ = 0;
  TFrameSlot secondary_;                    // a secondary frame (under lock_)
  std::vector<TFrameSlot> headers_;         // stream-header frames a seek would pass by
  std::vector<IQuernVideoSource*> clipEnds_;  // secondaries at their end this tick

  TCallbackThread thread_;
};

}  // namespace ospry
