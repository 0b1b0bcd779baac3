#pragma once
// One payload file the launcher wrote, and the process it started from it.
//
// Threading: main thread only. The process object handed out by Run may also
// be waited on by another thread (TProcess allows that); it stays valid for
// as long as anyone holds it.
#include <functional>
#include <memory>
#include <string>

#include "platform/Process.h"

namespace ospry::launcher {

// Lets the launcher's events be processed while an entry waits for its
// process to end; may be empty.
using TEventPump = std::function<void()>;

class TExeResource {
public:
  TExeResource(std::string resourceName, std::string fileName, TEventPump pumpEvents = {});
  // Ends the process this entry started, if it still runs.
  ~TExeResource();
  TExeResource(const TExeResource&) = delete;
  TExeResource& operator=(const TExeResource&) = delete;

  // Ends a process this entry started before (an entry runs its file at most
  // once at a time), then starts the file with the parameters (split at
  // blanks; double quotes keep blanks) in the working folder, or in the
  // file's own folder when that is empty. Returns the started process, or
  // nullptr when the file is missing or could not be started.
  std::shared_ptr<TProcess> Run(const std::string& parameters, const std::string& workingFolder);

  // Ends the started process at once, then waits until it has ended while
  // pumping events. True when the end request succeeded; false at once when
  // no process was started or it had already ended.
  bool Terminate();

  // True exactly while the started process runs; false when none was started.
  bool IsRunning();

  const std::string& FileName() const { return fileName_; }
  const std::string& ResourceName() const { return resourceName_; }

private:
  std::string resourceName_;
  std::string fileName_;  // full path of the file written
  TEventPump pumpEvents_;
  std::shared_ptr<TProcess> process_;  // null until the first start
};

}  // namespace ospry::launcher
