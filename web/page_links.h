// What the page host reads out of a loaded document besides its text: the addresses of its frames
// and whether it asks for a window of its own while loading.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "web/html_document.h"

namespace quillon::web {

// An address written in a page, made absolute against the page's own address ("http://h/a/b.html"
// and "c.html" give "http://h/a/c.html"; "/x", "//host/x", "?q", "#f" and "../x" work as in a
// browser). An address that carries its own scheme is returned as it is.
std::string ResolveAddress(std::string_view base, std::string_view reference);

// The absolute addresses of the document's frames and inline frames, in document order, against
// its <base href> when it has one; "about:" and "javascript:" sources are left out.
std::vector<std::string> FrameAddresses(const THtmlDocument& doc, std::string_view documentAddress);

// The style sheets a document links to (<link rel="stylesheet"> for the screen, in document
// order) with their absolute addresses, against its <base href> when it has one. Only http, https
// and file addresses are kept, and at most kMaxLinkedSheets of them: a page cannot make the host
// fetch without end. A sheet is read up to kMaxLinkedSheetBytes.
struct TLinkedSheet {
  const THtmlNode* link = nullptr;
  std::string address;
};
constexpr std::size_t kMaxLinkedSheets = 16;
constexpr std::size_t kMaxLinkedSheetBytes = 2u << 20;
std::vector<TLinkedSheet> LinkedStyleSheets(const THtmlDocument& doc, std::string_view documentAddress);

// True when the document opens a window as it loads: a script or an event-handler attribute that
// calls window.open.
bool AsksForNewWindow(const THtmlDocument& doc);

}  // namespace quillon::web
