#pragma once
// YV12 to 32-bit RGB conversion with the integer BT.601 formulas the viewer
// uses everywhere a picture is turned into RGB on the CPU. With
// Y' = Y - 16, U' = Cb - 128, V' = Cr - 128:
//   R = (298 Y' + 409 V' + 128) / 256
//   G = (298 Y' - 100 U' - 208 V' + 128) / 256
//   B = (298 Y' + 516 U' + 128) / 256
// each truncated toward zero and clamped to 0..255. Every 2 x 2 block of luma
// samples shares one Cb and one Cr sample; an odd last row or column is not
// converted.
//
// Pure functions, callable from any thread.
#include <cstddef>
#include <cstdint>

namespace ospry {

// One pixel by the formulas above, as 0xFFRRGGBB (opaque RGB32).
std::uint32_t YuvToRgb32Pixel(int y, int cb, int cr);

// The three planes of one picture. Chroma rows hold width / 2 samples.
struct TYuvPlanes {
  const std::uint8_t* luma = nullptr;
  const std::uint8_t* cb = nullptr;
  const std::uint8_t* cr = nullptr;
  std::ptrdiff_t lumaStride = 0;    // bytes between luma rows
  std::ptrdiff_t chromaStride = 0;  // bytes between chroma rows
};

// The planes of a packed YV12 picture: luma (width x height), then Cr, then
// Cb, each (width / 2) x (height / 2).
TYuvPlanes PackedYv12Planes(const std::uint8_t* picture, int width, int height);

// Converts the even part of a width x height picture (width & ~1 columns,
// height & ~1 rows) top row first into dst, whose rows are dstStride bytes
// apart and hold 0xFFRRGGBB words (the layout of QImage::Format_RGB32).
void ConvertYuvToRgb32(const TYuvPlanes& planes, int width, int height, std::uint32_t* dst,
                       std::ptrdiff_t dstStride);

}  // namespace ospry
