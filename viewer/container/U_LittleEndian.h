#pragma once
// Field-by-field coding of the little-endian records stored in clip files.
// Readers take a pointer to at least the field's width; nothing here checks
// bounds, callers size their buffers from the record layouts.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace ospry::le {

inline std::uint8_t U8(const std::uint8_t* p) { return p[0]; }
inline std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
inline std::int32_t I32(const std::uint8_t* p) { return static_cast<std::int32_t>(U32(p)); }
inline std::uint64_t U64(const std::uint8_t* p) { return std::uint64_t(U32(p)) | std::uint64_t(U32(p + 4)) << 32; }
inline std::int64_t I64(const std::uint8_t* p) { return static_cast<std::int64_t>(U64(p)); }
inline double F64(const std::uint8_t* p) {
  const std::uint64_t bits = U64(p);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}
// A length-prefixed text in a field of fieldWidth bytes: the length byte, then
// the characters. A length larger than the field holds is cut to the field;
// bytes past the length are ignored.
inline std::string Text(const std::uint8_t* p, int fieldWidth) {
  std::size_t length = p[0];
  if (length > static_cast<std::size_t>(fieldWidth - 1)) length = static_cast<std::size_t>(fieldWidth - 1);
  return std::string(reinterpret_cast<const char*>(p + 1), length);
}

inline void PutU8(std::uint8_t* p, std::uint8_t v) { p[0] = v; }
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
  p[2] = std::uint8_t(v >> 16);
  p[3] = std::uint8_t(v >> 24);
}
inline void PutI32(std::uint8_t* p, std::int32_t v) { PutU32(p, static_cast<std::uint32_t>(v)); }
inline void PutU64(std::uint8_t* p, std::uint64_t v) {
  PutU32(p, std::uint32_t(v));
  PutU32(p + 4, std::uint32_t(v >> 32));
}
inline void PutI64(std::uint8_t* p, std::int64_t v) { PutU64(p, static_cast<std::uint64_t>(v)); }
inline void PutF64(std::uint8_t* p, double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  PutU64(p, bits);
}
// Writes a length-prefixed text into a field of fieldWidth bytes, cutting the
// text to fieldWidth - 1 characters; the rest of the field is left as it is.
inline void PutText(std::uint8_t* p, int fieldWidth, std::string_view text) {
  std::size_t length = text.size();
  if (length > static_cast<std::size_t>(fieldWidth - 1)) length = static_cast<std::size_t>(fieldWidth - 1);
  if (length > 255) length = 255;
  p[0] = static_cast<std::uint8_t>(length);
  std::memcpy(p + 1, text.data(), length);
}

}  // namespace ospry::le
