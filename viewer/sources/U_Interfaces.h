#pragma once
// The contracts between media sources and players, and the records that cross
// them.
//
// Pull sources (IQuernVideoSource) hand one encoded frame at a time to the file
// player; push sources (IQuernStreamSource, IQuernSeekableStream) play by
// themselves and report through a data callback. Sources are owned by whoever
// opened them (the main window); players never free them.
//
// Error policy: operations report failure by result and by the source's last
// error text; nothing throws across these interfaces.
//
// Threading: pull sources are read by one player thread while the main thread
// may call GetPosition, GetInfo and the information operations; sources take no
// lock of their own.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "platform/WindowHandle.h"
#include "viewer/container/U_DvrInfo.h"

namespace ospry {

// Frame types used across the system; other values pass through unchanged.
enum : std::uint8_t {
  kFrameKey = 1,
  kFrameAudio = 3,
  kFrameStreamHeader = 15,
  kFrameAudioHeader = 16,
  kFramePredictedMpeg4 = 19,
};

// Number of stream kinds (0 to 21) that select a decoder.
inline constexpr int kStreamKindCount = 22;

// The header of an encoded frame; on disk it is 14 packed little-endian bytes
// (kind, type, size, stamp), also the first 14 bytes of an index frame entry.
struct TFrameHeader {
  std::uint8_t StreamKind = 0;  // 0: no decoding
  std::uint8_t FrameType = 0;
  std::int32_t DataSize = 0;    // payload bytes
  TDateTime Stamp = 0;          // time of the frame
};
inline constexpr int kFrameHeaderBytes = 14;

// Results of the reading operations of pull sources.
enum TReadResult : std::uint8_t {
  kReadNothing = 0,   // an error, or a frame skipped
  kReadFrame = 1,     // a frame was delivered
  kReadPastEnd = 2,   // the position is past the last frame
  kReadBeforeStart = 3,  // the position is before the first frame
};

struct TTimeSegment {
  TDateTime Start = 0;
  TDateTime End = 0;
};
using TTimeSegments = std::vector<TTimeSegment>;

// The result of frame verification; filled only when a corrupt frame is found.
struct TFrameError {
  bool Corrupt = false;
  std::int64_t FrameOffset = 0;  // file position of the first corrupt frame
  std::int32_t FrameSize = 0;    // its byte count
};

struct TVideoSourceOptions {
  std::string FileName;  // the file to play
  TWindowHandle Window = kNoWindow;  // the view that shows the picture
};

struct TStreamPacketInfo {
  std::int32_t SourceId = 0;
  std::uint8_t StreamKind = 0;
  std::uint8_t FrameType = 0;
  TDateTime Stamp = 0;
  bool StampValid = false;  // false: the receiver uses the current time instead
};

class IQuernBasicSource {
public:
  IQuernBasicSource(std::int32_t sourceId, std::string fileName)
      : SourceId(sourceId), FileName(std::move(fileName)) {}
  virtual ~IQuernBasicSource() = default;
  IQuernBasicSource(const IQuernBasicSource&) = delete;
  IQuernBasicSource& operator=(const IQuernBasicSource&) = delete;

