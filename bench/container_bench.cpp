// Speed of the clip container code: CRC-32 (ours, zlib's and the bytewise
// table loop), loading an index of 1,000,000 frames, time lookups, and the
// file checksum pass over a 1 GiB package read from the page cache.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "tools/writer/ClipWriter.h"
#include "viewer/container/U_Authenticate.h"
#include "viewer/container/U_ClipReader.h"
#include "viewer/container/U_Crc.h"
#include "viewer/container/U_IndexParser.h"

namespace ospry {
namespace {

constexpr std::size_t kCrcBufferBytes = std::size_t{256} << 20;
constexpr int kIndexFrames = 1000000;
constexpr std::int64_t kPackageBytes = std::int64_t{1} << 30;

const std::vector<std::uint8_t>& CrcBuffer() {
  static const std::vector<std::uint8_t> buffer = [] {
    std::vector<std::uint8_t> b(kCrcBufferBytes);
    std::mt19937_64 random(7);
    for (std::size_t i = 0; i + 8 <= b.size(); i += 8) {
      const std::uint64_t v = random();
      std::memcpy(b.data() + i, &v, 8);
    }
    return b;
  }();
  return buffer;
}

void BM_Crc32_Ours(benchmark::State& state) {
  const auto& b = CrcBuffer();
  for (auto _ : state) benchmark::DoNotOptimize(TCrc::CalcBuffer(b.data(), b.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(b.size()));
}
BENCHMARK(BM_Crc32_Ours)->Unit(benchmark::kMillisecond);

void BM_Crc32_Zlib(benchmark::State& state) {
  const auto& b = CrcBuffer();
  for (auto _ : state) benchmark::DoNotOptimize(crc32_z(0, b.data(), b.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(b.size()));
}
BENCHMARK(BM_Crc32_Zlib)->Unit(benchmark::kMillisecond);

void BM_Crc32_BytewiseTable(benchmark::State& state) {
  const auto& b = CrcBuffer();
  for (auto _ : state) benchmark::DoNotOptimize(CrcBytewise(b.data(), b.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(b.size()));
}
BENCHMARK(BM_Crc32_BytewiseTable)->Unit(benchmark::kMillisecond)->Iterations(3);

// Temporary files written once per run and removed at exit.
class TBenchFiles {
public:
  TBenchFiles() {
    std::string pattern = TempFolder() + "ospry-bench-XXXXXX";
    if (char* made = ::mkdtemp(pattern.data())) folder_ = std::string(made) + "/";
  }
  ~TBenchFiles() {
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }
  // A container whose index holds 1,000,000 frame entries in 1,000 clips.
  const std::string& BigIndex() {
    if (bigIndex_.empty()) {
      bigIndex_ = folder_ + "index.bin";
      writer::TFileOutput out;
      out.Create(bigIndex_);
      writer::TContainerWriter w(out, false);
      for (int i = 0; i < kIndexFrames; ++i)
        w.AddFrameEntry({2, static_cast<std::uint8_t>(i % 25 == 0 ? 1 : 3), 1000, 46000.0 + i / 2160000.0,
                         std::int64_t{i} * 1004});
      for (int c = 0; c < 1000; ++c)
        w.AddClip({1000, 1000, 0, 0, 46000.0 + c * 1000 / 2160000.0, 46000.0 + (c * 1000 + 999) / 2160000.0, c, 0});
      w.Finish();
      out.Close();
    }
    return bigIndex_;
  }
  // A 1 GiB package: a launcher image and a container of 64 KiB frames.
  const std::string& Package() {
    if (package_.empty()) {
      package_ = folder_ + "package.bin";
      writer::TFileOutput out;
      out.Create(package_);
      std::string frame(64 << 10, '\0');
      std::mt19937 random(3);
      for (auto& c : frame) c = static_cast<char>(random());
      out.Write(frame.substr(0, 9000));
      writer::TContainerWriter w(out, false);
      for (int i = 0; out.Position() < kPackageBytes - (128 << 10); ++i) {
        frame[0] = static_cast<char>(i);
        w.AddFrame(2, i % 25 == 0 ? 1 : 3, 46000.0 + i / 2160000.0, frame);
      }
      w.Finish();
      out.Close();
    }
    return package_;
  }

private:
  std::string folder_;
  std::string bigIndex_;
  std::string package_;
};

TBenchFiles& Files() {
  static TBenchFiles files;
  return files;
}

void BM_IndexLoad_1M(benchmark::State& state) {
  TReadFile file(Files().BigIndex());
  for (auto _ : state) {
    TClipReader reader(file, file.Size(), false);
    if (!reader.Valid() || reader.Index()->FrameCount() != kIndexFrames) state.SkipWithError("index not loaded");
    benchmark::DoNotOptimize(reader.Index());
  }
}
BENCHMARK(BM_IndexLoad_1M)->Unit(benchmark::kMillisecond);

std::unique_ptr<TIndexParser> LoadBigIndex() {
  TReadFile file(Files().BigIndex());
  TClipReader reader(file, file.Size(), false);
  return reader.TakeIndex();
}

void BM_FindFrame_1M(benchmark::State& state) {
  auto index = LoadBigIndex();
  std::mt19937 random(1);
  std::uniform_int_distribution<int> pick(0, kIndexFrames - 1);
  for (auto _ : state) {
    const TDateTime t = index->Frame(pick(random)).Stamp + 1e-9;
    benchmark::DoNotOptimize(index->FindFrame(0, index->FrameCount(), t));
  }
}
BENCHMARK(BM_FindFrame_1M);

void BM_ClipAt_1M(benchmark::State& state) {
  auto index = LoadBigIndex();
  std::mt19937 random(1);
  std::uniform_int_distribution<int> pick(0, kIndexFrames - 1);
  for (auto _ : state) benchmark::DoNotOptimize(index->FirstFrameOfClipAt(index->Frame(pick(random)).Stamp));
}
BENCHMARK(BM_ClipAt_1M);

// The file checksum pass of verify over a 1 GiB package in the page cache.
void BM_VerifyFileChecksum_1GiB(benchmark::State& state) {
  const std::string& path = Files().Package();
  std::uint32_t crc = 0;
  TCrc::CalcFile(path, 4, 0, crc);  // warm the page cache
  for (auto _ : state) {
    if (!TCrc::CalcFile(path, 4, 0, crc)) state.SkipWithError("file not readable");
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * FileSize(path));
}
BENCHMARK(BM_VerifyFileChecksum_1GiB)->Unit(benchmark::kMillisecond);

// The whole of verify: every frame, then the file checksum.
void BM_VerifyPackage_1GiB(benchmark::State& state) {
  const std::string& path = Files().Package();
  for (auto _ : state) {
    const auto report = AuthenticateFile(path);
    if (!report.Successful()) state.SkipWithError("package not authenticated");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * FileSize(path) * 2);
}
BENCHMARK(BM_VerifyPackage_1GiB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace ospry

BENCHMARK_MAIN();
