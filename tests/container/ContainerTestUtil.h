#pragma once
// Helpers shared by the container tests: a private temporary folder and clip
// files built with the project's writer.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/DateTime.h"
#include "platform/Files.h"
#include "tools/writer/ClipWriter.h"

namespace ospry::test {

class TTempDir {
public:
  TTempDir() {
    std::string pattern = TempFolder() + "ospry-container-XXXXXX";
    if (char* made = ::mkdtemp(pattern.data())) path_ = std::string(made) + "/";
  }
  ~TTempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }

private:
  std::string path_;
};

inline TDateTime At(int hour, int minute, int second, int ms = 0) {
  return EncodeDateTime({2026, 3, 14, hour, minute, second, ms});
}

inline std::string FrameBytes(int index, int size) {
  std::string data(static_cast<std::size_t>(size), '\0');
  for (int i = 0; i < size; ++i) data[static_cast<std::size_t>(i)] = static_cast<char>((index * 131 + i * 7) & 0xFF);
  return data;
}

// A recorder description with recognisable texts.
inline TDvrInfo SampleInfo(const std::string& channel = "Gate") {
  TDvrInfo info;
  info.DvrName = "Yard recorder";
  info.ChannelName = channel;
  info.UserName = "operator";
  info.HostName = "192.168.100.200:80";
  info.StartTime = At(10, 0, 0);
  info.EndTime = At(10, 1, 0);
  return info;
}

// Writes a typical clip: frames of kind 2, one every 40 ms from startTime,
// a key frame every keyEvery frames, grouped in clips of clipFrames frames,
// one 40-byte stream header of kind 2 and one recorder description.
inline void WriteSampleClip(writer::TContainerWriter& w, int frames, int clipFrames, int keyEvery = 4,
                            TDateTime startTime = At(10, 0, 0)) {
  for (int i = 0; i < frames; ++i)
    w.AddFrame(2, i % keyEvery == 0 ? 1 : 3, startTime + MillisecondsToDays(40.0 * i), FrameBytes(i, 50 + i % 7));
  for (int first = 0; first < frames; first += clipFrames) {
    const int count = std::min(clipFrames, frames - first);
    w.AddClipOver(first, count, w.Frames()[static_cast<std::size_t>(first + count - 1)].Stamp);
  }
  w.AddHeader(2, std::string(40, 'H'));
  w.AddDvrInfo(SampleInfo());
}

}  // namespace ospry::test
