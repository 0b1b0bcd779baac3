#include "launcher/U_ExeResource.h"

#include <chrono>
#include <thread>

#include "platform/Files.h"

namespace ospry::launcher {

TExeResource::TExeResource(std::string resourceName, std::string fileName, TEventPump pumpEvents)
    : resourceName_(std::move(resourceName)),
      fileName_(std::move(fileName)),
      pumpEvents_(std::move(pumpEvents)) {}

TExeResource::~TExeResource() { Terminate(); }

std::shared_ptr<TProcess> TExeResource::Run(const std::string& parameters,
                                            const std::string& workingFolder) {
  Terminate();
  if (!FileExists(fileName_)) return nullptr;
  auto process = std::make_shared<TProcess>();
  const std::string folder = workingFolder.empty() ? ExtractFilePath(fileName_) : workingFolder;
  if (!process->Start(fileName_, parameters, folder)) return nullptr;
  process_ = process;
  return process;
}

bool TExeResource::Terminate() {
  if (!process_) return false;
  const bool requested = process_->Terminate();
  while (process_->IsRunning()) {
    if (pumpEvents_) pumpEvents_();
    // A killed process is gone within microseconds; the short sleep only
    // keeps this loop from spinning a core if the kernel is slow about it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return requested;
}

bool TExeResource::IsRunning() { return process_ && process_->IsRunning(); }

}  // namespace ospry::launcher
