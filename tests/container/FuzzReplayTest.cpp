// Replays the fuzz corpus (seeds and every crash input the fuzzers found)
// through the fuzz entry functions, so a fixed crash stays fixed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "../fuzz/FuzzTargets.h"
#include "ContainerTestUtil.h"
#include "platform/Files.h"

namespace ospry {
namespace {

namespace fs = std::filesystem;
using writer::TContainerWriter;
using writer::TMemoryOutput;
using writer::TMultiClipWriter;

const std::string kCorpus = OSPRY_FUZZ_CORPUS;

int ReplayFolder(const std::string& name, int (*entry)(const std::uint8_t*, std::size_t)) {
  int count = 0;
  std::error_code error;
  for (const auto& item : fs::directory_iterator(kCorpus + "/" + name, error)) {
    if (!item.is_regular_file()) continue;
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(item.path().string(), bytes));
    SCOPED_TRACE(item.path().string());
    entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++count;
  }
  return count;
}

TEST(FuzzCorpus, ReplaysWithoutFaults) {
  EXPECT_GT(ReplayFolder("fuzz_clip_reader", fuzz::FuzzClipReader), 0);
  EXPECT_GT(ReplayFolder("fuzz_clip_splitter", fuzz::FuzzClipSplitter), 0);
}

// Writes the seed corpus. Run on purpose after a format change:
//   container_tests --gtest_also_run_disabled_tests --gtest_filter=FuzzCorpus.DISABLED_WriteSeeds
TEST(FuzzCorpus, DISABLED_WriteSeeds) {
  auto save = [](const std::string& folder, const std::string& name, const std::string& bytes) {
    ASSERT_TRUE(CreateDirectories(kCorpus + "/" + folder));
    ASSERT_TRUE(WriteWholeFile(kCorpus + "/" + folder + "/" + name, bytes.data(), static_cast<std::int64_t>(bytes.size())));
  };
  auto container = [](bool shortEntries, int frames, bool extras) {
    TMemoryOutput out;
    out.Write("prefix");
    TContainerWriter w(out, shortEntries);
    if (frames > 0) test::WriteSampleClip(w, frames, 3);
    if (extras) {
      w.AddHeader(30, "odd kind");
      w.AddHeader(2, "again");
      w.AddSection(2, "VPlay.dll", "lib");
      w.SetDescription("seed");
    }
    w.Finish();
    return out.Bytes();
  };
  save("fuzz_clip_reader", "empty_quern", container(false, 0, false));
  save("fuzz_clip_reader", "empty_lumentar", container(true, 0, false));
  save("fuzz_clip_reader", "clip_quern", container(false, 5, true));
  save("fuzz_clip_reader", "clip_lumentar", container(true, 4, false));

  auto multi = [](int clips, std::uint8_t mode, bool section) {
    TMemoryOutput out;
    TMultiClipWriter m(out);
    for (int i = 0; i < clips; ++i) {
      TContainerWriter w(out, i == 1);
      test::WriteSampleClip(w, 2, 2);
      w.Finish();
      m.AddClip(test::SampleInfo(), out.Position());
    }
    if (section) m.AddSection(2, "VPlay.dll", "lib");
    m.SetMode(mode);
    m.SetDescription("seed");
    m.Finish();
    return out.Bytes();
  };
  save("fuzz_clip_splitter", "zero_clips", multi(0, 0, false));
  save("fuzz_clip_splitter", "two_clips_sync", multi(2, 1, true));
  save("fuzz_clip_splitter", "one_clip_list", multi(1, 0, false));
  save("fuzz_clip_splitter", "single_container", container(false, 3, false));
}

}  // namespace
}  // namespace ospry
