// The end-to-end sources as real clip files made with the project's writer:
// a play-list file of three clip containers opened through the splitter (one
// clip file source per clip, all reading the splitter's one open file), and
// two single-container files of two clips each for synchronised play.
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "tests/playback/EngineIntegration.h"
#include "tools/writer/ClipWriter.h"
#include "viewer/container/U_ClipSplitter.h"
#include "viewer/sources/U_FileSource.h"

namespace ospry::testing {
namespace {

using writer::TContainerWriter;
using writer::TFileOutput;
using writer::TMultiClipWriter;

constexpr TDateTime kNoon = 46000.5;
TDateTime At(double ms) { return kNoon + ms / kMsPerDay; }

class TTempFolder {
public:
  TTempFolder() {
    std::string pattern = TempFolder() + "ospry-engine-XXXXXX";
    if (char* made = ::mkdtemp(pattern.data())) path_ = std::string(made) + "/";
  }
  ~TTempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

private:
  std::string path_;
};

// frames 40 ms apart from start, a key frame every gop; each frame's bytes
// name it.
void AddFrames(TContainerWriter& w, TDateTime start, int frames, int gop) {
  const auto first = static_cast<std::int32_t>(w.Frames().size());
  for (int i = 0; i < frames; ++i)
    w.AddFrame(2, i % gop == 0 ? kFrameKey : 2, start + 40.0 * i / kMsPerDay,
               "frame " + std::to_string(first + i));
  w.AddClipOver(first, frames, w.Frames().back().Stamp);
}

void FinishContainer(TContainerWriter& w) {
  w.AddHeader(2, std::string(40, 'H'));
  TDvrInfo info;
  info.DvrName = "recorder";
  info.ChannelName = "channel";
  w.AddDvrInfo(info);
  w.Finish();
}

class TFileClips final : public TIntegrationClips {
public:
  explicit TFileClips(double speedFactor) {
    const int frames = static_cast<int>(15 * speedFactor);
    const std::string path = folder_.Path() + "playlist.bin";
    {
      TFileOutput out;
      out.Create(path);
      TMultiClipWriter multi(out);
      for (int c = 0; c < 3; ++c) {
        TContainerWriter w(out, false);
        AddFrames(w, At(c * (frames * 40.0 + 200.0)), frames, 5);
        ranges_.push_back({w.Frames().front().Stamp, w.Frames().back().Stamp});
        FinishContainer(w);
        multi.AddClip(TDvrInfo{}, out.Position());
      }
      multi.SetMode(kModePlayList);
      multi.Finish();
      out.Close();
    }
    splitter_ = std::make_unique<TClipSplitter>(path, false, folder_.Path());
    for (const auto& clip : splitter_->Clips())
      sources_.push_back(
          std::make_unique<TFileSource>(0, splitter_->File(), clip.EndPosition, folder_.Path()));
  }
  std::vector<IQuernVideoSource*> Sources() override {
    std::vector<IQuernVideoSource*> out;
    for (auto& source : sources_)
      if (source->IsValid()) out.push_back(source.get());
    return out;
  }
  const TTimeSegments& ClipRanges() override { return ranges_; }

private:
  TTempFolder folder_;
  std::unique_ptr<TClipSplitter> splitter_;
  std::vector<std::unique_ptr<TFileSource>> sources_;  // freed before the splitter
  TTimeSegments ranges_;
};

class TFileSyncPair final : public TSyncPair {
public:
  TFileSyncPair()
      : master_(0, Write("master.bin", 0.0), folder_.Path()),
        secondary_(1, Write("secondary.bin", 1.0 + 20 / kMsPerDay), folder_.Path()) {}
  IQuernVideoSource* Master() override { return &master_; }
  IQuernVideoSource* Secondary() override { return &secondary_; }
  TDateTime SeekTarget() override { return At(1000); }
  TDateTime SeekTimeOfDay() override { return SeekTarget() - std::floor(SeekTarget()); }
  TDateTime AfterGapTimeOfDay() override {
    const TDateTime t = At(15500);
    return t - std::floor(t);
  }

private:
  // 3 s from noon, then after a gap of 12 s another 2 s; shifted by shift.
  std::string Write(const std::string& name, TDateTime shift) {
    const std::string path = folder_.Path() + name;
    TFileOutput out;
    out.Create(path);
    TContainerWriter w(out, false);
    AddFrames(w, At(0) + shift, 75, 10);
    AddFrames(w, At(15000) + shift, 50, 10);
    FinishContainer(w);
    out.Close();
    return path;
  }
  TTempFolder folder_;
  TFileSource master_;
  TFileSource secondary_;
};

}  // namespace

std::unique_ptr<TIntegrationClips> MakeIntegrationClips(double speedFactor) {
  return std::make_unique<TFileClips>(speedFactor);
}
std::unique_ptr<TSyncPair> MakeSyncPair() { return std::make_unique<TFileSyncPair>(); }

}  // namespace ospry::testing
