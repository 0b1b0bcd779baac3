#include "viewer/container/U_ClipSplitter.h"

#include "viewer/container/U_IndexParser.h"
#include "viewer/container/U_LittleEndian.h"

namespace ospry {

namespace {

// The smallest container: an empty index header, a section header and the tail.
constexpr std::int64_t kSmallestContainerBytes = kIndexHeaderBytes + kSectionHeaderBytes + kContainerTailBytes;

bool Fail(std::string& error, const char* text) {
  error = text;
  return false;
}

}  // namespace

std::string MultiClipModeName(std::uint8_t mode) {
  switch (mode) {
    case kModePlayList: return "Play list";
    case kModeSyncPlay: return "Sync play";
    default: return "Unknown";
  }
}

TMultiClipEntry DecodeMultiClipEntry(const std::uint8_t* p) {
  TMultiClipEntry entry;
  entry.Info = DecodeDvrInfo(p);
  entry.EndPosition = le::I64(p + kDvrInfoBytes);
  return entry;
}

void EncodeMultiClipEntry(const TMultiClipEntry& entry, std::uint8_t* p) {
  EncodeDvrInfo(entry.Info, p);
  le::PutI64(p + kDvrInfoBytes, entry.EndPosition);
}

TClipSplitter::TClipSplitter(const std::string& fileName, bool extractSections, const std::string& extractFolder)
    : fileName_(fileName) {
  valid_ = Read(extractSections, extractFolder);
  if (!valid_) {
    clips_.clear();
    sections_ = TSectionTable{};
  }
}

bool TClipSplitter::Read(bool extractSections, const std::string& extractFolder) {
  if (!file_.Open(fileName_)) return Fail(error_, "file cannot be opened");
  fileSize_ = file_.Size();
  if (fileSize_ < kMultiClipTrailerBytes) return Fail(error_, "no multi-clip trailer");
  if (!file_.PositionalReadExact(fileSize_ - kMultiClipTrailerBytes, trailer_.data(), kMultiClipTrailerBytes))
    return Fail(error_, "multi-clip trailer cannot be read");
  // The length byte and the five characters must match; the rest of the
  // field carries no meaning.
  const std::uint8_t* magic = trailer_.data() + kMultiClipMagicAt;
  if (magic[0] != kMultiClipMagic.size() ||
      std::string_view(reinterpret_cast<const char*>(magic + 1), kMultiClipMagic.size()) != kMultiClipMagic)
    return Fail(error_, "no multi-clip trailer");

  const std::int64_t clipCount = le::I32(trailer_.data() + kMultiClipCountAt);
  mode_ = le::U8(trailer_.data() + kMultiClipModeAt);
  description_ = le::Text(trailer_.data() + kMultiClipDescriptionAt, kMultiClipDescriptionWidth);
  fileChecksum_ = le::U32(trailer_.data() + kMultiClipChecksumAt);

  const std::int64_t below = fileSize_ - kMultiClipTrailerBytes - kSectionHeaderBytes;
  if (clipCount < 0 || clipCount * kMultiClipEntryBytes > below)
    return Fail(error_, "clip count does not fit in the file");
  const std::int64_t entriesAt = fileSize_ - kMultiClipTrailerBytes - clipCount * kMultiClipEntryBytes;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(clipCount * kMultiClipEntryBytes));
  if (!file_.PositionalReadExact(entriesAt, bytes.data(), static_cast<std::int64_t>(bytes.size())))
    return Fail(error_, "clip entries cannot be read");
  clips_.reserve(static_cast<std::size_t>(clipCount));
  for (std::int64_t i = 0; i < clipCount; ++i)
    clips_.push_back(DecodeMultiClipEntry(bytes.data() + i * kMultiClipEntryBytes));

  std::int64_t sectionsBottom = 0;
  if (!ReadSectionDescriptors(file_, entriesAt, sections_, sectionsBottom, &error_)) return false;
  // Every clip's container must lie in front of the file's own sections.
  for (const auto& clip : clips_)
    if (clip.EndPosition < kSmallestContainerBytes || clip.EndPosition > sectionsBottom)
      return Fail(error_, "clip end position outside the clip area");
  if (!LoadSectionData(file_, sections_, extractSections, extractFolder))
    return Fail(error_, "section data cannot be read");
  error_.clear();
  return true;
}

}  // namespace ospry
