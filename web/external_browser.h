// The external web browser and the shell's default action, behind one interface so that callers
// can be tested with a recorder instead of opening windows.
//
// OpenInBrowser opens an address in a new window of the external browser, driven through
// automation of the class "InternetExplorer.Application" where that class can be created, and
// through the shell's default action for the address otherwise. ShellOpen starts the default
// action for an address, a file or a "mailto:" address, with the window shown normally.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

namespace quillon::web {

// A failure of browser automation after the browser object was created.
class EAutomationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TExternalBrowser {
 public:
  virtual ~TExternalBrowser() = default;
  // postData empty: the address alone; otherwise a form post of postData.
  virtual void OpenInBrowser(const std::string& address, const std::string& postData) = 0;
  virtual void ShellOpen(const std::string& target) = 0;
};

// The platform's browser (Win32: automation with the shell as fallback; POSIX: xdg-open).
std::unique_ptr<TExternalBrowser> MakeSystemBrowser();

}  // namespace quillon::web
