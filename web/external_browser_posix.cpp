// The external browser where there is no automation: both operations hand the address to the
// desktop's opener (xdg-open) and do not wait for it. Post data cannot be passed this way and is
// dropped; no caller of the program sends any.
#include <spawn.h>
#include <sys/wait.h>

#include "web/external_browser.h"

extern char** environ;

namespace quillon::web {

namespace {

void Launch(const std::string& target) {
  std::string program = "xdg-open";
  char* argv[] = {program.data(), const_cast<char*>(target.c_str()), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0)
    throw EAutomationError("Cannot start the web browser for " + target);
  int status;
  waitpid(pid, &status, 0);  // xdg-open itself returns at once
}

class TPosixBrowser : public TExternalBrowser {
 public:
  void OpenInBrowser(const std::string& address, const std::string&) override { Launch(address); }
  void ShellOpen(const std::string& target) override { Launch(target); }
};

}  // namespace

std::unique_ptr<TExternalBrowser> MakeSystemBrowser() {
  return std::make_unique<TPosixBrowser>();
}

}  // namespace quillon::web
