// Frame addresses and window requests of a loaded document (see page_links.h).
#include "web/page_links.h"

#include <algorithm>

#include "util/text.h"

namespace quillon::web {

namespace {

// Length of the scheme and its ":" at the start of an address, 0 when it has none.
std::size_t SchemeLength(std::string_view a) {
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c == ':') return i > 0 ? i + 1 : 0;
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
              (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
    if (!ok) return 0;
  }
  return 0;
}

// Removes "." and ".." segments from a path that starts with "/".
std::string NormalisePath(std::string_view path) {
  std::vector<std::string> segments;
  std::size_t i = 1;
  bool endsWithSlash = false;
  while (i <= path.size()) {
    std::size_t end = path.find('/', i);
    if (end == std::string_view::npos) end = path.size();
    std::string_view seg = path.substr(i, end - i);
    endsWithSlash = seg == "." || seg == "..";
    if (seg == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (seg != ".") {
      segments.emplace_back(seg);
    }
    i = end + 1;
  }
  std::string out;
  for (const std::string& s : segments) out += "/" + s;
  if (endsWithSlash || out.empty()) out += "/";
  return out;
}

void Collect(const THtmlNode& node, std::vector<const THtmlNode*>& frames, const THtmlNode*& base) {
  if (node.Kind() != THtmlNode::TKind::Element) return;
  if (node.Name() == "frame" || node.Name() == "iframe") frames.push_back(&node);
  if (node.Name() == "base" && !base && node.Attribute("href")) base = &node;
  for (const THtmlNode* child : node.Children()) Collect(*child, frames, base);
}

bool CallsWindowOpen(const THtmlNode& node) {
  if (node.Kind() != THtmlNode::TKind::Element) return false;
  if (node.Name() == "script") {
    for (const THtmlNode* child : node.Children())
      if (child->Kind() == THtmlNode::TKind::Text && child->Text().find("window.open") != std::string::npos)
        return true;
  }
  for (std::size_t i = 0; i < node.AttributeCount(); ++i) {
    const THtmlAttribute& a = node.AttributeAt(i);
    if (a.name.substr(0, 2) == "on" && a.value.find("window.open") != std::string_view::npos) return true;
  }
  return std::any_of(node.Children().begin(), node.Children().end(),
                     [](const THtmlNode* child) { return CallsWindowOpen(*child); });
}

}  // namespace

std::string ResolveAddress(std::string_view base, std::string_view reference) {
  std::string ref = Trim(reference);
  if (SchemeLength(ref) > 0) return ref;
  std::size_t schemeLength = SchemeLength(base);
  std::string_view scheme = base.substr(0, schemeLength);  // "http:"
  if (ref.rfind("//", 0) == 0) return std::string(scheme) + ref;
  // Authority: from after "//" to the next "/", "?" or "#".
  std::size_t authorityStart = base.compare(schemeLength, 2, "//") == 0 ? schemeLength + 2 : schemeLength;
  std::size_t pathStart = base.find_first_of("/?#", authorityStart);
  if (pathStart == std::string_view::npos) pathStart = base.size();
  std::string origin(base.substr(0, pathStart));
  std::string_view rest = base.substr(pathStart);
  std::size_t queryStart = rest.find_first_of("?#");
  std::string_view path = rest.substr(0, queryStart == std::string_view::npos ? rest.size() : queryStart);
  if (path.empty()) path = "/";
  if (ref.empty()) return std::string(base.substr(0, base.find('#')));
  if (ref[0] == '#') return std::string(base.substr(0, base.find('#'))) + ref;
  if (ref[0] == '?') return origin + std::string(path) + ref;
  std::size_t refQuery = ref.find_first_of("?#");
  std::string refPath = ref.substr(0, refQuery);
  std::string refTail = refQuery == std::string::npos ? "" : ref.substr(refQuery);
  std::string merged = refPath[0] == '/' ? refPath : std::string(path.substr(0, path.rfind('/') + 1)) + refPath;
  return origin + NormalisePath(merged) + refTail;
}

std::vector<std::string> FrameAddresses(const THtmlDocument& doc, std::string_view documentAddress) {
  std::vector<const THtmlNode*> frames;
  const THtmlNode* base = nullptr;
  Collect(doc.Root(), frames, base);
  std::string baseAddress(documentAddress);
  if (base) baseAddress = ResolveAddress(documentAddress, *base->Attribute("href"));
  std::vector<std::string> out;
  for (const THtmlNode* frame : frames) {
    const std::string_view* src = frame->Attribute("src");
    if (!src || Trim(*src).empty()) continue;
    std::string lower = LowerAsciiText(Trim(*src));
    if (lower.rfind("about:", 0) == 0 || lower.rfind("javascript:", 0) == 0) continue;
    out.push_back(ResolveAddress(baseAddress, *src));
  }
  return out;
}

std::vector<TLinkedSheet> LinkedStyleSheets(const THtmlDocument& doc, std::string_view documentAddress) {
  std::vector<const THtmlNode*> frames;
  const THtmlNode* base = nullptr;
  Collect(doc.Root(), frames, base);
  std::string baseAddress(documentAddress);
  if (base) baseAddress = ResolveAddress(documentAddress, *base->Attribute("href"));
  std::vector<TLinkedSheet> out;
  for (const THtmlNode* link : doc.StyleSheetLinks()) {
    std::string_view href = *link->Attribute("href");
    if (Trim(href).empty()) continue;
    std::string address = ResolveAddress(baseAddress, href);
    std::string lower = LowerAsciiText(address);
    if (lower.rfind("http://", 0) != 0 && lower.rfind("https://", 0) != 0 && lower.rfind("file:", 0) != 0) continue;
    out.push_back({link, std::move(address)});
    if (out.size() == kMaxLinkedSheets) break;
  }
  return out;
}

bool AsksForNewWindow(const THtmlDocument& doc) {
  return CallsWindowOpen(doc.Root());
}

}  // namespace quillon::web
