#include "viewer/sources/U_FileSource.h"

#include <algorithm>
#include <cmath>

#include "viewer/container/U_ClipReader.h"
#include "viewer/container/U_Crc.h"

namespace ospry {

namespace {

constexpr const char* kHeaderError = "Could not get header";
constexpr const char* kReadError = "Error in file seek or read";
// Clips closer than this are shown as one stretch of time.
constexpr double kSegmentJoinMs = 4000.0;

}  // namespace

TFileSource::TFileSource(std::int32_t sourceId, const std::string& fileName, const std::string& extractFolder)
    : IQuernVideoSource(sourceId, fileName), ownedFile_(std::make_unique<TReadFile>()) {
  file_ = ownedFile_.get();
  if (ownedFile_->Open(fileName)) Load(ownedFile_->Size(), extractFolder);
}

TFileSource::TFileSource(std::int32_t sourceId, const TReadFile& file, std::int64_t endPosition,
                         const std::string& extractFolder)
    : IQuernVideoSource(sourceId, std::string()), file_(&file) {
  Load(endPosition, extractFolder);
}

TFileSource::~TFileSource() = default;

void TFileSource::Load(std::int64_t endPosition, const std::string& extractFolder) {
  TClipReader reader(*file_, endPosition, true, extractFolder);
  Valid = reader.Valid();
  if (!Valid) return;
  fileChecksum_ = reader.FileChecksum();
  Description = reader.Description();
  index_ = reader.TakeIndex();
  fileSize_ = file_->Size();
  GoToStart();
}

void TFileSource::SetLastError(const char* text) {
  std::lock_guard<std::mutex> lock(errorLock_);
  lastError_ = text;
}

std::string TFileSource::GetLastError() {
  std::lock_guard<std::mutex> lock(errorLock_);
  return lastError_;
}

std::string TFileSource::GetDisplayName() const {
  if (!FileName.empty() && FileExists(FileName)) return ExtractFileName(FileName);
  return FileName;
}

void TFileSource::GetSegments(TTimeSegments& segments) {
  segments.clear();
  if (!index_ || index_->ClipCount() == 0) return;
  TTimeSegment current{index_->Clip(0).Start, index_->Clip(0).End};
  for (std::int32_t i = 1; i < index_->ClipCount(); ++i) {
    const TClipEntry& clip = index_->Clip(i);
    // Rounded to the millisecond, so a gap of exactly 4 s is joined whatever
    // the date-time arithmetic leaves in the last bits.
    if (std::llround((clip.Start - current.End) * kMsPerDay) > kSegmentJoinMs) {
      segments.push_back(current);
      current.Start = clip.Start;
    }
    current.End = clip.End;
  }
  segments.push_back(current);
}

void TFileSource::GetInfo(TDvrInfo& info) {
  if (!index_ || index_->DvrInfoCount() == 0) {
    IQuernVideoSource::GetInfo(info);
    return;
  }
  info = index_->DvrInfo(0);
  info.EndTime = index_->DvrInfo(index_->DvrInfoCount() - 1).EndTime;
}

bool TFileSource::GetClipInfo(std::string& dvrName, std::string& channelName, TDateTime& startTime,
                              TDateTime& endTime) {
  if (!index_ || index_->DvrInfoCount() == 0) return false;
  const TDvrInfo& first = index_->DvrInfo(0);
  dvrName = first.DvrName;
  channelName = first.ChannelName;
  startTime = first.StartTime;
  endTime = index_->DvrInfo(index_->DvrInfoCount() - 1).EndTime;
  return true;
}

TDateTime TFileSource::GetPosition() {
  const std::int32_t position = position_;
  if (!index_ || position > LastFrame()) return kNoTime;
  if (position < 0) return index_->FirstClipStart();
  return index_->Frame(position).Stamp;
}

bool TFileSource::VerifyFrames(TFrameError& error) {
  if (!index_) return true;
  TFrameCheck check;
  if (VerifyIndexFrames(*file_, *index_, check)) return true;
  error.Corrupt = check.Corrupt;
  error.FrameOffset = check.FrameOffset;
  error.FrameSize = check.FrameSize;
  return false;
}

TDateTime TFileSource::Seek(TDateTime time) {
  if (!index_ || index_->FrameCount() == 0) return 0.0;
  const auto& frames = index_->Frames();
  std::int32_t target = -1;
  // In a gap between clips (or before the first) the next clip starts the
  // picture; its first frame is the first one stamped at or after its start.
  const std::int32_t clip = index_->ClipAt(time);
  if (clip >= 0) {
    const TClipEntry& entry = index_->Clip(clip);
    const TClipEntry* next = nullptr;
    if (time < entry.Start) next = &entry;
    else if (time > entry.End && clip < index_->LastClipIndex()) next = &index_->Clip(clip + 1);
    if (next) {
      const auto first = std::lower_bound(frames.begin(), frames.end(), next->Start,
                                          [](const TFrameEntry& f, TDateTime t) { return f.Stamp < t; });
      target = static_cast<std::int32_t>(std::min<std::ptrdiff_t>(first - frames.begin(), index_->LastFrameIndex()));
    }
  }
  if (target < 0) {
    const auto after = std::upper_bound(frames.begin(), frames.end(), time,
                                        [](TDateTime t, const TFrameEntry& f) { return t < f.Stamp; });
    target = std::max<std::int32_t>(static_cast<std::int32_t>(after - frames.begin()) - 1, 0);
  }
  // Decoding starts at a key frame: the one at or before the target, else the
  // first after it.
  std::int32_t key = target;
  while (key >= 0 && frames[static_cast<std::size_t>(key)].FrameType != kIndexKeyFrame) --key;
  if (key < 0) {
    key = target;
    while (key <= index_->LastFrameIndex() && frames[static_cast<std::size_t>(key)].FrameType != kIndexKeyFrame) ++key;
    if (key > index_->LastFrameIndex()) key = target;
  }
  position_ = key;
  return time;
}

TDateTime TFileSource::GoToStart() {
  position_ = -HeaderCount();
  return index_ ? index_->FirstClipStart() : kNoTime;
}

TDateTime TFileSource::GoToEnd() {
  position_ = LastFrame() + HeaderCount();
  return index_ ? index_->LastClipEnd() : kNoTime;
}

bool TFileSource::HeaderFrame(std::int32_t position, TFrameHeader& header, std::vector<std::uint8_t>* data) {
  const std::int32_t count = HeaderCount();
  const std::int32_t last = LastFrame();
  const std::int32_t entry = position < 0 ? position + count : count - (position - last);
  if (!index_ || entry < 0 || entry >= count) {
    SetLastError(kHeaderError);
    return false;
  }
  const THeaderEntry& headerEntry = index_->HeaderEntry(entry);
  std::string bytes;
  index_->GetHeaderData(headerEntry.StreamKind, bytes);
  header.StreamKind = headerEntry.StreamKind;
  header.FrameType = kFrameStreamHeader;
  header.DataSize = static_cast<std::int32_t>(bytes.size());
  if (position < 0 || last < 0)
    header.Stamp = index_->FirstClipStart();
  else
    header.Stamp = index_->Frame(last).Stamp;
  if (bytes.empty()) {
    SetLastError(kHeaderError);
    return false;
  }
  if (data) data->assign(bytes.begin(), bytes.end());
  return true;
}

TReadResult TFileSource::ReadFrame(std::int32_t& sourceId, std::vector<std::uint8_t>& data, TFrameHeader& header,
                                   TDateTime& time) {
  const int direction = speed_ < 0.0 ? -1 : 1;
  std::int32_t position = position_;
  const std::int32_t last = LastFrame();
  if (direction < 0 && position < 0) return kReadBeforeStart;
  if (direction > 0 && position > last) return kReadPastEnd;
  sourceId = SourceId;
  if (position > last || position < 0) {
    time = 0;
    const bool delivered = HeaderFrame(position, header, &data);
    position_ = position + direction;
    return delivered ? kReadFrame : kReadNothing;
  }
  TReadResult result = kReadFrame;
  const TFrameEntry& frame = index_->Frame(position);
  header.StreamKind = frame.StreamKind;
  header.FrameType = frame.FrameType;
  header.DataSize = frame.DataSize;
  header.Stamp = frame.Stamp;
  time = frame.Stamp;
  // The size is checked against the file before any buffer is sized from it;
  // a short read is a failed read.
  if (frame.DataSize < 0 || frame.Offset < 0 || frame.Offset > fileSize_ - frame.DataSize) {
    SetLastError(kReadError);
    result = kReadNothing;
  } else {
    data.resize(static_cast<std::size_t>(frame.DataSize));
    if (!file_->PositionalReadExact(frame.Offset, data.data(), frame.DataSize)) {
      SetLastError(kReadError);
      result = kReadNothing;
    }
  }
  // Move on also after a failed read, so playing goes on with the next frame.
  if (keyFramesOnly_) {
    do {
      position += direction;
    } while (position >= 0 && position <= last && index_->Frame(position).FrameType != kIndexKeyFrame);
  } else {
    position += direction;
  }
  position_ = position;
  return result;
}

TReadResult TFileSource::SkipPastNextKeyFrame() {
  TReadResult result = kReadFrame;
  std::int32_t position = position_;
  const std::int32_t last = LastFrame();
  for (;;) {
    ++position;
    if (position > last) {
      result = kReadPastEnd;
      break;
    }
    if (position < 0) {
      result = kReadBeforeStart;
      break;
    }
    if (index_->Frame(position).FrameType == kIndexKeyFrame) break;
  }
  position_ = position + 1;
  return result;
}

TReadResult TFileSource::ReadGopFrame(std::int32_t& sourceId, std::vector<std::uint8_t>& data, TFrameHeader& header,
                                      TDateTime& time) {
  const double savedSpeed = speed_;
  const bool savedKeyFramesOnly = keyFramesOnly_;
  speed_ = 1.0;
  keyFramesOnly_ = false;
  TReadResult result = kReadNothing;
  TFrameHeader peeked;
  if (PeekHeader(peeked) == kReadFrame && peeked.FrameType != kIndexKeyFrame)
    result = ReadFrame(sourceId, data, header, time);
  speed_ = savedSpeed;
  keyFramesOnly_ = savedKeyFramesOnly;
  return result;
}

bool TFileSource::Skip(std::int32_t count) {
  const std::int64_t target = std::int64_t{position_} + count;
  if (target < 0 || target > LastFrame()) return false;
  position_ = static_cast<std::int32_t>(target);
  return true;
}

TReadResult TFileSource::PeekHeader(TFrameHeader& header) {
  const std::int32_t position = position_;
  if (position > LastFrame()) return kReadPastEnd;
  if (position < 0) {
    HeaderFrame(position, header, nullptr);
    return kReadFrame;
  }
  const TFrameEntry& frame = index_->Frame(position);
  header.StreamKind = frame.StreamKind;
  header.FrameType = frame.FrameType;
  header.DataSize = frame.DataSize;
  header.Stamp = frame.Stamp;
  return kReadFrame;
}

bool TFileSource::SetKeyFramesOnly(bool value) {
  keyFramesOnly_ = value;
  return true;
}

bool TFileSource::SetSpeed(double speed) {
  SetKeyFramesOnly(speed < 0.0);
  speed_ = speed;
  return true;
}

}  // namespace ospry
