#include "viewer/container/U_ClipReader.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/Files.h"
#include "viewer/container/U_LittleEndian.h"

namespace ospry {

namespace {

constexpr std::int64_t kCopyBlockBytes = 1 << 20;

bool Fail(std::string* error, const char* text) {
  if (error) *error = text;
  return false;
}

// Writes size bytes at position of file to path through a private temporary
// name in the same folder, so an older copy is replaced whole or not at all
// and a process that has the older copy open keeps its content.
bool ExtractTo(const TReadFile& file, std::int64_t position, std::int64_t size, const std::string& folder,
               const std::string& name) {
  static std::atomic<unsigned> counter{0};
  const std::string path = folder + name;
  const std::string partial = folder + "." + name + "." + std::to_string(::getpid()) + "." +
                              std::to_string(counter.fetch_add(1)) + ".partial";
  TWriteFile out;
  if (!out.Create(partial)) return false;
  std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min(kCopyBlockBytes, std::max<std::int64_t>(size, 1))));
  bool ok = true;
  for (std::int64_t done = 0; ok && done < size;) {
    const std::int64_t want = std::min<std::int64_t>(static_cast<std::int64_t>(block.size()), size - done);
    ok = file.PositionalReadExact(position + done, block.data(), want) && out.Write(block.data(), want);
    done += want;
  }
  ok = out.Close() && ok;
  if (ok) ok = RenameFile(partial, path);
  if (!ok) DeleteFilePath(partial);
  return ok;
}

}  // namespace

TSectionDescriptor DecodeSectionDescriptor(const std::uint8_t* p) {
  TSectionDescriptor d;
  d.Kind = le::U8(p);
  d.Name = le::Text(p + 1, kSectionNameWidth);
  d.Size = le::I32(p + 52);
  return d;
}

void EncodeSectionDescriptor(const TSectionDescriptor& d, std::uint8_t* p) {
  std::memset(p, 0, kSectionDescriptorBytes);
  le::PutU8(p, d.Kind);
  le::PutText(p + 1, kSectionNameWidth, d.Name);
  le::PutI32(p + 52, d.Size);
}

bool IsPlainFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

bool ReadSectionDescriptors(const TReadFile& file, std::int64_t top, TSectionTable& table, std::int64_t& bottom,
                            std::string* error) {
  table.Sections.clear();
  table.Data.clear();
  if (top < kSectionHeaderBytes) return Fail(error, "section header outside the file");
  std::int64_t position = top - kSectionHeaderBytes;
  if (!file.PositionalReadExact(position, table.Header.data(), kSectionHeaderBytes))
    return Fail(error, "section header cannot be read");
  const int count = table.Header[0];
  for (int i = 0; i < count; ++i) {
    if (position < kSectionDescriptorBytes) return Fail(error, "section descriptor outside the file");
    position -= kSectionDescriptorBytes;
    std::uint8_t bytes[kSectionDescriptorBytes];
    if (!file.PositionalReadExact(position, bytes, kSectionDescriptorBytes))
      return Fail(error, "section descriptor cannot be read");
    TSectionDescriptor d = DecodeSectionDescriptor(bytes);
    if (d.Size < 0 || d.Size > position) return Fail(error, "section size does not fit in the file");
    position -= d.Size;
    d.DataPosition = position;
    table.Sections.push_back(std::move(d));
  }
  bottom = position;
  return true;
}

bool LoadSectionData(const TReadFile& file, TSectionTable& table, bool extract, const std::string& folder) {
  table.Data.clear();
  if (extract) {
    const std::string target = IncludeTrailingDelimiter(folder.empty() ? TempFolder() : folder);
    for (const auto& d : table.Sections)
      if (IsPlainFileName(d.Name)) ExtractTo(file, d.DataPosition, d.Size, target, d.Name);
    return true;
  }
  table.Data.reserve(table.Sections.size());
  for (const auto& d : table.Sections) {
    std::string data(static_cast<std::size_t>(d.Size), '\0');
    if (!file.PositionalReadExact(d.DataPosition, data.data(), d.Size)) return false;
    table.Data.push_back(std::move(data));
  }
  return true;
}

TClipReader::TClipReader(const TReadFile& file, std::int64_t endPosition, bool extractSections,
                         const std::string& extractFolder)
    : endPosition_(endPosition) {
  valid_ = Read(file, extractSections, extractFolder);
  if (!valid_) {
    index_.reset();
    sections_ = TSectionTable{};
    description_.clear();
  }
}

bool TClipReader::Read(const TReadFile& file, bool extractSections, const std::string& extractFolder) {
  const std::int64_t fileSize = file.Size();
  const std::int64_t end = endPosition_;
  if (fileSize < 0) return Fail(&error_, "file cannot be read");
  if (end < kContainerTailBytes || end > fileSize) return Fail(&error_, "no container trailer");
  std::uint8_t tail[kContainerTailBytes];
  if (!file.PositionalReadExact(end - kContainerTailBytes, tail, kContainerTailBytes))
    return Fail(&error_, "container trailer cannot be read");
  fileChecksum_ = le::U32(tail + 12);
  const std::string_view magic(reinterpret_cast<const char*>(tail + 4), kMagicBytes);
  if (magic == kLumentarMagic)
    shortEntries_ = true;
  else if (magic == kQuernMagic)
    shortEntries_ = false;
  else
    return Fail(&error_, "no container magic");

  // The description, the section header and the index below it must all fit
  // between the start of the file and the trailer.
  const std::int64_t descriptionLength = le::I32(tail);
  if (descriptionLength < 0 || descriptionLength > end - kContainerTailBytes - kSectionHeaderBytes)
    return Fail(&error_, "description length does not fit in the file");
  const std::int64_t descriptionAt = end - kContainerTailBytes - descriptionLength;
  description_.assign(static_cast<std::size_t>(descriptionLength), '\0');
  if (!file.PositionalReadExact(descriptionAt, description_.data(), descriptionLength))
    return Fail(&error_, "description cannot be read");

  std::int64_t indexEnd = 0;
  if (!ReadSectionDescriptors(file, descriptionAt, sections_, indexEnd, &error_)) return false;
  // The index is measured from the file's end, as the parser's callers do.
  index_ = TIndexParser::Load(file, fileSize - indexEnd, fileSize, shortEntries_, &error_);
  if (!index_) return false;
  // Sections are written out only for a container that is valid as a whole.
  if (!LoadSectionData(file, sections_, extractSections, extractFolder))
    return Fail(&error_, "section data cannot be read");
  error_.clear();
  return true;
}

}  // namespace ospry
