#include "viewer/render/YuvConvert.h"

#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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


#if defined(__SSE2__)
// Sixteen pixels of one row: pmaddwd computes 298 Y' + k V' (or U') exactly
// in 32 bits, the shift and the two saturating packs then give the same
// floor-and-clamp as the tables.
struct TSse2Constants {
  __m128i zero = _mm_setzero_si128();
  __m128i lumaOffset = _mm_set1_epi16(16);
  __m128i chromaOffset = _mm_set1_epi16(128);
  __m128i one = _mm_set1_epi16(1);
  __m128i rounding = _mm_set1_epi32(128);
  __m128i alpha = _mm_set1_epi8(static_cast<char>(0xFF));
  __m128i yv_r = _mm_setr_epi16(298, 409, 298, 409, 298, 409, 298, 409);
  __m128i yu_g = _mm_setr_epi16(298, -100, 298, -100, 298, -100, 298, -100);
  __m128i v1_g = _mm_setr_epi16(-208, 128, -208, 128, -208, 128, -208, 128);
  __m128i yu_b = _mm_setr_epi16(298, 516, 298, 516, 298, 516, 298, 516);
};

inline __m128i Shift8(__m128i v) { return _mm_srai_epi32(v, 8); }

// Eight pixels: y, u, v hold Y', U', V' as 16-bit lanes (chroma already
// doubled per pixel pair). Returns R, G, B as 16-bit lanes.
inline void EightPixels(const TSse2Constants& k, __m128i y, __m128i u, __m128i v, __m128i& r,
                        __m128i& g, __m128i& b) {
  const __m128i yvLo = _mm_unpacklo_epi16(y, v), yvHi = _mm_unpackhi_epi16(y, v);
  const __m128i yuLo = _mm_unpacklo_epi16(y, u), yuHi = _mm_unpackhi_epi16(y, u);
  const __m128i v1Lo = _mm_unpacklo_epi16(v, k.one), v1Hi = _mm_unpackhi_epi16(v, k.one);
  r = _mm_packs_epi32(Shift8(_mm_add_epi32(_mm_madd_epi16(yvLo, k.yv_r), k.rounding)),
                      Shift8(_mm_add_epi32(_mm_madd_epi16(yvHi, k.yv_r), k.rounding)));
  g = _mm_packs_epi32(
      Shift8(_mm_add_epi32(_mm_madd_epi16(yuLo, k.yu_g), _mm_madd_epi16(v1Lo, k.v1_g))),
      Shift8(_mm_add_epi32(_mm_madd_epi16(yuHi, k.yu_g), _mm_madd_epi16(v1Hi, k.v1_g))));
  b = _mm_packs_epi32(Shift8(_mm_add_epi32(_mm_madd_epi16(yuLo, k.yu_b), k.rounding)),
                      Shift8(_mm_add_epi32(_mm_madd_epi16(yuHi, k.yu_b), k.rounding)));
}

// Sixteen pixels of one row from 16 luma and 8 chroma samples.
inline void SixteenPixels(const TSse2Constants& k, const std::uint8_t* luma, __m128i u16,
                          __m128i v16, std::uint32_t* out) {
  const __m128i y8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma));
  const __m128i yLo = _mm_sub_epi16(_mm_unpacklo_epi8(y8, k.zero), k.lumaOffset);
  const __m128i yHi = _mm_sub_epi16(_mm_unpackhi_epi8(y8, k.zero), k.lumaOffset);
  __m128i r0, g0, b0, r1, g1, b1;
  EightPixels(k, yLo, _mm_unpacklo_epi16(u16, u16), _mm_unpacklo_epi16(v16, v16), r0, g0, b0);
  EightPixels(k, yHi, _mm_unpackhi_epi16(u16, u16), _mm_unpackhi_epi16(v16, v16), r1, g1, b1);
  const __m128i r = _mm_packus_epi16(r0, r1), g = _mm_packus_epi16(g0, g1),
                b = _mm_packus_epi16(b0, b1);
  // Memory order of 0xFFRRGGBB words: B, G, R, A.
  const __m128i bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
  const __m128i raLo = _mm_unpacklo_epi8(r, k.alpha), raHi = _mm_unpackhi_epi8(r, k.alpha);
  auto* dst = reinterpret_cast<__m128i*>(out);
  _mm_storeu_si128(dst + 0, _mm_unpacklo_epi16(bgLo, raLo));
  _mm_storeu_si128(dst + 1, _mm_unpackhi_epi16(bgLo, raLo));
  _mm_storeu_si128(dst + 2, _mm_unpacklo_epi16(bgHi, raHi));
  _mm_storeu_si128(dst + 3, _mm_unpackhi_epi16(bgHi, raHi));
}
#endif

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
#if defined(__SSE2__)
  const TSse2Constants sse;
#endif
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
    int bx = 0;
#if defined(__SSE2__)
    for (; bx + 8 <= blocksX; bx += 8) {
      const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cbRow + bx));
      const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(crRow + bx));
      const __m128i u16 = _mm_sub_epi16(_mm_unpacklo_epi8(u8, sse.zero), sse.chromaOffset);
      const __m128i v16 = _mm_sub_epi16(_mm_unpacklo_epi8(v8, sse.zero), sse.chromaOffset);
      SixteenPixels(sse, y0 + 2 * bx, u16, v16, d0 + 2 * bx);
      SixteenPixels(sse, y1 + 2 * bx, u16, v16, d1 + 2 * bx);
    }
#endif
    for (; bx < blocksX; ++bx) {
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
