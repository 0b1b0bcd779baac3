#pragma once
// One port of the vendor library: a stream opened with a header and fed with
// program-stream bytes, or a vendor file played by the library's own clock.
// Internal to libVPlay.so; the exported entry points (VPlayExports.cpp) find
// ports in the process-wide table and call these operations.
//
// Threading: every public operation may be called from any thread. The port's
// worker thread decodes and calls the callbacks and the outputs.
//   lock_       guards the command state (mode, callbacks, input queue, play
//               and pause flags, file position and speed).
//   outputLock_ guards the renderers, the wave output, the windows, the
//               display region and the last picture.
// The two are never held together, and neither is held while a decode or
// display callback runs. Renderers and the wave output are called under
// outputLock_ (the worker draws, RefreshPlay redraws from the caller's thread).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Files.h"
#include "vplay/VPlay.h"
#include "vplay/VPlayDecoder.h"
#include "vplay/VendorFormat.h"

namespace ospry::vendor {

// The services installed by the host process, and the pacing clock.
void SetOutputFactories(const TRendererFactory* renderers, const TWaveOutputFactory* waves);
void SetPacingClock(IClock* clock);

class TPort : public std::enable_shared_from_this<TPort> {
public:
  explicit TPort(int number) : number_(number) {}
  ~TPort();
  TPort(const TPort&) = delete;
  TPort& operator=(const TPort&) = delete;

  int Number() const { return number_; }

  // Stream mode. OpenStream closes a stream already open on the port.
  bool OpenStream(const std::uint8_t* header, std::int32_t size, std::int32_t poolBytes);
  bool CloseStream();
  bool InputData(const std::uint8_t* data, std::int32_t size);
  bool ResetBuffer(std::int32_t buffer);
  bool ResetSourceBuffer();

  // File mode. OpenFile only on a port that has nothing open.
  bool OpenFile(const std::string& path);
  std::uint32_t FileSeconds() const;
  std::uint32_t TotalFrames() const;
  std::uint32_t PlayedSeconds() const;
  float PlayPosition() const;
  bool SetPlayPosition(float fraction);
  bool Pause(bool pause);
  bool StepSpeed(int direction);  // +1 Fast, -1 Slow

  // Both modes.
  bool Play(TWindowHandle window);
  bool Stop();
  bool SetDecCallback(VPlayDecCallback callback);
  bool SetDisplayCallback(VPlayDisplayCallback callback);
  bool SetDisplayRegion(std::int32_t region, const VPlayRect* rect, TWindowHandle window, bool enable);
  bool Refresh();
  bool SetSound(bool on);
  bool PictureSize(std::int32_t& width, std::int32_t& height) const;
  std::uint32_t FrameNumber() const { return frameNumber_.load(); }
  bool IsFile() const;

  // Stops the worker and closes everything; called when the port is released.
  void Shutdown();

private:
  enum class TMode { Idle, Stream, File };
  struct TIndexEntry {
    std::int64_t begin = 0;
    std::int64_t end = 0;
    double ms = 0;  // from the file's first frame
    bool isVideo = true;
    bool isKey = false;
  };

  void StartWorkerLocked();
  void StopWorker();
  void StreamLoop();
  void FileLoop();
  double MediaNowMsLocked() const;
  void ReanchorLocked();
  // Decodes one frame and delivers its pictures or sound unless show is
  // false; returns true when a picture came out. Worker thread only.
  bool HandleFrame(const TEsFrame& frame, std::int64_t firstPts, TH264Decoder& decoder, bool show,
                   std::uint64_t generation);
  bool StillCurrent(std::uint64_t generation);
  void DeliverPicture(const TPicture& picture, std::int32_t stamp);
  void DeliverSound(const std::string& pcm, std::int32_t stamp);
  void Draw(const TPicture& picture);  // outputLock_ held

  const int number_;

  mutable std::mutex lock_;
  std::condition_variable wake_;
  TMode mode_ = TMode::Idle;               // guarded by lock_
  TStreamHeader header_;                    // guarded by lock_
  VPlayDecCallback decCallback_ = nullptr;  // guarded by lock_
  VPlayDisplayCallback displayCallback_ = nullptr;  // guarded by lock_
  bool playing_ = false;                    // guarded by lock_
  bool quit_ = false;                       // guarded by lock_
  std::uint64_t generation_ = 0;            // guarded by lock_; bumped by every reset
  bool resetDecoder_ = false;               // guarded by lock_
  std::deque<std::string> input_;           // guarded by lock_
  std::size_t queuedBytes_ = 0;             // guarded by lock_
  std::size_t poolBytes_ = 0;               // guarded by lock_
  std::thread worker_;                      // guarded by lock_
  std::thread::id workerId_;                // guarded by lock_
  std::atomic<std::uint32_t> frameNumber_{0};

  // File mode; the index and the file are set by OpenFile before any worker
  // runs and are read-only afterwards.
  TReadFile file_;
  std::vector<TIndexEntry> index_;
  double durationMs_ = 0;
  std::uint32_t videoFrames_ = 0;
  std::int32_t fileWidth_ = 0;
  std::int32_t fileHeight_ = 0;
  std::size_t nextIndex_ = 0;               // guarded by lock_
  bool paused_ = false;                     // guarded by lock_
  int speedNotch_ = 0;                      // guarded by lock_; speed 2^notch, -4..4
  double anchorMediaMs_ = 0;                // guarded by lock_
  double anchorWallMs_ = 0;                 // guarded by lock_
  double shownMs_ = 0;                      // guarded by lock_
  std::optional<double> seekMs_;            // guarded by lock_

  mutable std::mutex outputLock_;
  TWindowHandle window_ = kNoWindow;        // guarded by outputLock_
  TWindowHandle secondWindow_ = kNoWindow;  // guarded by outputLock_
  std::optional<VPlayRect> region_;         // guarded by outputLock_
  std::unique_ptr<IYuvRenderer> renderer_;  // guarded by outputLock_
  std::unique_ptr<IYuvRenderer> secondRenderer_;  // guarded by outputLock_
  std::unique_ptr<IWaveOutput> wave_;       // guarded by outputLock_
  TWaveFormat waveFormat_;                  // guarded by outputLock_
  TPicture lastPicture_;                    // guarded by outputLock_
};

// Copies the part of a packed YV12 picture inside rect, widened to even
// bounds and clipped to the picture; the whole picture when nothing is left.
TPicture CropYv12(const TPicture& picture, const VPlayRect& rect);

}  // namespace ospry::vendor
