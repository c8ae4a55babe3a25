// Rule selection by site key; see site_keys.h.
#include "web/site_keys.h"

#include "util/text.h"

namespace quillon::web {

int SiteRuleOf(std::string_view baseDir) {
  if (PosText(kSiteKeys[0], baseDir) > 0 || PosText("default", baseDir) > 0) return 1;
  for (std::size_t i = 1; i < kSiteKeys.size(); ++i)
    if (PosText(kSiteKeys[i], baseDir) > 0) return static_cast<int>(i) + 1;
  return 0;
}

}  // namespace quillon::web
