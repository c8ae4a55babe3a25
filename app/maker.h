// The maker's addresses: web site, its host name as shown to the user, download pages of bases,
// and e-mail.
#pragma once

#include <string>

namespace quillon::app {

inline constexpr char kMakerSite[] = "http://www.pelmora.example/";
inline constexpr char kMakerHost[] = "www.pelmora.example";
inline constexpr char kMakerEmail[] = "quillon@pelmora.example";
inline constexpr char kMakerLine[] = "Copyright \xA9 Pelmora Software";

// The download page of a base that is not installed.
inline std::string BaseDownloadPage(const std::string& name) {
  return std::string(kMakerSite) + "lyrics/" + name + ".html";
}

}  // namespace quillon::app
