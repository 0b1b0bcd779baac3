#pragma once
// Making clip packages: the launcher's executable followed by a clip container
// or multi-clip file whose frame offsets count from the start of the package,
// ending with the checksum over everything before it.
//
// Error policy: every operation reports failure by result with a message for
// the user; nothing throws. No half-written output is ever left behind: the
// package is written beside the output under a temporary name and renamed
// into place only when it is complete.
// Threading: none.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "tools/writer/ClipWriter.h"

namespace ospry::pack {

struct TPackOptions {
  std::string launcherPath;  // the launcher executable put in front
  std::string inputPath;     // a clip container or multi-clip file (a package too)
  std::string outputPath;
  // Replaces the description of the container, or of the multi-clip file.
  std::optional<std::string> description;
  // Replaces a multi-clip file's play mode (kModePlayList, kModeSyncPlay);
  // refused for a single container.
  std::optional<std::uint8_t> mode;
};

// Re-bases the input's containers behind the launcher: frame data is copied,
// the index, sections, trailers and every checksum are written anew for the
// new positions. An input whose frames or file checksum do not match is
// refused rather than given fresh checksums. False with error filled on any
// failure.
bool PackClipFile(const TPackOptions& options, std::string& error);

// True when path ends in a clip container or a multi-clip trailer (a package
// too): such an input is re-based, anything else is taken as a media file.
bool IsClipFile(const std::string& path);

// Writes the clip part of a package at the output's position (frame offsets
// count from the package's start); false with error filled on failure.
using TClipWriteStep = std::function<bool(writer::TOutput& out, std::string& error)>;

// The package frame every packer shares: the launcher at launcherPath, then
// what writeClip writes, into a temporary file beside outputPath that is made
// executable and renamed over outputPath only when complete. On any failure
// (unreadable launcher, a failing step, disk full) the temporary file is
// removed and outputPath is left as it was.
bool WritePackage(const std::string& launcherPath, const std::string& outputPath, const TClipWriteStep& writeClip,
                  std::string& error);

}  // namespace ospry::pack
