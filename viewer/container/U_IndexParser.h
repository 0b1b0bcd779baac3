#pragma once
// The clip index block of a clip container: one entry per recorded frame, one
// per clip, the stream headers decoders need first, and the recorder
// descriptions. TIndexParser reads the whole block once and then answers
// lookups by position and by time from memory.
//
// Error policy: Load returns null (with a reason) for a block that does not fit
// in its file; lookups report "none" as -1. Nothing throws.
// Threading: a loaded parser is immutable; its const operations may be called
// from any number of threads at once.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/DateTime.h"
#include "viewer/container/U_DvrInfo.h"

namespace ospry {

class TReadFile;

// Stream kinds 0 to 21 have a slot in the per-kind header tables.
inline constexpr int kIndexStreamKinds = 22;
// The frame type of a key frame, from which decoding can start.
inline constexpr std::uint8_t kIndexKeyFrame = 1;

// Record sizes on disk.
inline constexpr int kIndexHeaderBytes = 16;
inline constexpr int kFrameEntryBytes = 22;       // "QUERN678" containers
inline constexpr int kShortFrameEntryBytes = 18;  // "LUMENTAR" containers: 32-bit offsets
inline constexpr int kClipEntryBytes = 40;
inline constexpr int kHeaderEntryBytes = 8;
inline constexpr int kDvrInfoBytes = 216;

// One recorded frame. The first four fields are the frame's 14-byte header;
// at Offset (an absolute file position) the file holds DataSize frame bytes
// followed by their 4-byte CRC-32.
struct TFrameEntry {
  std::uint8_t StreamKind = 0;
  std::uint8_t FrameType = 0;
  std::int32_t DataSize = 0;
  TDateTime Stamp = 0;
  std::int64_t Offset = 0;
};

struct TClipEntry {
  std::int32_t FrameCount = 0;
  std::int32_t Count2 = 0;  // stored, not used
  std::int32_t Count3 = 0;  // stored, not used
  std::int32_t Reserved = 0;
  TDateTime Start = 0;      // time of the clip's first frame
  TDateTime End = 0;        // time of the clip's end
  std::int32_t ClipNumber = 0;  // stored, not used
  std::int32_t Reserved2 = 0;
};

// Announces the stream header of one stream kind; its Size bytes lie in the
// header data part of the block. The three bytes after the kind are kept as
// stored.
struct THeaderEntry {
  std::uint8_t StreamKind = 0;
  std::array<std::uint8_t, 3> Unused{};
  std::int32_t Size = 0;
};

// Record codecs, shared with the multi-clip reader and the writer. Decoders
// read exactly the record's size from p; encoders write exactly that many.
TFrameEntry DecodeFrameEntry(const std::uint8_t* p, bool shortEntries);
void EncodeFrameEntry(const TFrameEntry& entry, bool shortEntries, std::uint8_t* p);
TClipEntry DecodeClipEntry(const std::uint8_t* p);
void EncodeClipEntry(const TClipEntry& entry, std::uint8_t* p);
THeaderEntry DecodeHeaderEntry(const std::uint8_t* p);
void EncodeHeaderEntry(const THeaderEntry& entry, std::uint8_t* p);
TDvrInfo DecodeDvrInfo(const std::uint8_t* p);
// Texts longer than their fields are cut; bytes past each text are zero.
void EncodeDvrInfo(const TDvrInfo& info, std::uint8_t* p);

class TIndexParser {
public:
  // Reads the index block that ends distance bytes before origin in file
  // (the container reader passes the file's size as origin). Returns null when
  // a count or size is negative, when the block would reach before the start
  // of the file, or when the file cannot be read; error then names the cause.
  // Reads in three large positional reads, never one per entry.
  static std::unique_ptr<TIndexParser> Load(const TReadFile& file, std::int64_t distance, std::int64_t origin,
                                            bool shortEntries, std::string* error = nullptr);

