#include "tools/writer/ClipWriter.h"

#include <algorithm>
#include <cstring>

#include "viewer/container/U_LittleEndian.h"

namespace ospry::writer {

namespace {

constexpr std::int64_t kZeroBlockBytes = 1 << 20;
constexpr std::size_t kFileBufferBytes = 1 << 20;

const std::uint8_t* ZeroBlock() {
  static const std::vector<std::uint8_t> zeros(kZeroBlockBytes, 0);
  return zeros.data();
}

}  // namespace

// ---- outputs ----------------------------------------------------------------

bool TOutput::Write(const void* data, std::int64_t count) {
  if (!ok_ || count < 0) return ok_ = false;
  if (count == 0) return true;
  crc_.Update(data, static_cast<std::size_t>(count));
  position_ += count;
  return ok_ = Put(data, count);
}

bool TOutput::WriteZeros(std::int64_t count) {
  if (!ok_ || count < 0) return ok_ = false;
  for (std::int64_t done = 0; done < count;) {
    const std::int64_t n = std::min(kZeroBlockBytes, count - done);
    crc_.Update(ZeroBlock(), static_cast<std::size_t>(n));
    done += n;
  }
  position_ += count;
  return ok_ = PutZeros(count);
}

bool TOutput::PutZeros(std::int64_t count) {
  for (std::int64_t done = 0; done < count;) {
    const std::int64_t n = std::min(kZeroBlockBytes, count - done);
    if (!Put(ZeroBlock(), n)) return false;
    done += n;
  }
  return true;
}

bool TMemoryOutput::Put(const void* data, std::int64_t count) {
  bytes_.append(static_cast<const char*>(data), static_cast<std::size_t>(count));
  return true;
}

TFileOutput::~TFileOutput() { Close(); }

bool TFileOutput::Create(const std::string& path) {
  buffer_.clear();
  filePosition_ = fileEnd_ = 0;
  endsInHole_ = false;
  return file_.Create(path);
}

bool TFileOutput::Flush() {
  if (buffer_.empty()) return true;
  const bool ok = file_.WriteAt(filePosition_, buffer_.data(), static_cast<std::int64_t>(buffer_.size()));
  filePosition_ += static_cast<std::int64_t>(buffer_.size());
  buffer_.clear();
  return ok;
}

bool TFileOutput::Put(const void* data, std::int64_t count) {
  if (!file_.IsOpen()) return false;
  buffer_.append(static_cast<const char*>(data), static_cast<std::size_t>(count));
  fileEnd_ = filePosition_ + static_cast<std::int64_t>(buffer_.size());
  endsInHole_ = false;
  return buffer_.size() < kFileBufferBytes || Flush();
}

bool TFileOutput::PutZeros(std::int64_t count) {
  if (!file_.IsOpen() || !Flush()) return false;
  filePosition_ += count;
  fileEnd_ = filePosition_;
  endsInHole_ = count > 0;
  return true;
}

bool TFileOutput::Close() {
  if (!file_.IsOpen()) return Ok();
  bool ok = Flush();
  // A hole at the very end still has to count in the file's size.
  if (ok && endsInHole_) {
    const std::uint8_t zero = 0;
    ok = file_.WriteAt(fileEnd_ - 1, &zero, 1);
  }
  ok = file_.Close() && ok;
  return ok && Ok();
}

// ---- containers -------------------------------------------------------------

TContainerWriter::TContainerWriter(TOutput& out, bool shortEntries) : out_(out), shortEntries_(shortEntries) {}

std::int64_t TContainerWriter::AddFrame(std::uint8_t streamKind, std::uint8_t frameType, TDateTime stamp,
                                        std::string_view data) {
  TFrameEntry entry;
  entry.StreamKind = streamKind;
  entry.FrameType = frameType;
  entry.DataSize = static_cast<std::int32_t>(data.size());
  entry.Stamp = stamp;
  entry.Offset = out_.Position();
  std::uint8_t crc[4];
  le::PutU32(crc, TCrc::CalcString(data));
  out_.Write(data);
  out_.Write(crc, 4);
  frames_.push_back(entry);
  return entry.Offset;
}

void TContainerWriter::AddClipOver(std::int32_t first, std::int32_t count, TDateTime end) {
  TClipEntry clip;
  clip.FrameCount = count;
  clip.Count2 = count;
  clip.Start = frames_.at(static_cast<std::size_t>(first)).Stamp;
  clip.End = end;
  clip.ClipNumber = static_cast<std::int32_t>(clips_.size());
  clips_.push_back(clip);
}

void TContainerWriter::AddHeader(std::uint8_t streamKind, std::string_view data) {
  THeaderEntry entry;
  entry.StreamKind = streamKind;
  entry.Size = static_cast<std::int32_t>(data.size());
  headers_.push_back(entry);
  headerData_.append(data);
}

void TContainerWriter::AddSection(std::uint8_t kind, const std::string& name, std::string_view data) {
  TSectionDescriptor d;
  d.Kind = kind;
  d.Name = name;
  d.Size = static_cast<std::int32_t>(data.size());
  sections_.emplace_back(d, std::string(data));
}

bool WriteSections(TOutput& out, const std::vector<std::pair<TSectionDescriptor, std::string>>& sections) {
  if (sections.size() > 255) return false;
  for (auto it = sections.rbegin(); it != sections.rend(); ++it) {
    std::uint8_t descriptor[kSectionDescriptorBytes];
    EncodeSectionDescriptor(it->first, descriptor);
    out.Write(it->second);
    out.Write(descriptor, kSectionDescriptorBytes);
  }
  std::uint8_t header[kSectionHeaderBytes] = {};
  header[0] = static_cast<std::uint8_t>(sections.size());
  return out.Write(header, kSectionHeaderBytes);
}

bool TContainerWriter::Finish() {
  const int frameBytes = shortEntries_ ? kShortFrameEntryBytes : kFrameEntryBytes;
  std::string block;
  block.resize(frames_.size() * static_cast<std::size_t>(frameBytes) + clips_.size() * kClipEntryBytes);
  auto* p = reinterpret_cast<std::uint8_t*>(block.data());
  for (const auto& frame : frames_) {
    EncodeFrameEntry(frame, shortEntries_, p);
    p += frameBytes;
  }
  for (const auto& clip : clips_) {
    EncodeClipEntry(clip, p);
    p += kClipEntryBytes;
  }
  block += headerData_;
  std::string tables(headers_.size() * kHeaderEntryBytes + dvrInfos_.size() * kDvrInfoBytes + kIndexHeaderBytes, '\0');
  p = reinterpret_cast<std::uint8_t*>(tables.data());
  for (const auto& header : headers_) {
    EncodeHeaderEntry(header, p);
    p += kHeaderEntryBytes;
  }
  for (const auto& info : dvrInfos_) {
    EncodeDvrInfo(info, p);
    p += kDvrInfoBytes;
  }
  le::PutI32(p, static_cast<std::int32_t>(frames_.size()));
  le::PutI32(p + 4, static_cast<std::int32_t>(clips_.size()));
  le::PutI32(p + 8, static_cast<std::int32_t>(headers_.size()));
  le::PutI32(p + 12, static_cast<std::int32_t>(dvrInfos_.size()));
  out_.Write(block);
  out_.Write(tables);
  if (!WriteSections(out_, sections_)) return false;
  std::uint8_t length[4];
  le::PutI32(length, static_cast<std::int32_t>(description_.size()));
  out_.Write(description_);
  out_.Write(length, 4);
  out_.Write(shortEntries_ ? kLumentarMagic : kQuernMagic);
  std::uint8_t checksum[4];
  le::PutU32(checksum, out_.Checksum());
  return out_.Write(checksum, 4);
}

// ---- multi-clip files ---------------------------------------------------------

void TMultiClipWriter::AddSection(std::uint8_t kind, const std::string& name, std::string_view data) {
  TSectionDescriptor d;
  d.Kind = kind;
  d.Name = name;
  d.Size = static_cast<std::int32_t>(data.size());
  sections_.emplace_back(d, std::string(data));
}

bool TMultiClipWriter::Finish() {
  if (!WriteSections(out_, sections_)) return false;
  std::vector<std::uint8_t> entry(kMultiClipEntryBytes);
  for (const auto& clip : clips_) {
    EncodeMultiClipEntry(clip, entry.data());
    out_.Write(entry.data(), kMultiClipEntryBytes);
  }
  std::uint8_t trailer[kMultiClipTrailerBytes] = {};
  le::PutI32(trailer + kMultiClipCountAt, static_cast<std::int32_t>(clips_.size()));
  le::PutU8(trailer + kMultiClipModeAt, mode_);
  le::PutText(trailer + kMultiClipDescriptionAt, kMultiClipDescriptionWidth, description_);
  le::PutText(trailer + kMultiClipMagicAt, kMultiClipMagicWidth, kMultiClipMagic);
  out_.Write(trailer, kMultiClipChecksumAt);
  std::uint8_t checksum[4];
  le::PutU32(checksum, out_.Checksum());
  return out_.Write(checksum, 4);
}

}  // namespace ospry::writer
