#pragma once
// Adapts a seekable stream source, which plays, decodes and draws by itself,
// to the player operations: every control operation is forwarded to the
// stream, and the stream's data callbacks become the player's frame event
// (header built from the packet description, the current time standing in for
// a missing stamp). It has no thread, clock or source list of its own; it does
// not own the stream.
//
// Threading: control operations run on the main thread; the data handler, and
// so OnFrame, runs on whatever thread the stream calls back on. HandlerLock
// guards the frame handler and is never held while it runs. Destroy the
// player only after the stream has stopped calling back; the destructor
// removes the player's data handler from the stream.
#include <memory>
#include <mutex>

#include "platform/Clock.h"
#include "viewer/sources/U_Interfaces.h"

namespace ospry {

class TStreamPlayer final : public IQuernPlayer {
public:
  // Installs the player's data handler on source. clock gives the time for
  // packets without a valid stamp.
  explicit TStreamPlayer(IQuernSeekableStream* source, IClock& clock = SystemClock());
  ~TStreamPlayer() override;
  TStreamPlayer(const TStreamPlayer&) = delete;
  TStreamPlayer& operator=(const TStreamPlayer&) = delete;

  void SetOnFrame(TPlayerFrameEvent handler) override;
  void SetOnFlush(TPlayerFlushEvent handler) override;  // ignored: a stream never flushes
  void SeekAndPlay(TDateTime time) override;            // plays; time is not used
  void PlayAtSpeed(double speed) override;
  void Play() override;
  void StepForward() override;  // nothing
  void Stop() override;
  bool Pause() override;
  bool Resume() override;
  bool Seek(TDateTime time) override;  // always true
  void SeekRelative(TDateTime delta) override;
  TDateTime GetPosition() override;
  double GetSpeed() override;
  // A speed other than 0 unpauses first; 0 is passed on as it is.
  bool SetSpeed(double speed) override;
  bool IsPaused() override;  // the stream is not active
  void SetPaused(bool value) override;
  void Faster() override;
  void Slower() override;
  std::string GetLastError() override;  // always empty

  // The stream's data callback.
  void HandleData(const TStreamPacketInfo& info, const std::uint8_t* data, std::int32_t size);

private:
  IQuernSeekableStream* source_;
  IClock& clock_;
  std::mutex handlerLock_;
  std::shared_ptr<const TPlayerFrameEvent> onFrame_;  // guarded by handlerLock_
};

}  // namespace ospry
