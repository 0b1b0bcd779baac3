#pragma once
// The clip container: a block of bytes found entirely from its end, standing
// alone as a file or appended behind other data (a launcher image, earlier
// containers). From its end backwards: file checksum, magic, description
// length and description, section header, sections (auxiliary files such as
// a decoder library, each as data below a 56-byte descriptor), then the clip
// index block (U_IndexParser.h). Frame offsets in the index are absolute
// positions in the whole file.
//
// Error policy: a container that cannot be read or does not fit in its file
// is reported by Valid() == false with a reason in Error(); nothing throws and
// nothing is shown. Sections that cannot be written out are skipped silently.
// Threading: TClipReader does all its work in its constructor and is
// immutable afterwards. It reads only with positional reads, so other threads
// may read the same open file meanwhile.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "viewer/container/U_IndexParser.h"

namespace ospry {

class TReadFile;

inline constexpr std::string_view kQuernMagic = "QUERN678";     // 22-byte frame entries
inline constexpr std::string_view kLumentarMagic = "LUMENTAR";  // 18-byte frame entries
inline constexpr int kMagicBytes = 8;
// File checksum, magic and description length.
inline constexpr int kContainerTailBytes = 16;
inline constexpr int kSectionHeaderBytes = 12;
inline constexpr int kSectionDescriptorBytes = 56;
inline constexpr int kSectionNameWidth = 51;  // length byte and up to 50 characters

struct TSectionDescriptor {
  std::uint8_t Kind = 0;    // stream kind the file serves; not interpreted
  std::string Name;         // file name under which the data is written out
  std::int32_t Size = 0;    // data bytes
  std::int64_t DataPosition = 0;  // where the data starts in the file (not stored on disk)
};

TSectionDescriptor DecodeSectionDescriptor(const std::uint8_t* p);
// Writes the 56 bytes; a name longer than 50 characters is cut.
void EncodeSectionDescriptor(const TSectionDescriptor& d, std::uint8_t* p);

// True for a name that can only denote a file directly inside a folder: not
// empty, not "." or "..", without '/', '\\' or NUL.
bool IsPlainFileName(std::string_view name);

// A section header with the sections below it, as found in a container and at
// the end of a multi-clip file. Sections[0] lies highest in the file.
struct TSectionTable {
  std::array<std::uint8_t, kSectionHeaderBytes> Header{};
  std::vector<TSectionDescriptor> Sections;
  // The data of each section, filled only when sections are not extracted.
  std::vector<std::string> Data;
};

// Reads the section header that ends at position top and the descriptors
// below it, checking every size against the bytes below it. On success, bottom
// is where the lowest section's data begins. Reads no section data.
bool ReadSectionDescriptors(const TReadFile& file, std::int64_t top, TSectionTable& table, std::int64_t& bottom,
                            std::string* error = nullptr);
// With extract, writes each section with a plain file name to that name in
// folder (TempFolder() when empty), replacing an older file by renaming a
// complete new copy over it; sections that cannot be written or have other
// names are skipped. Without extract, reads the data into table.Data; false
// when it cannot be read.
bool LoadSectionData(const TReadFile& file, TSectionTable& table, bool extract, const std::string& folder);

class TClipReader {
public:
  // Reads the container that ends at endPosition of file (the file's size for
  // a container that ends its file). file must stay open while the reader
  // lives; the reader never closes it.
  TClipReader(const TReadFile& file, std::int64_t endPosition, bool extractSections,
              const std::string& extractFolder = {});

  bool Valid() const { return valid_; }
  // Why the container is invalid; empty when valid.
  const std::string& Error() const { return error_; }
  std::int64_t EndPosition() const { return endPosition_; }
  // True for "LUMENTAR" containers.
  bool ShortEntries() const { return shortEntries_; }
  std::uint32_t FileChecksum() const { return fileChecksum_; }
  const std::string& Description() const { return description_; }
  const std::array<std::uint8_t, kSectionHeaderBytes>& SectionHeader() const { return sections_.Header; }
  const std::vector<TSectionDescriptor>& Sections() const { return sections_.Sections; }
  const std::vector<std::string>& SectionData() const { return sections_.Data; }

  // The index parser, null when invalid or taken.
  const TIndexParser* Index() const { return index_.get(); }
  // Hands the index parser to the caller (the clip file source keeps it).
  std::unique_ptr<TIndexParser> TakeIndex() { return std::move(index_); }

private:
  bool Read(const TReadFile& file, bool extractSections, const std::string& extractFolder);

  std::int64_t endPosition_;
  bool valid_ = false;
  std::string error_;
  bool shortEntries_ = false;
  std::uint32_t fileChecksum_ = 0;
  std::string description_;
  TSectionTable sections_;
  std::unique_ptr<TIndexParser> index_;
};

}  // namespace ospry
