// Process service on POSIX: fork + exec, status through waitid/waitpid.
//
// The child is reaped only under the object's lock, so its pid cannot be
// reused (and hit by a later kill) while this object still refers to it. The
// waiter blocks with WNOWAIT outside the lock, which leaves IsRunning and
// Terminate free to run meanwhile.
#include "platform/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace ospry {

std::vector<std::string> SplitArguments(const std::string& arguments) {
  std::vector<std::string> result;
  std::string current;
  bool inArgument = false;  // an argument was begun (possibly empty: "")
  bool inQuotes = false;
  for (char c : arguments) {
    if (c == '"') {
      inQuotes = !inQuotes;
      inArgument = true;
    } else if ((c == ' ' || c == '\t') && !inQuotes) {
      if (inArgument) result.push_back(std::move(current));
      current.clear();
      inArgument = false;
    } else {
      current.push_back(c);
      inArgument = true;
    }
  }
  if (inArgument) result.push_back(std::move(current));
  return result;
}

struct TProcess::TImpl {
  std::mutex lock;      // guards every field below
  pid_t pid = -1;       // -1: nothing started
  bool reaped = false;  // the child's status was collected; pid is stale
  int exitCode = -1;

  // Collects the child's status if it has ended. Caller holds lock.
  void ReapIfEnded(bool block) {
    if (pid < 0 || reaped) return;
    int status = 0;
    pid_t r;
    do {
      r = ::waitpid(pid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == pid) {
      reaped = true;
      if (WIFEXITED(status))
        exitCode = WEXITSTATUS(status);
      else if (WIFSIGNALED(status))
        exitCode = 128 + WTERMSIG(status);
    } else if (r < 0) {
      // ECHILD: someone else (a SIGCHLD handler set to ignore) took it.
      reaped = true;
    }
  }
};

TProcess::TProcess() : impl_(std::make_unique<TImpl>()) {}

TProcess::~TProcess() {
  // Collect an already ended child so it does not linger as a zombie; a
  // running one is left alone.
  std::lock_guard<std::mutex> guard(impl_->lock);
  impl_->ReapIfEnded(false);
}

bool TProcess::Start(const std::string& program, const std::string& arguments,
                     const std::string& workingFolder) {
  std::lock_guard<std::mutex> guard(impl_->lock);
  if (impl_->pid >= 0) return false;  // one process per object

  // Everything the child needs is prepared before fork: after it, only
  // async-signal-safe calls are allowed in the child.
  std::vector<std::string> args = SplitArguments(arguments);
  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(program.c_str()));
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const char* folder = workingFolder.empty() ? nullptr : workingFolder.c_str();

  // The child reports a failed chdir or exec through this pipe; a successful
  // exec closes it (O_CLOEXEC) and the parent reads end-of-file.
  int errorPipe[2];
  if (::pipe2(errorPipe, O_CLOEXEC) != 0) return false;

  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(errorPipe[0]);
    ::close(errorPipe[1]);
    return false;
  }
  if (pid == 0) {
    ::close(errorPipe[0]);
    int error = 0;
    if (folder != nullptr && ::chdir(folder) != 0) {
      error = errno;
    } else {
      ::execv(program.c_str(), argv.data());
      error = errno;
    }
    ssize_t ignored = ::write(errorPipe[1], &error, sizeof error);
    (void)ignored;
    ::_exit(127);
  }

  ::close(errorPipe[1]);
  int childError = 0;
  ssize_t n;
  do {
    n = ::read(errorPipe[0], &childError, sizeof childError);
  } while (n < 0 && errno == EINTR);
  ::close(errorPipe[0]);
  impl_->pid = pid;
  if (n > 0) {
    // The program never ran: collect the child and report failure.
    impl_->ReapIfEnded(true);
    impl_->pid = -1;
    impl_->reaped = false;
    impl_->exitCode = -1;
    return false;
  }
  return true;
}

bool TProcess::Started() const {
  std::lock_guard<std::mutex> guard(impl_->lock);
  return impl_->pid >= 0;
}

int TProcess::Pid() const {
  std::lock_guard<std::mutex> guard(impl_->lock);
  return impl_->pid;
}

bool TProcess::IsRunning() {
  std::lock_guard<std::mutex> guard(impl_->lock);
  impl_->ReapIfEnded(false);
  return impl_->pid >= 0 && !impl_->reaped;
}

bool TProcess::Terminate() {
  std::lock_guard<std::mutex> guard(impl_->lock);
  impl_->ReapIfEnded(false);
  if (impl_->pid < 0 || impl_->reaped) return false;
  return ::kill(impl_->pid, SIGKILL) == 0;
}

int TProcess::WaitForExit() {
  pid_t pid;
  {
    std::lock_guard<std::mutex> guard(impl_->lock);
    if (impl_->pid < 0) return -1;
    if (impl_->reaped) return impl_->exitCode;
    pid = impl_->pid;
  }
  // Wait for the end without collecting the status (WNOWAIT): the pid stays
  // valid until the reap below, done under the lock.
  siginfo_t info{};
  int r;
  do {
    r = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
  } while (r < 0 && errno == EINTR);
  std::lock_guard<std::mutex> guard(impl_->lock);
  // r != 0 (ECHILD): another caller already collected the status.
  impl_->ReapIfEnded(r == 0);
  return impl_->exitCode;
}

}  // namespace ospry
