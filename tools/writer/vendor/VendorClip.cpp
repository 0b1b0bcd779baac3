#include "tools/writer/vendor/VendorClip.h"

#include <numeric>

#include "platform/Files.h"
#include "tools/writer/vendor/VendorMedia.h"

namespace ospry::writer {

bool AddVendorClips(TContainerWriter& container, const TVendorStream& stream, TDateTime start,
                    const std::vector<std::int32_t>& clipFrameCounts) {
  const std::int64_t total = std::accumulate(clipFrameCounts.begin(), clipFrameCounts.end(), std::int64_t{0});
  if (total != static_cast<std::int64_t>(stream.frames.size()) || stream.frames.empty()) return false;
  for (std::int32_t count : clipFrameCounts)
    if (count <= 0) return false;
  container.AddHeader(kVendorStreamKind, stream.HeaderBytes());
  const std::int32_t base = static_cast<std::int32_t>(container.Frames().size());
  for (const TVendorFrame& frame : stream.frames) {
    if (frame.bytes.empty()) return false;
    container.AddFrame(kVendorStreamKind, frame.ClipFrameType(), start + MillisecondsToDays(frame.stampMs),
                       frame.bytes);
  }
  // A clip ends where the next begins; the last one a frame time after its
  // last frame.
  const std::int64_t frameMs = 1000 / stream.header.RoundedFrameRate();
  std::int32_t first = 0;
  for (std::size_t c = 0; c < clipFrameCounts.size(); ++c) {
    const std::int32_t next = first + clipFrameCounts[c];
    const std::int64_t endMs = next < static_cast<std::int32_t>(stream.frames.size())
                                   ? stream.frames[static_cast<std::size_t>(next)].stampMs
                                   : stream.frames.back().stampMs + frameMs;
    container.AddClipOver(base + first, clipFrameCounts[c], start + MillisecondsToDays(static_cast<double>(endMs)));
    first = next;
  }
  return true;
}

bool WriteVendorSampleContainer(const std::string& path, const std::string& libraryPath) {
  std::string library;
  if (!ReadWholeFile(libraryPath, library)) return false;
  TVendorMediaOptions options;
  options.width = 352;
  options.height = 288;
  options.framesPerSecond = 25;
  options.frameCount = 466;
  options.keyInterval = 212;
  const TVendorStream stream = MakeVendorStream(options);
  if (stream.frames.size() != 466) return false;

  // 11 December 2026, 09:30:00 local time.
  TCalendarTime calendar;
  calendar.year = 2026;
  calendar.month = 12;
  calendar.day = 11;
  calendar.hour = 9;
  calendar.minute = 30;
  const TDateTime start = EncodeDateTime(calendar);

  TFileOutput out;
  if (!out.Create(path)) return false;
  TContainerWriter container(out, false);
  if (!AddVendorClips(container, stream, start, {212, 212, 42})) return false;
  TDvrInfo info;
  info.DvrName = "Sample recorder";
  info.ChannelName = "Camera 1";
  info.UserName = "ospry";
  info.HostName = "192.0.2.10";
  info.StartTime = start;
  info.EndTime = start + MillisecondsToDays(466.0 * 40);
  container.AddDvrInfo(info);
  container.AddSection(kVendorStreamKind, "libVPlay.so", library);
  container.SetDescription("Ospry sample clip");
  return container.Finish() && out.Close();
}

}  // namespace ospry::writer
