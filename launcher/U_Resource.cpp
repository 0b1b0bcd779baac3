#include "launcher/U_Resource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <strings.h>

#include "launcher/U_Payloads.h"
#include "platform/Files.h"

namespace ospry::launcher {

namespace {

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return ::strcasecmp(a.c_str(), b.c_str()) < 0;
}

// Creates or truncates path and writes the bytes; payloads are programs and
// libraries, so the file is made executable (an existing file keeps its old
// mode on truncation, hence the explicit chmod).
bool WritePayloadFile(const std::string& path, const unsigned char* data, std::size_t sizeBytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
  if (fd < 0) return false;  // a folder in the way, a running program, no rights
  ::fchmod(fd, 0755);
  std::size_t done = 0;
  bool ok = true;
  while (done < sizeBytes) {
    ssize_t n = ::write(fd, data + done, sizeBytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  // A half-written payload is useless and would not be deleted by anyone,
  // since it is not registered: remove it now.
  if (!ok) ::unlink(path.c_str());
  return ok;
}

}  // namespace

TResource::TResource(TEventPump pumpEvents)
    : tempPath_(TempFolder()), pumpEvents_(std::move(pumpEvents)) {}

TResource::~TResource() {
  TerminateAll();
  DeleteAll();
}

bool TResource::Extract(const std::string& resourceName, const std::string& fileName, bool isFullPath) {
  const std::string target = isFullPath ? fileName : tempPath_ + fileName;
  const TPayload* payload = FindEmbeddedPayload(resourceName);
  if (payload == nullptr) return false;
  if (!WritePayloadFile(target, payload->data, payload->sizeBytes)) return false;
  auto entry = std::make_unique<TExeResource>(resourceName, target, pumpEvents_);
  auto at = std::upper_bound(list_.begin(), list_.end(), resourceName,
                             [](const std::string& name, const std::unique_ptr<TExeResource>& e) {
                               return LessIgnoringCase(name, e->ResourceName());
                             });
  list_.insert(at, std::move(entry));
  return true;
}

TExeResource* TResource::Find(const std::string& resourceName) {
  auto at = std::lower_bound(list_.begin(), list_.end(), resourceName,
                             [](const std::unique_ptr<TExeResource>& e, const std::string& name) {
                               return LessIgnoringCase(e->ResourceName(), name);
                             });
  if (at == list_.end() || ::strcasecmp((*at)->ResourceName().c_str(), resourceName.c_str()) != 0)
    return nullptr;
  return at->get();
}

std::shared_ptr<TProcess> TResource::Run(const std::string& resourceName, const std::string& parameters) {
  TExeResource* entry = Find(resourceName);
  if (entry == nullptr) return nullptr;
  return entry->Run(parameters, "");
}

void TResource::TerminateAll() {
  for (auto& entry : list_) entry->Terminate();
}

void TResource::DeleteAll() {
  for (auto& entry : list_) {
    DeleteFilePath(entry->FileName());
    entry.reset();
  }
  list_.clear();
}

}  // namespace ospry::launcher
