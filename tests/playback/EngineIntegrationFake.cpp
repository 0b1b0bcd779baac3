#include <cmath>

#include "tests/playback/EngineIntegration.h"
#include "tests/playback/FakeVideoSource.h"

namespace ospry::testing {
namespace {

constexpr TDateTime kNoon = 46000.5;
TDateTime At(double ms) { return kNoon + ms / kMsPerDay; }

class TFakeClips final : public TIntegrationClips {
public:
  explicit TFakeClips(double speedFactor) {
    // Frames 40 ms apart, a key frame every 5.
    const int frames = static_cast<int>(15 * speedFactor);
    for (int c = 0; c < 3; ++c) {
      const TDateTime start = At(c * (frames * 40.0 + 200.0));
      auto clip = MakeFakeClip(start, frames, 40, 5);
      ranges_.push_back({clip.front().Stamp, clip.back().Stamp});
      sources_.push_back(std::make_unique<TFakeVideoSource>(0, std::vector<TFakeClip>{clip}, 1));
    }
  }
  std::vector<IQuernVideoSource*> Sources() override {
    std::vector<IQuernVideoSource*> out;
    for (auto& source : sources_) out.push_back(source.get());
    return out;
  }
  const TTimeSegments& ClipRanges() override { return ranges_; }

private:
  std::vector<std::unique_ptr<TFakeVideoSource>> sources_;
  TTimeSegments ranges_;
};

class TFakeSyncPair final : public TSyncPair {
public:
  TFakeSyncPair()
      : master_(0, Clips(0.0), 1), secondary_(1, Clips(1.0 + 20 / kMsPerDay), 1) {}
  IQuernVideoSource* Master() override { return &master_; }
  IQuernVideoSource* Secondary() override { return &secondary_; }
  TDateTime SeekTarget() override { return At(1000); }
  TDateTime SeekTimeOfDay() override { return SeekTarget() - std::floor(SeekTarget()); }
  TDateTime AfterGapTimeOfDay() override {
    const TDateTime t = At(15500);
    return t - std::floor(t);
  }

private:
  // 3 s from noon, then after a gap of 12 s another 2 s.
  static std::vector<TFakeClip> Clips(TDateTime shift) {
    return {MakeFakeClip(At(0) + shift, 75, 40, 10), MakeFakeClip(At(15000) + shift, 50, 40, 10)};
  }
  TFakeVideoSource master_;
  TFakeVideoSource secondary_;
};

}  // namespace

std::unique_ptr<TIntegrationClips> MakeIntegrationClips(double speedFactor) {
  return std::make_unique<TFakeClips>(speedFactor);
}
std::unique_ptr<TSyncPair> MakeSyncPair() { return std::make_unique<TFakeSyncPair>(); }

}  // namespace ospry::testing
