#pragma once
// The pull source for MPEG video files, raw elementary streams (H.264,
// MPEG-4 part 2, Motion JPEG) included, demultiplexed with libavformat.
// Packets are handed on unchanged as encoded frames:
//   video H.264        kind 3,  type 1 for key frames, else the picture-type scan
//   video MPEG-4 pt 2  kind 15, type from the picture-type scan
//   video Motion JPEG  kind 16, type 1
//   audio              kind 20, type 3; before the first packet of the audio
//                      stream an audio header pseudo-frame (kind 20, type 16,
//                      the 13 bytes codec kind, channels, bit rate, sample
//                      rate) so that the audio decoder can open
// Only the first video stream in a supported codec and the first audio
// stream in µ-law, G.726 or AAC are delivered; packets of other streams are
// skipped.
//
// Such files carry no recording times: the file is taken to start at
// midnight of the day it was last modified and to span exactly one day.
// Stamps mark the end of each packet's frame: with the user's FrameRate
// above 0, (packets read + 1) / FrameRate; else from the packet's decoding
// time stamp when it has one; else (packets read + 1) frame durations of the
// stream's own rate. Seek maps the day linearly onto byte
// positions. Reading is always forward; the source cannot play backward.
//
// Error texts: "unable to open mpeg file", "not a valid mpeg stream", "could
// not find a video stream", "seek failed".
//
// Threading: ReadFrame, Seek, GoToStart, GoToEnd and the reading operations
// run on the file player's thread; Probe, Reopen, Start, Close and
// GetPictureSize on the main thread before playing starts; GetPosition and the
// information operations on any thread (the position fields are guarded by an
// internal lock, which is held only briefly and never while calling out).
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/Locks.h"
#include "viewer/sources/U_Interfaces.h"

extern "C" {
struct AVFormatContext;
struct AVPacket;
}

namespace ospry {

// The picture type of an MPEG-4 part 2 packet: the top two bits after the
// last 00 00 01 B6 start code at offsets 0 .. size-5: 00 gives 1 (intra),
// 01 gives 19 (predicted); 0 when no start code decides.
std::uint8_t ScanPictureType(const std::uint8_t* data, std::int64_t size);

class TMpegFile final : public IQuernVideoSource {
public:
  TMpegFile(std::int32_t sourceId, const std::string& fileName);
  ~TMpegFile() override;

  // Opens options.FileName to check it, then closes it. Sets Valid.
  bool Probe(const TVideoSourceOptions& options);
  // Start with the stored options when they name a file.
  bool Reopen();
  // Closes when open, then opens options.FileName; Active on success.
  bool Start(const TVideoSourceOptions& options);
  void Close();
  // The video stream's picture size; 0 x 0 when closed.
  void GetPictureSize(int& width, int& height) const;
  TDateTime GetStartTime() const { return startTime_; }

  std::string GetDisplayName() const override;
  void GetSegments(TTimeSegments& segments) override;
  bool HasFrameRateChoice() override { return true; }
  void GetInfo(TDvrInfo& info) override;
  // Start and end of the day; false: the file names no recorder or channel
  // (the names are left as they were).
  bool GetClipInfo(std::string& dvrName, std::string& channelName, TDateTime& startTime,
                   TDateTime& endTime) override;
  // The stamp of the packet read last; StartTime before the first read.
  TDateTime GetPosition() override;
  bool VerifyFrames(TFrameError& error) override;

  // Moves to the byte position (time - StartTime) x file size. Outside the day
  // nothing happens and StartTime is returned; otherwise time (a failed seek
  // only sets "seek failed").
  TDateTime Seek(TDateTime time) override;
  TDateTime GoToStart() override;  // Seek(StartTime)
  TDateTime GoToEnd() override;    // Seek(StartTime + 0.99 day)
  // 1 and the next packet; 2 at the end of the file or on a read error (and
  // when closed).
  TReadResult ReadFrame(std::int32_t& sourceId, std::vector<std::uint8_t>& data, TFrameHeader& header,
                        TDateTime& time) override;
  // Backward play is not possible here: these deliver nothing and move nothing.
  TReadResult SkipPastNextKeyFrame() override { return kReadNothing; }
  TReadResult ReadGopFrame(std::int32_t&, std::vector<std::uint8_t>&, TFrameHeader&, TDateTime&) override {
    return kReadNothing;
  }
  bool Skip(std::int32_t) override { return false; }
  TReadResult PeekHeader(TFrameHeader&) override { return kReadNothing; }
  std::string GetLastError() override;
  bool SetKeyFramesOnly(bool value) override;
  bool SetSpeed(double speed) override;
  void MarkPosition() override {}
  void RestorePosition() override {}

private:
  struct TFormatCloser { void operator()(AVFormatContext* context) const noexcept; };
  struct TPacketFreer { void operator()(AVPacket* packet) const noexcept; };

  bool OpenMpeg(const std::string& fileName);
  void SetError(const std::string& text);
  // Position in milliseconds after the packet of stream index with dts
  // (AV_NOPTS_VALUE when it has none), given the frames read so far.
  double PositionMs(int streamIndex, std::int64_t dts, std::int64_t framesRead) const;

  TVideoSourceOptions options_;
  std::unique_ptr<AVFormatContext, TFormatCloser> context_;
  std::unique_ptr<AVPacket, TPacketFreer> packet_;  // reused; released after each copy
  bool packetPending_ = false;  // packet_ holds an audio packet whose header went first
  int videoStream_ = -1;
  int audioStream_ = -1;
  bool audioHeaderSent_ = false;
  std::uint8_t videoKind_ = 0;
  double frameMs_ = 40;  // the stream's own frame duration
  TDateTime startTime_ = 0;
  double speed_ = 1;
  bool keyFramesOnly_ = false;

  mutable TLock lock_;
  std::string lastError_;       // guarded by lock_
  std::int64_t framesRead_ = 0;  // guarded by lock_; packets read since opening
  TDateTime position_ = 0;       // guarded by lock_
  int width_ = 0;                // guarded by lock_
  int height_ = 0;               // guarded by lock_
};

}  // namespace ospry
