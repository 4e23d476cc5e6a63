// Runs a program of the build as a separate process and collects its output, for tests
// that use eshost and esproduce as a user would.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/BuildTree.h"

namespace estest {

struct ProcessResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class Process {
 public:
  // Starts `program` with `args`; stdout and stderr go to files read back by Wait.
  Process(const std::filesystem::path& program, const std::vector<std::string>& args);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  bool Started() const { return started_; }
  ProcessResult Wait();
  // Asks the process to stop as a service stop would (SIGTERM; a console break on Windows).
  void Stop();
  // Ends the process at once, as kill -9 does (TerminateProcess on Windows).
  void Kill();

 private:
  bool started_ = false;
  std::filesystem::path outFile_;
  std::filesystem::path errFile_;
#ifdef _WIN32
  void* process_ = nullptr;
  unsigned long processId_ = 0;
#else
  int pid_ = -1;
#endif
};

inline ProcessResult Run(const std::filesystem::path& program, const std::vector<std::string>& args) {
  Process p(program, args);
  return p.Wait();
}

// A program of the build (".exe" added on Windows).
std::filesystem::path Program(const std::string& name);

}  // namespace estest
