// ospry-clip snapshot: one picture of a clip as a bitmap file.
//
// Opens the file the way the viewer does (sources the build knows, tried in
// the viewer's order), decodes the chosen channel from the key frame before
// the wanted frame up to it, and writes the picture through MakeBitmap.
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/DateTime.h"
#include "platform/Files.h"
#include "tools/clip/ClipFileOpen.h"
#include "tools/clip/Commands.h"
#include "viewer/decoding/U_DecoderRouter.h"
#include "viewer/render/DrawYUV_New.h"

namespace ospry::clip {
namespace {

constexpr const char* kStampPattern = "yyyy/mm/dd hh:nn:ss.zzz";
// A GOP longer than this is cut from its start: streams without key frames
// must not make the buffer grow with the file.
constexpr std::size_t kMaxBufferedFrames = 1000;
// Frames fed past the wanted one at most, for codecs that delay pictures.
constexpr int kMaxExtraFrames = 32;
// The vendor decoder hands pictures back on the library's own threads, after
// its Decode has returned: how long to wait for the wanted one at most.
constexpr auto kPictureWait = std::chrono::seconds(5);

struct TSnapshotOptions {
  std::string file;
  std::optional<long long> frame;
  std::string at;
  int channel = 0;
  std::string output;
  bool json = false;
};

struct TEncodedFrame {
  TFrameHeader header;
  std::vector<std::uint8_t> data;
};

bool IsVideoKind(std::uint8_t kind) {
  return kind == 2 || kind == 3 || kind == 5 || kind == 6 || kind == 13 || kind == 15 || kind == 16;
}

int Run(const TSnapshotOptions& options) {
  OverrideSeparators('/', ':');
  TDateTime at = kNoTime;
  if (!options.at.empty() && !ParseDateTime(kStampPattern, options.at, at)) {
    std::cerr << "snapshot: --at must look like \"" << kStampPattern << "\"\n";
    return 2;
  }
  TOpenedFile opened = OpenClipFile(options.file);
  auto& sources = opened.Sources;
  if (opened.RawVendor) {
    // The library shows such a file only by playing it into a window, at its
    // own pace: no way to pick one exact frame from outside.
    std::cerr << "snapshot: " << options.file
              << ": snapshot needs a clip file, a multi-clip file or an MPEG file; a raw vendor file is "
                 "decoded only inside the vendor library while it plays (try `ospry-clip play`)\n";
    return 1;
  }
  if (sources.empty()) {
    std::cerr << "snapshot: " << options.file << ": " << opened.Error << "\n";
    return 1;
  }
  if (options.channel < 0 || options.channel >= static_cast<int>(sources.size())) {
    std::cerr << "snapshot: no channel " << options.channel << " (the file has " << sources.size() << ")\n";
    return 1;
  }
  IQuernVideoSource& source = *sources[options.channel];
  source.SetSpeed(1);
  source.GoToStart();

  // Read forward, keeping the video frames since the last key frame, until
  // the wanted frame is the last one kept.
  std::vector<TEncodedFrame> group;
  std::vector<TEncodedFrame> streamHeaders;  // stream header pseudo-frames
  long long videoIndex = -1;
  bool found = false;
  TEncodedFrame frame;
  std::int32_t sourceId = 0;
  TDateTime time = 0;
  for (int idle = 0; idle < 1000;) {
    const TReadResult result = source.ReadFrame(sourceId, frame.data, frame.header, time);
    if (result == kReadPastEnd || result == kReadBeforeStart) break;
    if (result != kReadFrame) {
      ++idle;
      continue;
    }
    idle = 0;
    if (frame.header.FrameType == kFrameStreamHeader && IsVideoKind(frame.header.StreamKind)) {
      streamHeaders.push_back(frame);
      continue;
    }
    if (!IsVideoKind(frame.header.StreamKind) || frame.header.FrameType == kFrameAudio) continue;
    if (at != kNoTime && frame.header.Stamp > at && !group.empty()) {
      found = true;
      break;
    }
    if (frame.header.FrameType == kFrameKey) group.clear();
    if (group.size() >= kMaxBufferedFrames) group.erase(group.begin());
    group.push_back(frame);
    ++videoIndex;
    if (options.frame && videoIndex == *options.frame) {
      found = true;
      break;
    }
  }
  if (!found && at != kNoTime && !group.empty()) found = true;  // the last frame is the nearest
  if (!found) {
    std::cerr << "snapshot: the wanted frame is not in the file\n";
    return 1;
  }

  // The handler may run on a decoding library's thread: picture, pictureInfo
  // and pictures are guarded by pictureMutex and only read under it.
  std::mutex pictureMutex;
  std::condition_variable pictureArrived;
  std::vector<std::uint8_t> picture;
  TFrameInfo pictureInfo{};
  std::size_t pictures = 0;
  // Pictures come out in order, possibly later than their frames went in:
  // the wanted one is the group.size()-th, so a few frames past the group
  // may be needed to push it out of a codec that delays its output.
  const std::size_t wantedPicture = group.size();
  const auto haveWanted = [&] {
    std::lock_guard<std::mutex> lock(pictureMutex);
    return pictures >= wantedPicture;
  };
  // Declared after what its handler touches, so that it is destroyed (and its
  // decoders closed, their threads ended) before those go away.
  TDecoderRouter router;
  router.AddChannel(0, 1);
  router.SetOnFrame([&](int, const TFrameInfo& info, const std::uint8_t* payload) {
    if (info.IsAudio || info.Width <= 0) return;
    {
      std::lock_guard<std::mutex> lock(pictureMutex);
      if (++pictures > wantedPicture) return;
      picture.assign(payload, payload + info.DataSize);
      pictureInfo = info;
    }
    pictureArrived.notify_all();
  });
  for (const TEncodedFrame& header : streamHeaders) router.DeliverFrame(0, header.header, header.data.data());
  for (const TEncodedFrame& encoded : group) router.DeliverFrame(0, encoded.header, encoded.data.data());
  for (int extra = 0; extra < kMaxExtraFrames && !haveWanted();) {
    const TReadResult result = source.ReadFrame(sourceId, frame.data, frame.header, time);
    if (result == kReadPastEnd || result == kReadBeforeStart) break;
    if (result != kReadFrame || !IsVideoKind(frame.header.StreamKind) || frame.header.FrameType == kFrameAudio) {
      continue;
    }
    ++extra;
    router.DeliverFrame(0, frame.header, frame.data.data());
  }
  std::vector<std::uint8_t> wantedBytes;
  TFrameInfo wantedInfo{};
  {
    std::unique_lock<std::mutex> lock(pictureMutex);
    pictureArrived.wait_for(lock, kPictureWait, [&] { return pictures >= wantedPicture; });
    wantedBytes = picture;
    wantedInfo = pictureInfo;
  }
  if (wantedBytes.empty()) {
    std::cerr << "snapshot: nothing could be decoded" << (router.GetLastError().empty() ? "" : ": ")
              << router.GetLastError() << "\n";
    return 1;
  }
  const TFrameHeader& wanted = group.back().header;
  const TBitmapBytes bitmap = TDrawYUV::MakeBitmap(wantedBytes.data(), wantedInfo.Width, wantedInfo.Height, true);
  if (bitmap.empty() || !WriteWholeFile(options.output, bitmap.data(), static_cast<std::int64_t>(bitmap.size()))) {
    std::cerr << "snapshot: Snapshot failed: cannot write " << options.output << "\n";
    return 1;
  }
  const std::string stamp = FormatDateTime(kStampPattern, wanted.Stamp);
  if (options.json) {
    nlohmann::json out = {{"file", options.file}, {"channel", options.channel}, {"stamp", stamp},
                          {"width", wantedInfo.Width}, {"height", wantedInfo.Height},
                          {"output", options.output}};
    std::cout << out.dump(2) << "\n";
  } else {
    std::cout << stamp << " " << wantedInfo.Width << "x" << wantedInfo.Height << " -> " << options.output << "\n";
  }
  return 0;
}

TRegisterCommand reg([](CLI::App& app) {
  auto options = std::make_shared<TSnapshotOptions>();
  CLI::App* command = app.add_subcommand("snapshot", "Write one picture of a clip as a 24-bit bitmap file");
  command->add_option("file", options->file, "Clip package, clip file, multi-clip file or MPEG file")->required();
  auto* frameOption = command->add_option("--frame", options->frame, "Number of the video frame, counted from 0");
  auto* atOption = command->add_option("--at", options->at, "Time of the picture, \"yyyy/mm/dd hh:nn:ss.zzz\"");
  frameOption->excludes(atOption);
  command->add_option("--channel", options->channel, "Channel (clip of a multi-clip file), from 0")
      ->check(CLI::NonNegativeNumber);
  command->add_option("-o,--output", options->output, "Bitmap file to write")->required();
  command->add_flag("--json", options->json, "Print the result as JSON");
  command->callback([options, frameOption, atOption] {
    if (frameOption->count() == 0 && atOption->count() == 0) {
      std::cerr << "snapshot: give --frame N or --at TIME\n";
      SetExitCode(2);
      return;
    }
    SetExitCode(Run(*options));
  });
});

}  // namespace
}  // namespace ospry::clip
