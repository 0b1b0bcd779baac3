#pragma once
// CRC-32 (reflected polynomial 0xEDB88320, initial register 0xFFFFFFFF, final
// inversion; "123456789" gives 0xCBF43926): the checksum stored after every
// recorded frame and at the end of every clip file.
//
// Error policy: failures are reported by result; nothing throws.
// Threading: a TCrc object is not thread-safe; the free functions are.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace ospry {

class TReadFile;
class TIndexParser;

// Progress of a long checksum pass: bytes done out of bytes in total. Called
// on the caller's thread.
using TCrcProgress = std::function<void(std::int64_t doneBytes, std::int64_t totalBytes)>;

class TCrc {
public:
  TCrc() = default;
  void Reset() { State = 0xFFFFFFFFu; }
  // Feeds bytes into the running register.
  void Update(const void* buffer, std::size_t length);
  // The checksum of everything fed since Reset.
  std::uint32_t Value() const { return ~State; }

  static std::uint32_t CalcBuffer(const void* buffer, std::size_t length);
  static std::uint32_t CalcString(std::string_view bytes);
  // Checksum of the bytes of a file from position start up to its size minus
  // skipEnd (exclusive); an empty range gives the checksum of nothing (0).
  // Returns false, leaving crc untouched, when the file cannot be opened or
  // read in full, or when start or skipEnd is negative. Never reads past the
  // end of the file.
  static bool CalcFile(const std::string& fileName, std::int64_t skipEnd, std::int64_t start,
                       std::uint32_t& crc, const TCrcProgress& progress = {});
  // The same over an open file; reads by position, so other readers of the
  // same file are undisturbed.
  static bool CalcOpenFile(const TReadFile& file, std::int64_t skipEnd, std::int64_t start,
                           std::uint32_t& crc, const TCrcProgress& progress = {});

private:
  std::uint32_t State = 0xFFFFFFFFu;  // the running register (not inverted)
};

// The table-driven bytewise definition: one table lookup per byte. Kept as the
// reference that the fast path must match and as the benchmark baseline.
std::uint32_t CrcBytewiseUpdate(std::uint32_t state, const void* buffer, std::size_t length);
inline std::uint32_t CrcBytewise(const void* buffer, std::size_t length) {
  return ~CrcBytewiseUpdate(0xFFFFFFFFu, buffer, length);
}

// The first corrupt frame found by VerifyIndexFrames.
struct TFrameCheck {
  bool Corrupt = false;
  std::int64_t FrameOffset = 0;  // absolute file position of the frame
  std::int32_t FrameSize = 0;    // its DataSize
};

// The frame check: for every frame of index in order, the CRC-32 of its
// DataSize bytes must equal the 4 little-endian bytes stored right after
// them. Returns true when all match; otherwise stops at the first frame that
// differs or cannot be read in full (a negative size or position, bytes past
// the end of the file) and fills failure. Memory stays bounded whatever sizes
// the index claims. progress gets frames done and frames in total.
bool VerifyIndexFrames(const TReadFile& file, const TIndexParser& index, TFrameCheck& failure,
                       const TCrcProgress& progress = {});

}  // namespace ospry
