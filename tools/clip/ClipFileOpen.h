#pragma once
// Opens a file the way the viewer does for the headless commands (snapshot,
// play): one pull source per channel, tried in the viewer's order with the
// sources this build has. Header-only so that each command's fragment can use
// it without adding sources twice.
#include <memory>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "viewer/sources/U_Interfaces.h"
#include "viewer/sources/U_MpegFile.h"

namespace ospry::clip {

struct TOpenedFile {
  // One per channel; channel i has SourceId i and is open (Reopen done).
  std::vector<std::unique_ptr<IQuernVideoSource>> Sources;
  bool SyncPlay = false;  // a multi-clip file whose clips play side by side
  std::string Error;      // why nothing opened
};

inline TOpenedFile OpenClipFile(const std::string& path) {
  TOpenedFile opened;
  if (!FileExists(path) || DirectoryExists(path)) {
    opened.Error = "File not found";
    return opened;
  }
  // Clip containers and multi-clip files join here once the clip file source
  // is part of the build; the MPEG file source is the viewer's last resort.
  auto mpeg = std::make_unique<TMpegFile>(0, path);
  TVideoSourceOptions options;
  options.FileName = path;
  if (mpeg->Probe(options) && mpeg->Reopen()) {
    opened.Sources.push_back(std::move(mpeg));
    return opened;
  }
  opened.Error = "Unknown file type";
  return opened;
}

}  // namespace ospry::clip