  virtual std::int32_t GetSourceId() const { return SourceId; }
  virtual void SetSourceId(std::int32_t value) { SourceId = value; }
  virtual bool IsValid() const { return Valid; }
  virtual void SetValid(bool value) { Valid = value; }
  virtual std::string GetFileName() const { return FileName; }
  virtual void SetFileName(const std::string& text) { FileName = text; }
  virtual std::string GetDisplayName() const { return GetFileName(); }
  virtual std::string GetDescription() const { return Description; }
  virtual void SetDescription(const std::string& text) { Description = text; }
  virtual bool IsActive() const { return Active; }
  virtual void SetActive(bool value) { Active = value; }
  virtual std::int32_t GetFrameRate() const { return FrameRate; }
  virtual void SetFrameRate(std::int32_t value) { FrameRate = value; }
  // Leaves segments untouched unless the source knows its time.
  virtual void GetSegments(TTimeSegments& segments) { (void)segments; }
  virtual bool CanAuthenticate() { return false; }
  virtual bool CanPlayBackward() { return false; }
  virtual bool HasFrameRateChoice() { return false; }
  // Sets the five texts to "N/A" and keeps the times.
  virtual void GetInfo(TDvrInfo& info);
  virtual bool GetClipInfo(std::string& dvrName, std::string& channelName, TDateTime& startTime,
                           TDateTime& endTime) = 0;
  // kNoTime when there is no position.
  virtual TDateTime GetPosition() = 0;
  // True when every frame checks out.
  virtual bool VerifyFrames(TFrameError& error) = 0;

protected:
  std::int32_t SourceId;  // the channel (view) the source belongs to
  bool Valid = false;     // set once the file opened successfully
  std::string FileName;
  bool Active = false;    // true while a player uses the source
  std::string Description;
  std::int32_t FrameRate = 0;  // user's choice; -1: the stream's own rate
};

using IQuernBasicSources = std::vector<IQuernBasicSource*>;

class IQuernStreamSource : public IQuernBasicSource {
public:
  using IQuernBasicSource::IQuernBasicSource;
  // Data pointer valid only during the call.
  using TDataHandler = std::function<void(const TStreamPacketInfo& info, const std::uint8_t* data,
                                          std::int32_t size)>;
  virtual void SetOnData(TDataHandler handler) = 0;
  virtual bool Play() = 0;
  virtual bool Start(const TVideoSourceOptions& options) = 0;
  virtual bool Stop() = 0;
};

class IQuernSeekableStream : public IQuernStreamSource {
public:
  using IQuernStreamSource::IQuernStreamSource;
  virtual void SetSpeed(double speed) = 0;
  virtual void Faster() = 0;
  virtual void Slower() = 0;
  virtual double GetSpeed() = 0;
  virtual TDateTime Seek(TDateTime time) = 0;
  virtual TDateTime GoToStart() = 0;
  virtual TDateTime GoToEnd() = 0;
  virtual bool Pause() = 0;
  virtual bool Resume() = 0;
};

class IQuernVideoSource : public IQuernBasicSource {
public:
  using IQuernBasicSource::IQuernBasicSource;
  // Moves so that reading continues at or before time; returns time when the
  // position moved and 0.0 when it stayed.
  virtual TDateTime Seek(TDateTime time) = 0;
  virtual TDateTime GoToStart() = 0;
  virtual TDateTime GoToEnd() = 0;
  // Delivers the frame at the read position and moves one frame on in the
  // current direction. data is resized to the payload.
  virtual TReadResult ReadFrame(std::int32_t& sourceId, std::vector<std::uint8_t>& data,
                                TFrameHeader& header, TDateTime& time) = 0;
  virtual TReadResult SkipPastNextKeyFrame() = 0;
  virtual TReadResult ReadGopFrame(std::int32_t& sourceId, std::vector<std::uint8_t>& data,
                                   TFrameHeader& header, TDateTime& time) = 0;
  virtual bool Skip(std::int32_t count) = 0;
  virtual TReadResult PeekHeader(TFrameHeader& header) = 0;
  virtual std::string GetLastError() = 0;
  virtual bool SetKeyFramesOnly(bool value) = 0;
  virtual bool SetSpeed(double speed) = 0;
  virtual void MarkPosition() = 0;
  virtual void RestorePosition() = 0;
};

class IVideoSourcePlayer;

// Player events run on the player's own thread. The frame payload is valid
// only during the call.
using TPlayerFrameEvent =
    std::function<void(std::int32_t sourceId, const TFrameHeader& header, const std::uint8_t* data)>;
using TPlayerFlushEvent = std::function<void()>;
using TPlayerClipEndEvent =
    std::function<void(IVideoSourcePlayer* player, IQuernBasicSource* source, bool backward)>;

class IQuernPlayer {
public:
  virtual ~IQuernPlayer() = default;
  virtual void SetOnFrame(TPlayerFrameEvent handler) = 0;
  virtual void SetOnFlush(TPlayerFlushEvent handler) = 0;
  virtual void SeekAndPlay(TDateTime time) = 0;
  virtual void PlayAtSpeed(double speed) = 0;
  virtual void Play() = 0;
  virtual void StepForward() = 0;
  virtual void Stop() = 0;
  virtual bool Pause() = 0;
  virtual bool Resume() = 0;
  virtual bool Seek(TDateTime time) = 0;
  virtual void SeekRelative(TDateTime delta) = 0;
  virtual TDateTime GetPosition() = 0;
  virtual double GetSpeed() = 0;
  virtual bool SetSpeed(double speed) = 0;
  virtual bool IsPaused() = 0;
  virtual void SetPaused(bool value) = 0;
  virtual void Faster() = 0;
  virtual void Slower() = 0;
  virtual std::string GetLastError() = 0;
};

class IVideoSourcePlayer : public IQuernPlayer {
public:
  virtual void SetOnClipEnd(TPlayerClipEndEvent handler) = 0;
  virtual bool HasSource(IQuernBasicSource* source) = 0;
  virtual bool AddSource(IQuernBasicSource* source) = 0;
  virtual bool RemoveSource(IQuernBasicSource* source) = 0;
  virtual void KeepFirstSources(int count) = 0;
  virtual void KeepFirstSource() = 0;
  virtual void RemoveAllSources() = 0;
};

}  // namespace ospry
