#pragma once
// Opens a file the way the viewer does for the headless commands (snapshot,
// play): one pull source per clip, tried in the viewer's order: a multi-clip
// file, a clip container (package or clip file), a raw vendor recording
// (no pull source: the vendor library plays those by itself, into a window;
// RawVendor tells the caller), then an MPEG file. Header-only so that each
// command's fragment can use it without adding sources twice.
#include <memory>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "viewer/container/U_ClipSplitter.h"
#include "viewer/decoding/U_DLLVendor.h"
#include "viewer/sources/U_FileSource.h"
#include "viewer/sources/U_Interfaces.h"
#include "viewer/sources/U_MpegFile.h"
#include "viewer/sources/U_VendorFile.h"

namespace ospry::clip {

struct TOpenedFile {
  // Declared first so that it outlives the sources that read through it.
  std::unique_ptr<TClipSplitter> Splitter;
  // Clip i has SourceId i and is open and valid.
  std::vector<std::unique_ptr<IQuernVideoSource>> Sources;
  bool MultiClip = false;
  bool SyncPlay = false;  // the clips of a multi-clip file play side by side
  bool RawVendor = false;  // a raw vendor recording: Sources stays empty
  std::string Error;      // why nothing opened
};

inline TOpenedFile OpenClipFile(const std::string& path) {
  TOpenedFile opened;
  if (!FileExists(path) || DirectoryExists(path)) {
    opened.Error = "File not found";
    return opened;
  }
  auto splitter = std::make_unique<TClipSplitter>(path, false);
  if (splitter->Valid()) {
    for (std::int32_t i = 0; i < splitter->ClipCount(); ++i) {
      auto source = std::make_unique<TFileSource>(i, splitter->File(), splitter->Clips()[i].EndPosition);
      if (!source->IsValid()) {
        opened.Sources.clear();
        opened.Error = "Clip " + std::to_string(i) + " of the multi-clip file cannot be read";
        return opened;
      }
      opened.Sources.push_back(std::move(source));
    }
    opened.MultiClip = true;
    opened.SyncPlay = splitter->Mode() == kModeSyncPlay;
    opened.Splitter = std::move(splitter);
    return opened;
  }
  auto container = std::make_unique<TFileSource>(0, path);
  if (container->IsValid()) {
    opened.Sources.push_back(std::move(container));
    return opened;
  }
  {
    // Probing loads the vendor library; a missing library only means the
    // file is not a vendor recording here.
    TDLLVendor::SetLoadFailureReporter([](const std::string&) {});
    TVendorFile vendor(0, path);
    TVideoSourceOptions options;
    options.FileName = path;
    const bool isVendor = vendor.Probe(options);
    TDLLVendor::SetLoadFailureReporter({});
    if (isVendor) {
      opened.RawVendor = true;
      opened.Error = "Raw vendor recordings are decoded only inside the vendor library";
      return opened;
    }
  }
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
