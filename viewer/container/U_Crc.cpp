#include "viewer/container/U_Crc.h"

#include <isa-l/crc.h>

#include <algorithm>
#include <array>
#include <vector>

#include "platform/Files.h"
#include "viewer/container/U_IndexParser.h"
#include "viewer/container/U_LittleEndian.h"

namespace ospry {

namespace {

constexpr std::array<std::uint32_t, 256> MakeTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
    table[i] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kTable = MakeTable();

// Large blocks keep the file pass near memory speed; the checksum does not
// depend on how the bytes are split.
constexpr std::int64_t kFileBlockBytes = 1 << 20;

}  // namespace

std::uint32_t CrcBytewiseUpdate(std::uint32_t state, const void* buffer, std::size_t length) {
  const auto* p = static_cast<const std::uint8_t*>(buffer);
  for (std::size_t i = 0; i < length; ++i) state = kTable[(p[i] ^ state) & 0xFFu] ^ (state >> 8);
  return state;
}

void TCrc::Update(const void* buffer, std::size_t length) {
  if (length == 0) return;
  // The library takes and returns the inverted register (the gzip form).
  State = ~crc32_gzip_refl(~State, static_cast<const unsigned char*>(buffer), length);
}

std::uint32_t TCrc::CalcBuffer(const void* buffer, std::size_t length) {
  TCrc crc;
  crc.Update(buffer, length);
  return crc.Value();
}

std::uint32_t TCrc::CalcString(std::string_view bytes) { return CalcBuffer(bytes.data(), bytes.size()); }

bool TCrc::CalcFile(const std::string& fileName, std::int64_t skipEnd, std::int64_t start,
                    std::uint32_t& crc, const TCrcProgress& progress) {
  TReadFile file;
  if (!file.Open(fileName)) return false;
  return CalcOpenFile(file, skipEnd, start, crc, progress);
}

bool TCrc::CalcOpenFile(const TReadFile& file, std::int64_t skipEnd, std::int64_t start,
                        std::uint32_t& crc, const TCrcProgress& progress) {
  if (!file.IsOpen() || skipEnd < 0 || start < 0) return false;
  const std::int64_t size = file.Size();
  if (size < 0) return false;
  const std::int64_t end = size - skipEnd;
  TCrc running;
  if (start >= end) {
    crc = running.Value();
    return true;
  }
  std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min(kFileBlockBytes, end - start)));
  const std::int64_t total = end - start;
  for (std::int64_t position = start; position < end;) {
    const std::int64_t want = std::min<std::int64_t>(static_cast<std::int64_t>(block.size()), end - position);
    // A short read means the file shrank under us: a read failure, not a
    // checksum over fewer bytes.
    if (!file.PositionalReadExact(position, block.data(), want)) return false;
    running.Update(block.data(), static_cast<std::size_t>(want));
    position += want;
    if (progress) progress(position - start, total);
  }
  crc = running.Value();
  return true;
}

bool VerifyIndexFrames(const TReadFile& file, const TIndexParser& index, TFrameCheck& failure,
                       const TCrcProgress& progress) {
  const std::int64_t fileSize = file.Size();
  const std::int64_t total = index.FrameCount();
  std::vector<std::uint8_t> block;
  auto frameMatches = [&](const TFrameEntry& frame) {
    const std::int64_t size = frame.DataSize;
    if (fileSize < 0 || size < 0 || frame.Offset < 0 || frame.Offset > fileSize - 4 - size) return false;
    // Small frames (nearly all) are read with their checksum in one call.
    const std::int64_t whole = size + 4;
    if (whole <= kFileBlockBytes) {
      if (block.size() < static_cast<std::size_t>(whole)) block.resize(static_cast<std::size_t>(whole));
      if (!file.PositionalReadExact(frame.Offset, block.data(), whole)) return false;
      return TCrc::CalcBuffer(block.data(), static_cast<std::size_t>(size)) == le::U32(block.data() + size);
    }
    block.resize(static_cast<std::size_t>(kFileBlockBytes));
    TCrc crc;
    for (std::int64_t done = 0; done < size;) {
      const std::int64_t want = std::min(kFileBlockBytes, size - done);
      if (!file.PositionalReadExact(frame.Offset + done, block.data(), want)) return false;
      crc.Update(block.data(), static_cast<std::size_t>(want));
      done += want;
    }
    std::uint8_t stored[4];
    if (!file.PositionalReadExact(frame.Offset + size, stored, 4)) return false;
    return crc.Value() == le::U32(stored);
  };
  for (std::int64_t i = 0; i < total; ++i) {
    const TFrameEntry& frame = index.Frame(static_cast<std::int32_t>(i));
    if (!frameMatches(frame)) {
      failure.Corrupt = true;
      failure.FrameOffset = frame.Offset;
      failure.FrameSize = frame.DataSize;
      return false;
    }
    if (progress && ((i + 1) % 4096 == 0 || i + 1 == total)) progress(i + 1, total);
  }
  return true;
}

}  // namespace ospry