  bool ShortEntries() const { return shortEntries_; }
  // Absolute file positions of the block's first byte and one past its last.
  std::int64_t BlockStart() const { return blockStart_; }
  std::int64_t BlockEnd() const { return blockEnd_; }

  std::int32_t FrameCount() const { return static_cast<std::int32_t>(frames_.size()); }
  std::int32_t ClipCount() const { return static_cast<std::int32_t>(clips_.size()); }
  std::int32_t DvrInfoCount() const { return static_cast<std::int32_t>(dvrInfos_.size()); }
  std::int32_t HeaderCount() const { return static_cast<std::int32_t>(headerEntries_.size()); }

  // Entries by position; the caller guarantees a valid index.
  const TFrameEntry& Frame(std::int32_t index) const { return frames_[static_cast<std::size_t>(index)]; }
  const TClipEntry& Clip(std::int32_t index) const { return clips_[static_cast<std::size_t>(index)]; }
  const TDvrInfo& DvrInfo(std::int32_t index) const { return dvrInfos_[static_cast<std::size_t>(index)]; }
  // Header entries in file order, kinds above 21 included.
  const THeaderEntry& HeaderEntry(std::int32_t index) const { return headerEntries_[static_cast<std::size_t>(index)]; }
  const std::vector<TFrameEntry>& Frames() const { return frames_; }
  const std::vector<TClipEntry>& Clips() const { return clips_; }
  const std::vector<TDvrInfo>& DvrInfos() const { return dvrInfos_; }
  const std::vector<THeaderEntry>& HeaderEntries() const { return headerEntries_; }

  void GetFrame(std::int32_t index, TFrameEntry& out) const { out = Frame(index); }
  void GetClip(std::int32_t index, TClipEntry& out) const { out = Clip(index); }
  void GetDvrInfo(std::int32_t index, TDvrInfo& out) const { out = DvrInfo(index); }
  // The entry last read for a stream kind (0 to 21); false when none names it.
  bool GetHeaderEntry(int kind, THeaderEntry& out) const;
  // The header bytes of a stream kind, read from that entry's own place in
  // the block; false (and out empty) when there are none.
  bool GetHeaderData(int kind, std::string& out) const;

  std::int32_t LastFrameIndex() const { return FrameCount() - 1; }
  std::int32_t LastClipIndex() const { return ClipCount() - 1; }
  // Start of the first clip and end of the last, kNoTime without clips.
  TDateTime FirstClipStart() const { return clips_.empty() ? kNoTime : clips_.front().Start; }
  TDateTime LastClipEnd() const { return clips_.empty() ? kNoTime : clips_.back().End; }

  // Bisection over the frame stamps in [lo, hi): the index of the frame at
  // time, or the last one before it; on an exact hit, the nearest key frame
  // at or before that frame (-1 when there is none). -1 for a range outside
  // the table; lo when the range holds one frame or none.
  std::int32_t FindFrame(std::int32_t lo, std::int32_t hi, TDateTime time) const;
  // Bisection over the clips in [lo, hi): the clip that holds time; in a gap
  // the clip before it; before the first clip clip 0, after the last the last.
  // -1 without clips or for a range outside the table.
  std::int32_t FindClip(std::int32_t lo, std::int32_t hi, TDateTime time) const;
  std::int32_t ClipAt(TDateTime time) const { return FindClip(0, ClipCount(), time); }
  // The frame at which the clip that holds time starts; -1 without clips.
  std::int32_t FirstFrameOfClipAt(TDateTime time) const;

private:
  TIndexParser() = default;

  bool shortEntries_ = false;
  std::int64_t blockStart_ = 0;
  std::int64_t blockEnd_ = 0;
  std::vector<TFrameEntry> frames_;
  std::vector<TClipEntry> clips_;
  std::vector<TDvrInfo> dvrInfos_;
  std::vector<THeaderEntry> headerEntries_;
  std::array<int, kIndexStreamKinds> headerEntryOfKind_{};  // position in headerEntries_, -1 for none
  std::array<std::string, kIndexStreamKinds> headerData_;
};

}  // namespace ospry
