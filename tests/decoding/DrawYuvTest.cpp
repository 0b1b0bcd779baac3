#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/Files.h"
#include "viewer/render/DrawYUV_New.h"

namespace ospry {
namespace {

// A packed YV12 picture filled with one colour.
std::vector<std::uint8_t> Flat(int width, int height, std::uint8_t y, std::uint8_t cr, std::uint8_t cb) {
  const std::size_t luma = static_cast<std::size_t>(width) * height;
  std::vector<std::uint8_t> picture(luma * 3 / 2, 0);
  std::fill(picture.begin(), picture.begin() + luma, y);
  std::fill(picture.begin() + luma, picture.begin() + luma + luma / 4, cr);
  std::fill(picture.begin() + luma + luma / 4, picture.end(), cb);
  return picture;
}

std::uint32_t Le32(const TBitmapBytes& bytes, std::size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

TEST(DrawYUV, ConvertsWhiteAndBlackAndColourWithPlaneOrder) {
  struct TCase {
    std::uint8_t y, cr, cb;
    bool crFirst;
    std::uint8_t blue, green, red;
  } cases[] = {
      {235, 128, 128, true, 255, 255, 255},
      {16, 128, 128, true, 0, 0, 0},
      // Pure red in BT.601: Cr high, Cb low.
      {81, 240, 90, true, 0, 0, 255},
      // The same bytes read as Cb first: the planes swap meaning (blue-ish).
      {81, 240, 90, false, 255, 63, 15},
  };
  for (const TCase& c : cases) {
    auto picture = Flat(2, 2, c.y, c.cr, c.cb);
    std::vector<std::uint8_t> rgb(2 * 2 * 3, 7);
    TDrawYUV::YuvToRgb(picture.data(), nullptr, nullptr, nullptr, c.crFirst, true, rgb.data(), 2, 2, 1);
    for (int pixel = 0; pixel < 4; ++pixel) {
      EXPECT_NEAR(rgb[pixel * 3], c.blue, 2) << int(c.y) << " crFirst " << c.crFirst;
      EXPECT_NEAR(rgb[pixel * 3 + 1], c.green, 2);
      EXPECT_NEAR(rgb[pixel * 3 + 2], c.red, 2);
    }
  }
}

TEST(DrawYUV, WritesRowsBottomUpAndRepeated) {
  // 4 x 4: the top two rows white, the bottom two black.
  auto picture = Flat(4, 4, 16, 128, 128);
  std::fill(picture.begin(), picture.begin() + 8, 235);
  std::vector<std::uint8_t> rgb(4 * 3 * 8, 7);
  TDrawYUV::YuvToRgb(picture.data(), nullptr, nullptr, nullptr, true, false, rgb.data(), 4, 4, 2);
  // Destination rows 0..3 come from source rows 3 and 2 (black), rows 4..7
  // from source rows 1 and 0 (white).
  for (int row = 0; row < 8; ++row) {
    EXPECT_EQ(rgb[row * 12], row < 4 ? 0 : 255) << "row " << row;
  }
}

TEST(DrawYUV, MakesBitmapsWithHeaderSizesAndRowDoubling) {
  struct TCase {
    int width, height;
    int bitmapHeight;
    std::uint32_t fileSize;
  } cases[] = {
      {352, 288, 288, 304182},
      {704, 240, 480, 54 + 704 * 3 * 480},  // wider than twice its height: rows doubled
      {704, 576, 576, 54 + 704 * 3 * 576},
      {6, 4, 4, 54 + 20 * 4},               // 18-byte rows padded to 20
      {5, 3, 3, 54 + 16 * 3},               // odd sizes: 15-byte rows padded to 16
  };
  for (const TCase& c : cases) {
    auto picture = Flat(c.width, c.height, 235, 128, 128);
    TBitmapBytes bitmap = TDrawYUV::MakeBitmap(picture.data(), c.width, c.height, true);
    ASSERT_EQ(bitmap.size(), c.fileSize) << c.width << "x" << c.height;
    EXPECT_EQ(bitmap[0], 'B');
    EXPECT_EQ(bitmap[1], 'M');
    EXPECT_EQ(Le32(bitmap, 2), c.fileSize);
    EXPECT_EQ(Le32(bitmap, 10), 54u);
    EXPECT_EQ(Le32(bitmap, 14), 40u);
    EXPECT_EQ(Le32(bitmap, 34), c.fileSize - 54);
    EXPECT_EQ(bitmap[28], 24);
    int width = 0, height = 0;
    ASSERT_TRUE(TDrawYUV::GetBitmapSize(bitmap, width, height));
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(height, c.bitmapHeight);
  }
  int width = 0, height = 0;
  EXPECT_FALSE(TDrawYUV::GetBitmapSize(TBitmapBytes(53, 0), width, height));
  EXPECT_TRUE(TDrawYUV::MakeBitmap(nullptr, 4, 4, true).empty());
  std::vector<std::uint8_t> tiny(6, 0);
  EXPECT_TRUE(TDrawYUV::MakeBitmap(tiny.data(), 0, 4, true).empty());
}

TEST(DrawYUV, MakeUniqueFileNameCountsPastExistingNames) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "ospry_drawyuv_unique";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "cam1.bmp").string();
  EXPECT_EQ(MakeUniqueFileName(path), path);
  ASSERT_TRUE(WriteWholeFile(path, "x", 1));
  ASSERT_TRUE(WriteWholeFile((folder / "cam1(0).bmp").string(), "x", 1));
  EXPECT_EQ(MakeUniqueFileName(path), (folder / "cam1(1).bmp").string());
  std::filesystem::create_directories(folder / "cam1(1).bmp");  // a folder counts too
  EXPECT_EQ(MakeUniqueFileName(path), (folder / "cam1(2).bmp").string());
  std::filesystem::create_directories(folder / "noext");
  EXPECT_EQ(MakeUniqueFileName((folder / "noext").string()), (folder / "noext(0)").string());
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace ospry
