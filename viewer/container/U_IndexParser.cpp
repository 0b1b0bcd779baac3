#include "viewer/container/U_IndexParser.h"

#include <cstring>

#include "platform/Files.h"
#include "viewer/container/U_LittleEndian.h"

namespace ospry {

namespace {

// Field layout of the recorder description.
constexpr int kDvrNameAt = 0, kDvrNameWidth = 51;
constexpr int kExtraTextAt = 51, kExtraTextWidth = 51;
constexpr int kChannelNameAt = 102, kChannelNameWidth = 21;
constexpr int kUserNameAt = 123, kUserNameWidth = 51;
constexpr int kHostNameAt = 174, kHostNameWidth = 26;
constexpr int kStartTimeAt = 200, kEndTimeAt = 208;

std::nullptr_t Fail(std::string* error, const char* text) {
  if (error) *error = text;
  return nullptr;
}

}  // namespace

TFrameEntry DecodeFrameEntry(const std::uint8_t* p, bool shortEntries) {
  TFrameEntry e;
  e.StreamKind = le::U8(p);
  e.FrameType = le::U8(p + 1);
  e.DataSize = le::I32(p + 2);
  e.Stamp = le::F64(p + 6);
  e.Offset = shortEntries ? static_cast<std::int64_t>(le::I32(p + 14)) : le::I64(p + 14);
  return e;
}

void EncodeFrameEntry(const TFrameEntry& e, bool shortEntries, std::uint8_t* p) {
  le::PutU8(p, e.StreamKind);
  le::PutU8(p + 1, e.FrameType);
  le::PutI32(p + 2, e.DataSize);
  le::PutF64(p + 6, e.Stamp);
  if (shortEntries)
    le::PutI32(p + 14, static_cast<std::int32_t>(e.Offset));
  else
    le::PutI64(p + 14, e.Offset);
}

TClipEntry DecodeClipEntry(const std::uint8_t* p) {
  TClipEntry c;
  c.FrameCount = le::I32(p);
  c.Count2 = le::I32(p + 4);
  c.Count3 = le::I32(p + 8);
  c.Reserved = le::I32(p + 12);
  c.Start = le::F64(p + 16);
  c.End = le::F64(p + 24);
  c.ClipNumber = le::I32(p + 32);
  c.Reserved2 = le::I32(p + 36);
  return c;
}

void EncodeClipEntry(const TClipEntry& c, std::uint8_t* p) {
  le::PutI32(p, c.FrameCount);
  le::PutI32(p + 4, c.Count2);
  le::PutI32(p + 8, c.Count3);
  le::PutI32(p + 12, c.Reserved);
  le::PutF64(p + 16, c.Start);
  le::PutF64(p + 24, c.End);
  le::PutI32(p + 32, c.ClipNumber);
  le::PutI32(p + 36, c.Reserved2);
}

THeaderEntry DecodeHeaderEntry(const std::uint8_t* p) {
  THeaderEntry h;
  h.StreamKind = le::U8(p);
  std::memcpy(h.Unused.data(), p + 1, 3);
  h.Size = le::I32(p + 4);
  return h;
}

void EncodeHeaderEntry(const THeaderEntry& h, std::uint8_t* p) {
  le::PutU8(p, h.StreamKind);
  std::memcpy(p + 1, h.Unused.data(), 3);
  le::PutI32(p + 4, h.Size);
}

TDvrInfo DecodeDvrInfo(const std::uint8_t* p) {
  TDvrInfo info;
  info.DvrName = le::Text(p + kDvrNameAt, kDvrNameWidth);
  info.ExtraText = le::Text(p + kExtraTextAt, kExtraTextWidth);
  info.ChannelName = le::Text(p + kChannelNameAt, kChannelNameWidth);
  info.UserName = le::Text(p + kUserNameAt, kUserNameWidth);
  info.HostName = le::Text(p + kHostNameAt, kHostNameWidth);
  info.StartTime = le::F64(p + kStartTimeAt);
  info.EndTime = le::F64(p + kEndTimeAt);
  return info;
}

void EncodeDvrInfo(const TDvrInfo& info, std::uint8_t* p) {
  std::memset(p, 0, kDvrInfoBytes);
  le::PutText(p + kDvrNameAt, kDvrNameWidth, info.DvrName);
  le::PutText(p + kExtraTextAt, kExtraTextWidth, info.ExtraText);
  le::PutText(p + kChannelNameAt, kChannelNameWidth, info.ChannelName);
  le::PutText(p + kUserNameAt, kUserNameWidth, info.UserName);
  le::PutText(p + kHostNameAt, kHostNameWidth, info.HostName);
  le::PutF64(p + kStartTimeAt, info.StartTime);
  le::PutF64(p + kEndTimeAt, info.EndTime);
}

std::unique_ptr<TIndexParser> TIndexParser::Load(const TReadFile& file, std::int64_t distance, std::int64_t origin,
                                                 bool shortEntries, std::string* error) {
  const std::int64_t fileSize = file.Size();
  if (fileSize < 0) return Fail(error, "file cannot be read");
  if (distance < 0 || origin < distance || origin > fileSize) return Fail(error, "index position outside the file");
  const std::int64_t blockEnd = origin - distance;
  if (blockEnd < kIndexHeaderBytes) return Fail(error, "index header outside the file");

  std::uint8_t header[kIndexHeaderBytes];
  if (!file.PositionalReadExact(blockEnd - kIndexHeaderBytes, header, kIndexHeaderBytes))
    return Fail(error, "index header cannot be read");
  const std::int64_t frameCount = le::I32(header);
  const std::int64_t clipCount = le::I32(header + 4);
  const std::int64_t headerCount = le::I32(header + 8);
  const std::int64_t dvrInfoCount = le::I32(header + 12);
  if (frameCount < 0 || clipCount < 0 || headerCount < 0 || dvrInfoCount < 0)
    return Fail(error, "negative count in the index header");

  // Every part must fit between the start of the file and the index header
  // before anything is sized from a count.
  std::int64_t available = blockEnd - kIndexHeaderBytes;
  const std::int64_t tableBytes = headerCount * kHeaderEntryBytes + dvrInfoCount * kDvrInfoBytes;
  if (tableBytes > available) return Fail(error, "index tables larger than the file");
  available -= tableBytes;
  const std::int64_t entryBytes = frameCount * (shortEntries ? kShortFrameEntryBytes : kFrameEntryBytes) +
                                  clipCount * kClipEntryBytes;
  if (entryBytes > available) return Fail(error, "frame and clip entries larger than the file");
  available -= entryBytes;

  std::unique_ptr<TIndexParser> index(new TIndexParser());
  index->shortEntries_ = shortEntries;
  index->blockEnd_ = blockEnd;
  index->headerEntryOfKind_.fill(-1);

  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(tableBytes));
  const std::int64_t tablesAt = blockEnd - kIndexHeaderBytes - tableBytes;
  if (!file.PositionalReadExact(tablesAt, bytes.data(), tableBytes))
    return Fail(error, "index tables cannot be read");
  index->headerEntries_.reserve(static_cast<std::size_t>(headerCount));
  std::int64_t headerDataBytes = 0;
  for (std::int64_t i = 0; i < headerCount; ++i) {
    const THeaderEntry entry = DecodeHeaderEntry(bytes.data() + i * kHeaderEntryBytes);
    if (entry.Size < 0) return Fail(error, "negative stream header size");
    headerDataBytes += entry.Size;
    if (headerDataBytes > available) return Fail(error, "stream headers larger than the file");
    index->headerEntries_.push_back(entry);
  }
  index->dvrInfos_.reserve(static_cast<std::size_t>(dvrInfoCount));
  for (std::int64_t i = 0; i < dvrInfoCount; ++i)
    index->dvrInfos_.push_back(DecodeDvrInfo(bytes.data() + headerCount * kHeaderEntryBytes + i * kDvrInfoBytes));

