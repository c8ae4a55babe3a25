// A peer program of a two-process test: started from the folder of the test executable with
// the given arguments, watched while it runs, and waited for at the end (also on destruction).
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

#include <filesystem>
#include <string>
#include <vector>

#include "util/platform.h"

namespace quillon::engine::testing {

#ifdef _WIN32
// One argument as the program's runtime splits a command line back: backslashes are doubled where
// a quote follows them (a folder's trailing one included), a quote is escaped.
inline std::string QuotedArgument(const std::string& arg) {
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, '\\');
  return out + "\"";
}
#endif

class TPeerProcess {
 public:
  // `program` without extension; it lives beside the test executable.
  TPeerProcess(const std::string& program, std::vector<std::string> args) {
    std::filesystem::path self = platform::ExecutablePath();
#ifdef _WIN32
    path_ = (self.parent_path() / (program + ".exe")).string();
#else
    path_ = (self.parent_path() / program).string();
#endif
    args.insert(args.begin(), path_);
#ifdef _WIN32
    std::string command;
    for (const auto& a : args) command += QuotedArgument(a) + " ";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    started_ = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_) != 0;
#else
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    started_ = posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) == 0;
#endif
  }
  ~TPeerProcess() {
    Wait();
  }
  TPeerProcess(const TPeerProcess&) = delete;
  TPeerProcess& operator=(const TPeerProcess&) = delete;

  const std::string& Path() const {
    return path_;
  }
  bool Started() const {
    return started_;
  }

  bool Running() {
    if (!started_ || exited_) return false;
#ifdef _WIN32
    if (WaitForSingleObject(pi_.hProcess, 0) != WAIT_OBJECT_0) return true;
    Wait();
#else
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    exited_ = true;
#endif
    return false;
  }

  // Waits for the end (on Windows at most timeoutMs) and answers the exit code, -1 when the
  // program never started.
  int Wait(unsigned timeoutMs = 120000) {
    if (!started_ || exited_) return code_;
#ifdef _WIN32
    WaitForSingleObject(pi_.hProcess, timeoutMs);
    DWORD code = 1;
    GetExitCodeProcess(pi_.hProcess, &code);
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
    code_ = static_cast<int>(code);
#else
    (void)timeoutMs;
    int status = 0;
    waitpid(pid_, &status, 0);
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    exited_ = true;
    return code_;
  }

  // Ends the program at once, as a crash or a kill would, and waits for it.
  void Kill() {
    if (!started_ || exited_) return;
#ifdef _WIN32
    TerminateProcess(pi_.hProcess, 9);
#else
    kill(pid_, SIGKILL);
#endif
    Wait();
  }

 private:
  std::string path_;
  bool started_ = false, exited_ = false;
  int code_ = -1;
#ifdef _WIN32
  PROCESS_INFORMATION pi_{};
#else
  pid_t pid_ = 0;
#endif
};

}  // namespace quillon::engine::testing
