#pragma once
// Starting and watching other programs (the launcher starts the viewer).
#include <memory>
#include <string>
#include <vector>

namespace ospry {

// Splits a command-line argument string: blanks separate arguments, and a
// double-quoted stretch keeps its blanks ("a b" c -> [a b], [c]).
std::vector<std::string> SplitArguments(const std::string& arguments);

// A started child process. Destroying the object does not end the process.
// Threading: IsRunning, Terminate and WaitForExit may be called from different
// threads at once (one waiter at a time).
class TProcess {
public:
  TProcess();
  ~TProcess();
  TProcess(const TProcess&) = delete;
  TProcess& operator=(const TProcess&) = delete;

  // Starts program with the arguments of the argument string in the working
  // folder (empty: the current one). False when it could not be started.
  bool Start(const std::string& program, const std::string& arguments,
             const std::string& workingFolder);
  bool Started() const;
  int Pid() const;
  bool IsRunning();
  // Ends the process at once (SIGKILL). True when it was running.
  bool Terminate();
  // Blocks until the process has ended; returns its exit code (128 + signal
  // when it was killed), or -1 when nothing was started.
  int WaitForExit();

private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace ospry