  // Frame entries, clip entries and header data lie next to each other: one read.
  const std::int64_t lowerBytes = entryBytes + headerDataBytes;
  index->blockStart_ = tablesAt - lowerBytes;
  bytes.assign(static_cast<std::size_t>(lowerBytes), 0);
  if (!file.PositionalReadExact(index->blockStart_, bytes.data(), lowerBytes))
    return Fail(error, "frame entries cannot be read");
  const std::uint8_t* p = bytes.data();
  const int frameBytes = shortEntries ? kShortFrameEntryBytes : kFrameEntryBytes;
  index->frames_.resize(static_cast<std::size_t>(frameCount));
  for (auto& frame : index->frames_) {
    frame = DecodeFrameEntry(p, shortEntries);
    p += frameBytes;
  }
  index->clips_.resize(static_cast<std::size_t>(clipCount));
  for (auto& clip : index->clips_) {
    clip = DecodeClipEntry(p);
    p += kClipEntryBytes;
  }
  // Each entry's bytes are read from its own place; for a kind named twice the
  // later entry governs. Kinds without a table slot are passed over.
  for (std::size_t i = 0; i < index->headerEntries_.size(); ++i) {
    const THeaderEntry& entry = index->headerEntries_[i];
    if (entry.StreamKind < kIndexStreamKinds) {
      index->headerEntryOfKind_[entry.StreamKind] = static_cast<int>(i);
      index->headerData_[entry.StreamKind].assign(reinterpret_cast<const char*>(p), static_cast<std::size_t>(entry.Size));
    }
    p += entry.Size;
  }
  return index;
}

