// Speed of the services taken on hot paths: an uncontended named mutex
// (outermost and re-entrant), and AddMessage, filtered and queued.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/NamedMutex.h"
#include "viewer/logging/U_LogManager.h"

namespace ospry {
namespace {

void BM_NamedMutexUncontended(benchmark::State& state) {
  TNamedMutex mutex("ospry_bench_mutex");
  for (auto _ : state) {
    mutex.Wait();
    mutex.Release();
  }
}
BENCHMARK(BM_NamedMutexUncontended);

void BM_NamedMutexReentrant(benchmark::State& state) {
  TNamedMutex mutex("ospry_bench_mutex");
  TNamedMutexGuard outer(mutex);
  for (auto _ : state) {
    mutex.Wait();
    mutex.Release();
  }
}
BENCHMARK(BM_NamedMutexReentrant);

void BM_AddMessage(benchmark::State& state) {
  std::string folder = TempFolder() + "ospry-bench-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  TManualClock clock;
  {
    TLogManager log(folder, clock, TLogManager::TMode::Manual);
    const int level = static_cast<int>(state.range(0));
    std::int64_t n = 0;
    for (auto _ : state) {
      benchmark::DoNotOptimize(log.AddMessage("a message of ordinary length for the log", TLogType::Debug, level));
      if (++n % 4096 == 0) {
        state.PauseTiming();
        log.RunOnce();
        state.ResumeTiming();
      }
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}
// Level 0 is queued, level 1 filtered (the defaults admit level 0 only).
BENCHMARK(BM_AddMessage)->Arg(0)->Arg(1);

}  // namespace
}  // namespace ospry

BENCHMARK_MAIN();
