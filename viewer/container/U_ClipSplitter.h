#pragma once
// Multi-clip files: several clip containers one after another, then the
// file's own sections, one 224-byte entry per clip (a recorder description and
// the absolute position where that clip's container ends) and a 275-byte
// trailer (clip count, mode, description, the magic "QUERN", file checksum).
// TClipSplitter recognises such a file by its trailer, reads its tables and
// keeps the file open for the clip file sources made from it.
//
// Error policy: a file that is not a multi-clip file, or whose tables do not
// fit in it, gives Valid() == false (reason in Error()); nothing throws.
// Threading: all reading happens in the constructor; afterwards the splitter
// is immutable and File() may be read through PositionalRead by any number of
// threads at once. Sources made from File() must be destroyed before the
// splitter.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Files.h"
#include "viewer/container/U_ClipReader.h"
#include "viewer/container/U_DvrInfo.h"

namespace ospry {

inline constexpr int kMultiClipTrailerBytes = 275;
inline constexpr int kMultiClipEntryBytes = 224;
inline constexpr std::string_view kMultiClipMagic = "QUERN";
inline constexpr int kMultiClipDescriptionWidth = 256;  // length byte and up to 255 characters
inline constexpr int kMultiClipMagicWidth = 10;

// Trailer field offsets.
inline constexpr int kMultiClipCountAt = 0;
inline constexpr int kMultiClipModeAt = 4;
inline constexpr int kMultiClipDescriptionAt = 5;
inline constexpr int kMultiClipMagicAt = 261;
inline constexpr int kMultiClipChecksumAt = 271;

// Play modes; every value other than kModeSyncPlay plays as a play list.
inline constexpr std::uint8_t kModePlayList = 0;
inline constexpr std::uint8_t kModeSyncPlay = 1;
// "Play list", "Sync play" or "Unknown".
std::string MultiClipModeName(std::uint8_t mode);

struct TMultiClipEntry {
  TDvrInfo Info;                 // describes the clip
  std::int64_t EndPosition = 0;  // where the clip's container ends in the file
};

TMultiClipEntry DecodeMultiClipEntry(const std::uint8_t* p);
void EncodeMultiClipEntry(const TMultiClipEntry& entry, std::uint8_t* p);

class TClipSplitter {
public:
  // Opens fileName and reads its trailer and tables; with extractSections the
  // file's sections are written to extractFolder (TempFolder() when empty) as
  // the container reader does.
  TClipSplitter(const std::string& fileName, bool extractSections, const std::string& extractFolder = {});

  bool Valid() const { return valid_; }
  const std::string& Error() const { return error_; }
  const std::string& FileName() const { return fileName_; }
  // The open file, shared with the clip file sources made from it.
  const TReadFile& File() const { return file_; }
  std::int64_t FileSize() const { return fileSize_; }

  const std::vector<TMultiClipEntry>& Clips() const { return clips_; }
  std::int32_t ClipCount() const { return static_cast<std::int32_t>(clips_.size()); }
  std::uint8_t Mode() const { return mode_; }
  const std::string& Description() const { return description_; }
  std::uint32_t FileChecksum() const { return fileChecksum_; }
  const std::array<std::uint8_t, kMultiClipTrailerBytes>& Trailer() const { return trailer_; }
  const std::array<std::uint8_t, kSectionHeaderBytes>& SectionHeader() const { return sections_.Header; }
  const std::vector<TSectionDescriptor>& Sections() const { return sections_.Sections; }
  const std::vector<std::string>& SectionData() const { return sections_.Data; }

private:
  bool Read(bool extractSections, const std::string& extractFolder);

  TReadFile file_;
  std::string fileName_;
  std::int64_t fileSize_ = -1;
  bool valid_ = false;
  std::string error_;
  std::array<std::uint8_t, kMultiClipTrailerBytes> trailer_{};
  std::vector<TMultiClipEntry> clips_;
  std::uint8_t mode_ = 0;
  std::string description_;
  std::uint32_t fileChecksum_ = 0;
  TSectionTable sections_;
};

}  // namespace ospry
