#include "platform/Files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace ospry {

namespace {

std::int64_t ReadRetrying(int fd, std::int64_t position, void* buffer, std::int64_t count) {
  std::int64_t done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < count) {
    ssize_t n = ::pread(fd, out + done, static_cast<size_t>(count - done), position + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

}  // namespace

// ---- TReadFile --------------------------------------------------------------

TReadFile::TReadFile(const std::string& path) { Open(path); }

TReadFile::~TReadFile() { Close(); }

TReadFile::TReadFile(TReadFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), position_(std::exchange(other.position_, 0)) {}

TReadFile& TReadFile::operator=(TReadFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    position_ = std::exchange(other.position_, 0);
  }
  return *this;
}

bool TReadFile::Open(const std::string& path) {
  Close();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  position_ = 0;
  return true;
}

void TReadFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  position_ = 0;
}

std::int64_t TReadFile::Size() const {
  if (fd_ < 0) return -1;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return -1;
  return st.st_size;
}

bool TReadFile::Seek(std::int64_t position) {
  if (fd_ < 0 || position < 0) return false;
  position_ = position;
  return true;
}

std::int64_t TReadFile::Read(void* buffer, std::int64_t count) {
  if (fd_ < 0 || count < 0) return -1;
  std::int64_t n = ReadRetrying(fd_, position_, buffer, count);
  if (n > 0) position_ += n;
  return n;
}

bool TReadFile::ReadExact(void* buffer, std::int64_t count) { return Read(buffer, count) == count; }

std::int64_t TReadFile::PositionalRead(std::int64_t position, void* buffer, std::int64_t count) const {
  if (fd_ < 0 || count < 0 || position < 0) return -1;
  return ReadRetrying(fd_, position, buffer, count);
}

bool TReadFile::PositionalReadExact(std::int64_t position, void* buffer, std::int64_t count) const {
  return PositionalRead(position, buffer, count) == count;
}

// ---- TWriteFile -------------------------------------------------------------

TWriteFile::~TWriteFile() { Close(); }

TWriteFile::TWriteFile(TWriteFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TWriteFile& TWriteFile::operator=(TWriteFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool TWriteFile::Create(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return fd_ >= 0;
}

bool TWriteFile::OpenAppend(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  return fd_ >= 0;
}

bool TWriteFile::Write(const void* data, std::int64_t count) {
  if (fd_ < 0 || count < 0) return false;
  const auto* in = static_cast<const char*>(data);
  std::int64_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd_, in + done, static_cast<size_t>(count - done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += n;
  }
  return true;
}

bool TWriteFile::WriteAt(std::int64_t position, const void* data, std::int64_t count) {
  if (fd_ < 0 || count < 0 || position < 0) return false;
  const auto* in = static_cast<const char*>(data);
  std::int64_t done = 0;
  while (done < count) {
    ssize_t n = ::pwrite(fd_, in + done, static_cast<size_t>(count - done), position + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += n;
  }
  return true;
}

bool TWriteFile::Close() {
  if (fd_ < 0) return true;
  int fd = std::exchange(fd_, -1);
  return ::close(fd) == 0;
}

// ---- free functions ---------------------------------------------------------

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFilePath(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool CreateDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::string partial;
  partial.reserve(path.size());
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      if (!partial.empty() && !DirectoryExists(partial)) {
        if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
      }
    }
    if (i < path.size()) partial.push_back(path[i]);
  }
  return DirectoryExists(path);
}

bool RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::int64_t FileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return st.st_size;
}

bool ListFolder(const std::string& folder, std::vector<std::string>& names) {
  names.clear();
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return false;
  while (const dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
  }
  ::closedir(dir);
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  TReadFile file(path);
  if (!file.IsOpen()) return false;
  std::int64_t size = file.Size();
  if (size < 0) return false;
  out.resize(static_cast<std::size_t>(size));
  return file.ReadExact(out.data(), size);
}

bool WriteWholeFile(const std::string& path, const void* data, std::int64_t count) {
  TWriteFile file;
  if (!file.Create(path)) return false;
  bool ok = file.Write(data, count);
  return file.Close() && ok;
}

std::string ExtractFilePath(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractFileExt(const std::string& path) {
  std::string name = ExtractFileName(path);
  auto dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string IncludeTrailingDelimiter(const std::string& folder) {
  if (!folder.empty() && folder.back() == '/') return folder;
  return folder + '/';
}

std::string ProgramFolder() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "./";
  buffer[n] = '\0';
  return ExtractFilePath(buffer);
}

std::string TempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  if (tmp == nullptr || *tmp == '\0') return "/tmp/";
  return IncludeTrailingDelimiter(tmp);
}

}  // namespace ospry
