#pragma once
// The payload registry: writes embedded payloads into the temporary folder,
// remembers every file it wrote, starts payloads as processes, and at the end
// ends every process it started and deletes every file it wrote.
//
// Failures are silent by design: a payload that cannot be written is simply
// not registered (so it is neither started nor deleted), a file that cannot
// be deleted stays behind. Nothing throws.
//
// Threading: main thread only (see TExeResource for the process objects).
#include <memory>
#include <string>
#include <vector>

#include "launcher/U_ExeResource.h"

namespace ospry::launcher {

class TResource {
public:
  // Reads the temporary folder (TMPDIR, else /tmp/) once. pumpEvents runs
  // while a process is being waited for.
  explicit TResource(TEventPump pumpEvents = {});
  // TerminateAll, then DeleteAll: every process has ended before any file is
  // deleted (a running program's file may be in use).
  ~TResource();
  TResource(const TResource&) = delete;
  TResource& operator=(const TResource&) = delete;

  // Writes the embedded payload resourceName to the temporary folder under
  // fileName (or to fileName itself when isFullPath), replacing an existing
  // file, and registers it. False, with nothing registered and no partial
  // file left, when the resource is missing or the file cannot be written.
  bool Extract(const std::string& resourceName, const std::string& fileName, bool isFullPath = false);

  // Starts the registered payload (names compared without regard to case)
  // with the parameters in its own folder; nullptr when it is not registered
  // or could not be started.
  std::shared_ptr<TProcess> Run(const std::string& resourceName, const std::string& parameters);

  void TerminateAll();
  // Deletes every registered file (failures ignored) and empties the registry.
  void DeleteAll();

  // The registered entry of that name, or nullptr.
  TExeResource* Find(const std::string& resourceName);
  std::size_t Count() const { return list_.size(); }
  const std::string& TempPath() const { return tempPath_; }

private:
  std::string tempPath_;  // ends with '/'
  TEventPump pumpEvents_;
  // Sorted by resource name without regard to case; a name written twice
  // keeps both entries (both files are deleted at the end).
  std::vector<std::unique_ptr<TExeResource>> list_;
};

}  // namespace ospry::launcher