bool TIndexParser::GetHeaderEntry(int kind, THeaderEntry& out) const {
  if (kind < 0 || kind >= kIndexStreamKinds || headerEntryOfKind_[kind] < 0) return false;
  out = headerEntries_[static_cast<std::size_t>(headerEntryOfKind_[kind])];
  return true;
}

bool TIndexParser::GetHeaderData(int kind, std::string& out) const {
  out.clear();
  if (kind < 0 || kind >= kIndexStreamKinds || headerData_[kind].empty()) return false;
  out = headerData_[kind];
  return true;
}

std::int32_t TIndexParser::FindFrame(std::int32_t lo, std::int32_t hi, TDateTime time) const {
  if (hi > FrameCount() || lo < 0 || hi < lo) return -1;
  for (;;) {
    const std::int32_t half = (hi - lo) / 2;
    if (half == 0) return lo;
    const std::int32_t mid = lo + half;
    const TDateTime stamp = frames_[static_cast<std::size_t>(mid)].Stamp;
    if (stamp > time) {
      hi = mid;
    } else if (stamp < time) {
      lo = mid;
    } else {
      for (std::int32_t i = mid; i >= 0; --i)
        if (frames_[static_cast<std::size_t>(i)].FrameType == kIndexKeyFrame) return i;
      return -1;
    }
  }
}

std::int32_t TIndexParser::FindClip(std::int32_t lo, std::int32_t hi, TDateTime time) const {
  if (hi > ClipCount() || lo < 0 || hi < lo || clips_.empty()) return -1;
  for (;;) {
    const std::int32_t half = (hi - lo) / 2;
    if (half == 0) return lo;
    const std::int32_t mid = lo + half;
    const TClipEntry& clip = clips_[static_cast<std::size_t>(mid)];
    if (clip.Start > time)
      hi = mid;
    else if (clip.End < time)
      lo = mid;
    else
      return mid;
  }
}

std::int32_t TIndexParser::FirstFrameOfClipAt(TDateTime time) const {
  const std::int32_t clip = ClipAt(time);
  if (clip < 0) return -1;
  return FindFrame(0, FrameCount(), clips_[static_cast<std::size_t>(clip)].Start);
}

}  // namespace ospry
