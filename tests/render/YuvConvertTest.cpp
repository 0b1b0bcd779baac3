#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "viewer/render/YuvConvert.h"

namespace ospry {
namespace {

struct TPixelCase {
  int y, cb, cr;
  int r, g, b;
};

// Hand-computed from the integer formulas; the red case has a channel that
// is clamped above and one that truncates to 0 from a small positive sum.
TEST(YuvConvert, PixelFormulaMatchesHandComputedValues) {
  const TPixelCase cases[] = {
      {235, 128, 128, 255, 255, 255},  // white
      {16, 128, 128, 0, 0, 0},         // black
      {0, 128, 128, 0, 0, 0},          // below black clamps to 0
      {255, 128, 128, 255, 255, 255},  // above white clamps to 255
      {126, 128, 128, 128, 128, 128},  // (298 * 110 + 128) / 256 = 128.55
      {82, 90, 240, 255, 1, 0},        // red
  };
  for (const auto& c : cases) {
    const std::uint32_t pixel = YuvToRgb32Pixel(c.y, c.cb, c.cr);
    EXPECT_EQ(pixel, 0xFF000000u | (std::uint32_t(c.r) << 16) | (std::uint32_t(c.g) << 8) |
                         std::uint32_t(c.b))
        << "Y " << c.y << " Cb " << c.cb << " Cr " << c.cr;
  }
}

// Every (Cb, Cr) pair and every luma value pass through the table-driven
// loop; each pixel must equal the plain formula.
TEST(YuvConvert, ConversionEqualsFormulaForAllSampleValues) {
  // 260 x 256 chroma blocks: rows of 256 blocks for the vector loop and 4
  // more for the scalar tail.
  const int width = 520, height = 512;
  std::vector<std::uint8_t> picture(width * height * 3 / 2);
  for (int i = 0; i < width * height; ++i) picture[i] = static_cast<std::uint8_t>(i * 7 + i / 520);
  const TYuvPlanes planes = PackedYv12Planes(picture.data(), width, height);
  auto* cr = const_cast<std::uint8_t*>(planes.cr);
  auto* cb = const_cast<std::uint8_t*>(planes.cb);
  for (int i = 0; i < (width / 2) * (height / 2); ++i) {
    cb[i] = static_cast<std::uint8_t>(i & 0xFF);
    cr[i] = static_cast<std::uint8_t>(i >> 8);
  }
  std::vector<std::uint32_t> rgb(width * height);
  ConvertYuvToRgb32(planes, width, height, rgb.data(), width * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int c = (y / 2) * (width / 2) + x / 2;
      const std::uint32_t expected = YuvToRgb32Pixel(picture[y * width + x], cb[c], cr[c]);
      ASSERT_EQ(rgb[y * width + x], expected) << "at " << x << "," << y;
    }
  }
}

TEST(YuvConvert, OddLastRowAndColumnAreNotWritten) {
  const int width = 5, height = 3;
  std::vector<std::uint8_t> picture(width * height + 2 * (width / 2) * (height / 2), 128);
  const std::uint32_t sentinel = 0x12345678u;
  std::vector<std::uint32_t> rgb(width * height, sentinel);
  ConvertYuvToRgb32(PackedYv12Planes(picture.data(), width, height), width, height, rgb.data(),
                    width * 4);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      EXPECT_EQ(rgb[y * width + x] == sentinel, x == 4 || y == 2) << x << "," << y;
}

}  // namespace
}  // namespace ospry
