#pragma once
// The drawing side of one view. Decoded pictures are queued in the display
// frame buffer and drawn on the throttle's own render thread when they are
// due; audio blocks go straight to the wave output. For slow backward play
// (speeds in [-1, 0)) pictures arrive as forward runs, one run per group of
// pictures going back in time; each run is collected in the staging buffer and
// moved into the display buffer reversed when the next run starts.
//
// Pacing:
// - prebuffering: for up to one second after the render thread was started by
//   a push, drawing waits until four pictures are queued;
// - forward (every speed outside [-1, 0)): after drawing, the thread sleeps for
//   the stamp gap to the previous picture divided by the speed, shortened by
//   5 ms for every queued picture above four and lengthened by 5 ms for every
//   one below; a gap of more than twice the previous one is not waited out
//   (10 ms); the sleep stays within [0, 10000] ms;
// - backward clock (speeds in [-1, 0)): a picture is drawn when the time
//   source says it is due within 10 ms (or late), measured from the stamp of
//   the last resynchronisation; the sleep stays within [0, 10] ms. The first
//   run after switching into this mode is dropped when it holds the picture
//   that was on screen (it was just seen); any other first run is shown.
//
// Threading:
// - Push runs on the player thread (from the decoded-frame handler);
//   RenderAllPending too (from the player's flush handler).
// - RenderTick runs on the render thread (named "ospry-render").
// - SetSpeed, Flush, RenderNext, StepBack, PendingCount, SetWindowOverride,
//   Repaint and Snapshot run on the main thread.
// - Lock (re-entrant) guards every field below marked so; it is held by Push,
//   Flush, RenderAllPending, SetSpeed, SetWindowOverride and by the
//   scheduling and drawing step of RenderTick, never while sleeping. RenderNext,
//   StepBack, PendingCount, Repaint and Snapshot use only the frame buffers'
//   locks. Lock order: this lock, then a frame buffer's lock or the wave
//   output's.
// - Destruction stops the render thread first; Push after that is ignored.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/CallbackThread.h"
#include "platform/Clock.h"
#include "platform/Locks.h"
#include "platform/VideoOutput.h"
#include "platform/WaveOut.h"
#include "viewer/decoding/U_FrameInfo.h"
#include "viewer/playback/U_FrameBuffer.h"
#include "viewer/playback/U_TimeSource.h"

namespace ospry {

class TRenderThrottle {
public:
  // kManualTicks never starts the render thread; the owner (a test) calls
  // RenderTick itself.
  enum class TThreadMode { kOwnThread, kManualTicks };

  // Turns a YV12 picture into bitmap file bytes and reports the bitmap's size;
  // supplied by the rendering layer.
  using TSnapshotMaker = std::function<bool(const std::uint8_t* picture, int width, int height,
                                            std::vector<std::uint8_t>& bitmap, int& bitmapWidth,
                                            int& bitmapHeight)>;

  // The display buffer owns one renderer from rendererFactory; audio goes to
  // one output from waveFactory. Either factory may be empty (or return null):
  // pictures are then queued but not drawn, audio is dropped.
  TRenderThrottle(TRendererFactory rendererFactory, TWaveOutputFactory waveFactory,
                  IClock& clock = SystemClock(), TThreadMode mode = TThreadMode::kOwnThread);
  ~TRenderThrottle();
  TRenderThrottle(const TRenderThrottle&) = delete;
  TRenderThrottle& operator=(const TRenderThrottle&) = delete;

  // Hands over one decoded frame; the payload is copied. Pictures that cannot
  // be drawn (no size, or a payload shorter than the size needs) are dropped.
  void Push(const TFrameInfo& info, const std::uint8_t* payload);
  // 0 pauses: pictures pushed while paused are drawn at once. Reversing the
  // direction discards what is queued.
  void SetSpeed(double speed);
  // Discards every queued picture; the render thread waits for the next push.
  void Flush();
  // Draws every pending picture at once, so the last stays on screen.
  void RenderAllPending();
  // Slow backward play: queues the run collected so far for drawing. A run
  // normally waits for the next one to start; the main window calls this when
  // backward play reaches the start of its list, or the last run would never
  // be shown. Called on the player thread (from the clip-end handler).
  void FinishRun();
  // Frame stepping while paused.
  bool RenderNext();
  void StepBack();
  int PendingCount();
  // While on, pictures pushed afterwards go to window; queued ones keep theirs.
  void SetWindowOverride(TWindowHandle window, bool on);
  void Repaint();
  // A copy of the picture on screen, taken under the display buffer's lock.
  bool SnapshotPicture(TFrameInfo& info, std::vector<std::uint8_t>& picture);
  // The picture on screen as bitmap file bytes made by maker; bitmap is empty
  // and the size (0, 0) when there is no picture or the maker fails or throws.
  void Snapshot(const TSnapshotMaker& maker, std::vector<std::uint8_t>& bitmap, int& width,
                int& height);

  // One round of the render thread: prebuffer wait, draw when due, sleep.
  void RenderTick();
  // Whether a push has started the render thread and no flush stopped it.
  bool IsRenderThreadRunning();

private:
  bool ComputeDelay(std::int64_t& delayMs);  // under lock_
  void Resync(TDateTime stamp);              // under lock_
  void StopRenderThread();                   // under lock_
  void PlayAudio(const TFrameInfo& info, const std::uint8_t* payload);  // under lock_
  void SleepMs(std::int64_t ms);

  IClock& clock_;
  const TThreadMode mode_;
  TRecursiveLock lock_;
  double speed_ = 0;                      // guarded by lock_
  bool backwardClockMode_ = false;        // guarded by lock_
  TTimeSource timeSource_;                // guarded by lock_
  std::int64_t lastIntervalMs_ = 0;       // guarded by lock_
  TFrameBuffer display_;                  // own lock
  TFrameBuffer staging_;                  // own lock; pushed only under lock_
  std::unique_ptr<IWaveOutput> wave_;     // guarded by lock_
  TAudioFormat lastAudioFormat_;          // guarded by lock_
  TDateTime baseStamp_ = -1.0;            // guarded by lock_
  TDateTime lastShownStamp_ = -1.0;       // guarded by lock_
  TDateTime lastPushedStamp_ = 0;         // guarded by lock_
  std::atomic<TDateTime> resumeTime_{-1.0};  // written under lock_, read by the prebuffer wait
  bool resyncPending_ = true;             // guarded by lock_
  bool flushOnNextRun_ = false;           // guarded by lock_
  TDateTime oldPositionStamp_ = -1.0;     // guarded by lock_: on screen when backward play began
  TDateTime runFirstStamp_ = 0;           // guarded by lock_: oldest picture of the staged run
  std::atomic<bool> destroying_{false};
  bool windowOverrideOn_ = false;         // guarded by lock_
  TWindowHandle overrideWindow_ = kNoWindow;  // guarded by lock_
  bool renderRunning_ = false;            // guarded by lock_
  TCallbackThread renderThread_;
};

}  // namespace ospry
