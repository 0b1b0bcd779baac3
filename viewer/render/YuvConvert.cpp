#include "viewer/render/YuvConvert.h"

#include <array>

namespace ospry {

namespace {

// Arithmetic shift instead of division: for negative sums it rounds toward
// minus infinity where the formula truncates toward zero, but both give a
// result <= 0 there, which the clamp turns into 0 alike.
struct TTables {
  std::array<std::int32_t, 256> luma{};     // 298 Y' + 128
  std::array<std::int32_t, 256> redV{};     // 409 V'
  std::array<std::int32_t, 256> greenU{};   // -100 U'
  std::array<std::int32_t, 256> greenV{};   // -208 V'
  std::array<std::int32_t, 256> blueU{};    // 516 U'
  // Clamp of (sum >> 8) for sums from -384 * 256 up: the sums of the
  // formulas stay within [-277, 534] after the shift.
  static constexpr int kClampOffset = 384;
  std::array<std::uint8_t, 1024> clamp{};

  TTables() {
    for (int i = 0; i < 256; ++i) {
      luma[i] = 298 * (i - 16) + 128;
      redV[i] = 409 * (i - 128);
      greenU[i] = -100 * (i - 128);
      greenV[i] = -208 * (i - 128);
      blueU[i] = 516 * (i - 128);
    }
    for (int i = 0; i < 1024; ++i) {
      const int v = i - kClampOffset;
      clamp[i] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
  }
};

const TTables& Tables() {
  static const TTables tables;
  return tables;
}

int ClampByte(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

}  // namespace

std::uint32_t YuvToRgb32Pixel(int y, int cb, int cr) {
  const int yp = y - 16, up = cb - 128, vp = cr - 128;
  const int r = ClampByte((298 * yp + 409 * vp + 128) / 256);
  const int g = ClampByte((298 * yp - 100 * up - 208 * vp + 128) / 256);
  const int b = ClampByte((298 * yp + 516 * up + 128) / 256);
  return 0xFF000000u | (static_cast<std::uint32_t>(r) << 16) |
         (static_cast<std::uint32_t>(g) << 8) | static_cast<std::uint32_t>(b);
}

TYuvPlanes PackedYv12Planes(const std::uint8_t* picture, int width, int height) {
  TYuvPlanes planes;
  const std::size_t lumaSize = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const std::size_t chromaSize =
      static_cast<std::size_t>(width / 2) * static_cast<std::size_t>(height / 2);
  planes.luma = picture;
  planes.cr = picture + lumaSize;
  planes.cb = picture + lumaSize + chromaSize;
  planes.lumaStride = width;
  planes.chromaStride = width / 2;
  return planes;
}

void ConvertYuvToRgb32(const TYuvPlanes& planes, int width, int height, std::uint32_t* dst,
                       std::ptrdiff_t dstStride) {
  const TTables& t = Tables();
  const std::uint8_t* clamp = t.clamp.data() + TTables::kClampOffset;
  const int blocksX = width / 2;
  const int blocksY = height / 2;
  auto pixel = [&](int yv, int rv, int guv, int bu) -> std::uint32_t {
    return 0xFF000000u | (static_cast<std::uint32_t>(clamp[(yv + rv) >> 8]) << 16) |
           (static_cast<std::uint32_t>(clamp[(yv + guv) >> 8]) << 8) |
           static_cast<std::uint32_t>(clamp[(yv + bu) >> 8]);
  };
  for (int by = 0; by < blocksY; ++by) {
    const std::uint8_t* y0 = planes.luma + (2 * by) * planes.lumaStride;
    const std::uint8_t* y1 = y0 + planes.lumaStride;
    const std::uint8_t* cbRow = planes.cb + by * planes.chromaStride;
    const std::uint8_t* crRow = planes.cr + by * planes.chromaStride;
    auto* d0 = reinterpret_cast<std::uint32_t*>(reinterpret_cast<std::uint8_t*>(dst) +
                                                (2 * by) * dstStride);
    auto* d1 = reinterpret_cast<std::uint32_t*>(reinterpret_cast<std::uint8_t*>(d0) + dstStride);
    for (int bx = 0; bx < blocksX; ++bx) {
      const int u = cbRow[bx], v = crRow[bx];
      const int rv = t.redV[v];
      const int guv = t.greenU[u] + t.greenV[v];
      const int bu = t.blueU[u];
      const int x = 2 * bx;
      d0[x] = pixel(t.luma[y0[x]], rv, guv, bu);
      d0[x + 1] = pixel(t.luma[y0[x + 1]], rv, guv, bu);
      d1[x] = pixel(t.luma[y1[x]], rv, guv, bu);
      d1[x + 1] = pixel(t.luma[y1[x + 1]], rv, guv, bu);
    }
  }
}

}  // namespace ospry
