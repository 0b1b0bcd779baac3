#include "tests/playback/FakeVideoSource.h"

#include <cstring>

#include "tests/playback/RecordingOutputs.h"

namespace ospry::testing {

TFakeClip MakeFakeClip(TDateTime start, int count, int intervalMs, int gop) {
  TFakeClip clip;
  for (int i = 0; i < count; ++i)
    clip.push_back({start + static_cast<double>(i) * intervalMs / kMsPerDay, i % gop == 0});
  return clip;
}

TFakeVideoSource::TFakeVideoSource(std::int32_t sourceId, std::vector<TFakeClip> clips,
                                   int headerCount, bool canPlayBackward)
    : IQuernVideoSource(sourceId, "fake"),
      headerCount_(headerCount),
      canPlayBackward_(canPlayBackward),
      position_(-headerCount) {
  for (const auto& clip : clips) {
    if (clip.empty()) continue;
    const int first = static_cast<int>(frames_.size());
    frames_.insert(frames_.end(), clip.begin(), clip.end());
    clipRanges_.emplace_back(first, static_cast<int>(frames_.size()) - 1);
  }
  Valid = true;
}

void TFakeVideoSource::Touch() {
  ++reads_;
  if (!Active) ++violations_;
}

bool TFakeVideoSource::GetClipInfo(std::string& dvrName, std::string& channelName,
                                   TDateTime& startTime, TDateTime& endTime) {
  if (frames_.empty()) return false;
  dvrName = "fake";
  channelName = "fake";
  startTime = frames_.front().Stamp;
  endTime = frames_.back().Stamp;
  return true;
}

TDateTime TFakeVideoSource::GetPosition() {
  if (position_ > LastIndex()) return kNoTime;
  if (position_ < 0) return frames_.empty() ? kNoTime : frames_.front().Stamp;
  return StampOf(position_);
}

bool TFakeVideoSource::VerifyFrames(TFrameError&) { return true; }

int TFakeVideoSource::FirstFrameOfClip(std::size_t clip) const { return clipRanges_[clip].first; }

TDateTime TFakeVideoSource::Seek(TDateTime time) {
  Touch();
  if (frames_.empty()) return 0.0;
  int target = -1;
  for (std::size_t c = 0; c < clipRanges_.size() && target < 0; ++c) {
    const auto [first, last] = clipRanges_[c];
    if (time < StampOf(first)) {
      target = first;  // in a gap or before the first clip
    } else if (time <= StampOf(last)) {
      target = first;
      while (target < last && StampOf(target + 1) <= time) ++target;
    }
  }
  if (target < 0) target = LastIndex();
  while (target > 0 && !frames_[static_cast<std::size_t>(target)].Key) --target;
  position_ = target;
  return time;
}

TDateTime TFakeVideoSource::GoToStart() {
  Touch();
  position_ = -headerCount_;
  return frames_.empty() ? kNoTime : frames_.front().Stamp;
}

TDateTime TFakeVideoSource::GoToEnd() {
  Touch();
  position_ = LastIndex() + headerCount_;
  return frames_.empty() ? kNoTime : frames_.back().Stamp;
}

TFrameHeader TFakeVideoSource::HeaderAt(int position) const {
  TFrameHeader header;
  header.StreamKind = 2;
  if (position < 0 || position > LastIndex()) {
    header.FrameType = kFrameStreamHeader;
    header.DataSize = 40;
    header.Stamp = position < 0 ? frames_.front().Stamp : frames_.back().Stamp;
    return header;
  }
  const TFakeFrame& frame = frames_[static_cast<std::size_t>(position)];
  header.FrameType = frame.Key ? kFrameKey : 2;
  header.DataSize = 24;  // a 4 x 4 test picture
  header.Stamp = frame.Stamp;
  return header;
}

TReadResult TFakeVideoSource::ReadFrame(std::int32_t& sourceId, std::vector<std::uint8_t>& data,
                                        TFrameHeader& header, TDateTime& time) {
  Touch();
  const int direction = speed_ < 0.0 ? -1 : 1;
  if (direction < 0 && position_ < 0) return kReadBeforeStart;
  if (direction > 0 && position_ > LastIndex()) return kReadPastEnd;
  if (frames_.empty()) return direction < 0 ? kReadBeforeStart : kReadPastEnd;
  sourceId = SourceId;
  header = HeaderAt(position_);
  if (header.FrameType == kFrameStreamHeader) {
    time = 0;
    data.assign(static_cast<std::size_t>(header.DataSize), 0xAB);
    position_ += direction;
    return kReadFrame;
  }
  time = header.Stamp;
  data = TestPicture(header.Stamp);
  if (keyFramesOnly_) {
    do {
      position_ += direction;
    } while (position_ >= 0 && position_ <= LastIndex() &&
             !frames_[static_cast<std::size_t>(position_)].Key);
  } else {
    position_ += direction;
  }
  return kReadFrame;
}

TReadResult TFakeVideoSource::SkipPastNextKeyFrame() {
  Touch();
  TReadResult result = kReadFrame;
  for (;;) {
    ++position_;
    if (position_ > LastIndex()) {
      result = kReadPastEnd;
      break;
    }
    if (position_ < 0) {
      result = kReadBeforeStart;
      break;
    }
    if (frames_[static_cast<std::size_t>(position_)].Key) break;
  }
  ++position_;
  return result;
}

TReadResult TFakeVideoSource::ReadGopFrame(std::int32_t& sourceId, std::vector<std::uint8_t>& data,
                                           TFrameHeader& header, TDateTime& time) {
  Touch();
  const double speed = speed_;
  const bool keyOnly = keyFramesOnly_;
  speed_ = 1.0;
  keyFramesOnly_ = false;
  TFrameHeader peeked;
  TReadResult result = kReadNothing;
  if (PeekHeader(peeked) == kReadFrame && peeked.FrameType != kFrameKey)
    result = ReadFrame(sourceId, data, header, time);
  speed_ = speed;
  keyFramesOnly_ = keyOnly;
  return result;
}

bool TFakeVideoSource::Skip(std::int32_t count) {
  Touch();
  const int target = position_ + count;
  if (target < 0 || target > LastIndex()) return false;
  position_ = target;
  return true;
}

TReadResult TFakeVideoSource::PeekHeader(TFrameHeader& header) {
  Touch();
  if (position_ > LastIndex() || frames_.empty()) return kReadPastEnd;
  header = HeaderAt(position_);
  return kReadFrame;
}

bool TFakeVideoSource::SetKeyFramesOnly(bool value) {
  keyFramesOnly_ = value;
  return true;
}

bool TFakeVideoSource::SetSpeed(double speed) {
  SetKeyFramesOnly(speed < 0.0);
  speed_ = speed;
  return true;
}

}  // namespace ospry::testing
