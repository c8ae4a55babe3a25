// Test support: an external browser that records what it was asked to open.
#pragma once

#include <string>
#include <vector>

#include "web/external_browser.h"

namespace quillon::web::testing {

class TRecordingBrowser : public TExternalBrowser {
 public:
  void OpenInBrowser(const std::string& address, const std::string& postData) override {
    browsed.push_back(address);
    posts.push_back(postData);
  }
  void ShellOpen(const std::string& target) override { opened.push_back(target); }

  std::vector<std::string> browsed;  // OpenInBrowser addresses
  std::vector<std::string> posts;
  std::vector<std::string> opened;  // ShellOpen targets
};

}  // namespace quillon::web::testing
