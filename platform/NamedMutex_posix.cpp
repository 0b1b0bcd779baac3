#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "platform/Files.h"

namespace ospry {

namespace {

constexpr std::size_t kMaxNameChars = 100;

std::uint64_t Fnv1a(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string SanitisedName(const std::string& name) {
  std::string out;
  bool changed = name.empty() || name == "." || name == ".." || name.size() > kMaxNameChars;
  for (char c : name.substr(0, kMaxNameChars)) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '.' || c == '-' || c == '_';
    out += plain ? c : '_';
    changed = changed || !plain;
  }
  if (changed) {
    char hash[24];
    std::snprintf(hash, sizeof hash, "-%016llx", static_cast<unsigned long long>(Fnv1a(name)));
    out += hash;
  }
  return out;
}

// The per-user folder for lock files. Other users must not be able to plant
// or remove our lock files, so a folder we did not create ourselves (owned by
// someone else, or a symbolic link) is refused.
bool EnsurePrivateFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

std::string RuntimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime == '/') return IncludeTrailingDelimiter(runtime);
  return TempFolder() + "ospry-" + std::to_string(::getuid()) + "/";
}

int OpenLockFile(const std::string& path) {
  std::string runtime = RuntimeFolder();
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  bool ownRuntime = xdg == nullptr || *xdg != '/';
  if (ownRuntime && !EnsurePrivateFolder(runtime.substr(0, runtime.size() - 1))) return -1;
  if (!EnsurePrivateFolder(runtime + "ospry-mutex")) return -1;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

// One record per name and process. The recursive mutex serialises the
// threads of this process (flock knows nothing of threads: it locks per open
// file description); the flock on the lock file serialises processes and is
// dropped by the kernel when the holder dies.
struct TNamedMutex::TImpl {
  std::string path;
  std::recursive_mutex threads;
  std::atomic<std::thread::id> owner{};
  int depth = 0;               // guarded by threads
  std::atomic<int> fd{-1};     // replaced only by the owning thread
  pid_t pid = 0;               // process that opened fd; guarded by threads
};

std::string TNamedMutex::LockFilePath(const std::string& name) {
  return RuntimeFolder() + "ospry-mutex/" + SanitisedName(name) + ".lock";
}

TNamedMutex::TNamedMutex(const std::string& name) {
  // Records are never freed: a process uses a handful of names, and a record
  // must outlive every thread that may still own it.
  static std::mutex registryLock;
  static auto* registry = new std::map<std::string, TImpl*>();  // guarded by registryLock
  std::string path = LockFilePath(name);
  std::lock_guard<std::mutex> guard(registryLock);
  TImpl*& record = (*registry)[path];
  if (record == nullptr) {
    record = new TImpl;
    record->path = path;
    record->fd = OpenLockFile(path);
    record->pid = ::getpid();
  }
  impl_ = record;
}

TNamedMutex::~TNamedMutex() = default;

bool TNamedMutex::Valid() const { return impl_->fd.load() >= 0; }

void TNamedMutex::Wait() {
  TImpl& m = *impl_;
  m.threads.lock();
  if (m.depth++ > 0) return;
  m.owner.store(std::this_thread::get_id());
  // A forked child shares the parent's open file description, and with it
  // the parent's lock: it needs a description of its own.
  if (m.pid != ::getpid()) {
    int old = m.fd.exchange(-1);
    if (old >= 0) ::close(old);
    m.fd = OpenLockFile(m.path);
    m.pid = ::getpid();
  }
  int fd = m.fd.load();
  if (fd < 0) return;
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
}

void TNamedMutex::Release() {
  TImpl& m = *impl_;
  if (m.owner.load() != std::this_thread::get_id()) return;
  if (--m.depth == 0) {
    m.owner.store(std::thread::id());
    // An inherited description is still the parent's lock: never unlock it
    // from a forked child.
    int fd = m.fd.load();
    if (fd >= 0 && m.pid == ::getpid()) ::flock(fd, LOCK_UN);
  }
  m.threads.unlock();
}

}  // namespace ospry
