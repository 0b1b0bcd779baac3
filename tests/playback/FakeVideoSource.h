#pragma once
// An in-memory pull source for player tests: clips of frames with stamps and
// key flags, read the way the clip file source reads (stream-header
// pseudo-frames first in either direction, key frames only going backward,
// groups, marks) and sought the way the player relies on: to the key frame at
// or before the last frame at or before the wanted time, or in a gap to the
// next clip's first frame.
//
// Each frame's payload is a test picture carrying the frame's stamp (see
// RecordingOutputs.h). Every read operation counts a violation when it runs
// while the source is not active (after a player removed it), so tests can
// prove that a player never reads a removed source.
//
// Threading: like real sources it takes no lock; the player serialises reads.
#include <atomic>
#include <cstdint>
#include <vector>

#include "viewer/sources/U_Interfaces.h"

namespace ospry::testing {

struct TFakeFrame {
  TDateTime Stamp = 0;
  bool Key = false;
};
using TFakeClip = std::vector<TFakeFrame>;

// count frames from start, intervalMs apart, a key frame every gop frames
// (starting with the first).
TFakeClip MakeFakeClip(TDateTime start, int count, int intervalMs, int gop);

class TFakeVideoSource final : public IQuernVideoSource {
public:
  TFakeVideoSource(std::int32_t sourceId, std::vector<TFakeClip> clips, int headerCount = 1,
                   bool canPlayBackward = true);

  bool CanPlayBackward() override { return canPlayBackward_; }
  bool GetClipInfo(std::string& dvrName, std::string& channelName, TDateTime& startTime,
                   TDateTime& endTime) override;
  TDateTime GetPosition() override;
  bool VerifyFrames(TFrameError& error) override;

  TDateTime Seek(TDateTime time) override;
  TDateTime GoToStart() override;
  TDateTime GoToEnd() override;
  TReadResult ReadFrame(std::int32_t& sourceId, std::vector<std::uint8_t>& data,
                        TFrameHeader& header, TDateTime& time) override;
  TReadResult SkipPastNextKeyFrame() override;
  TReadResult ReadGopFrame(std::int32_t& sourceId, std::vector<std::uint8_t>& data,
                           TFrameHeader& header, TDateTime& time) override;
  bool Skip(std::int32_t count) override;
  TReadResult PeekHeader(TFrameHeader& header) override;
  std::string GetLastError() override { return {}; }
  bool SetKeyFramesOnly(bool value) override;
  bool SetSpeed(double speed) override;
  void MarkPosition() override { marked_ = position_; }
  void RestorePosition() override { position_ = marked_; }

  // Test view.
  int Position() const { return position_; }
  int LastIndex() const { return static_cast<int>(frames_.size()) - 1; }
  TDateTime StampOf(int index) const { return frames_[static_cast<std::size_t>(index)].Stamp; }
  int Violations() const { return violations_.load(); }
  int Reads() const { return reads_.load(); }

private:
  void Touch();
  TFrameHeader HeaderAt(int position) const;
  int FirstFrameOfClip(std::size_t clip) const;

  std::vector<TFakeFrame> frames_;
  std::vector<std::pair<int, int>> clipRanges_;  // first and last frame index
  int headerCount_;
  bool canPlayBackward_;
  double speed_ = 0;
  bool keyFramesOnly_ = false;
  int position_;
  int marked_ = 0;
  std::atomic<int> violations_{0};
  std::atomic<int> reads_{0};
};

}  // namespace ospry::testing
