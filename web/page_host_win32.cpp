// The page host over WinINet (see page_host.h).
//
// Each navigation gets a generation number and a detached worker thread that owns its WinINet
// handles. Workers queue notices in the shared state and wake the host's message-only window;
// the window procedure, on the host's thread, hands out the notices of the current generation
// one at a time and drops the rest. A replaced worker notices the new generation between two
// reads and stops; until then its notices are dropped. The shared state lives as long as the
// host or any worker, so a worker may outlive the host.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "util/text.h"
#include "web/html_document.h"
#include "web/page_host.h"
#include "web/page_links.h"

namespace quillon::web {

namespace {

constexpr UINT kNoticeMessage = WM_APP + 1;  // a worker queued a notice (no parameters)
constexpr char kWindowClass[] = "QuillonPageHostSink";
constexpr DWORD kTimeoutMs = 30000;
constexpr std::size_t kMaxFrames = 32;
constexpr DWORD kChunkBytes = 16384;

struct TNotice {
  enum class TKind { Progress, Ready, NewWindow, Complete };
  TKind kind = TKind::Progress;
  unsigned generation = 0;
  int progress = 0;
  int progressMax = 0;
  std::string text;
  std::string address;
  bool top = false;
  std::string worked;
};

struct TFetched {
  bool ok = false;
  std::string address;  // after redirects
  std::string contentType;
  std::string body;
  DWORD status = 0;  // the HTTP status; 0 where there is none (file addresses)
};

int ClampToInt(std::size_t n) {
  return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
}

}  // namespace

struct TPageHost::TState {
  std::mutex mutex;
  std::deque<TNotice> notices;  // guarded by mutex
  HWND window = nullptr;        // guarded by mutex; null once the host is gone
  std::atomic<unsigned> generation{0};
  // Host thread only.
  TPageHost* host = nullptr;
  std::string bodyText;
  std::string address;
  std::string worked;

  void Post(TNotice notice) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!window) return;
    notices.push_back(std::move(notice));
    PostMessageA(window, kNoticeMessage, 0, 0);
  }
  bool Current(unsigned g) const { return generation.load() == g; }
};

namespace {

using TStatePtr = std::shared_ptr<TPageHost::TState>;

TFetched Fetch(HINTERNET session, const std::string& address, const TStatePtr& state, unsigned generation,
               std::size_t limit, bool reportProgress) {
  TFetched result;
  result.address = address;
  const DWORD flags =
      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_UI;
  HINTERNET request = InternetOpenUrlA(session, address.c_str(), nullptr, 0, flags, 0);
  if (!request) return result;
  char text[2048];
  DWORD size = sizeof text;
  if (HttpQueryInfoA(request, HTTP_QUERY_CONTENT_TYPE, text, &size, nullptr)) result.contentType.assign(text, size);
  DWORD status = 0;
  size = sizeof status;
  if (HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
    result.status = status;
  DWORD length = 0;
  size = sizeof length;
  if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr)) length = 0;
  size = sizeof text;
  if (InternetQueryOptionA(request, INTERNET_OPTION_URL, text, &size)) result.address.assign(text, strnlen(text, size));

  std::string chunk(kChunkBytes, '\0');
  DWORD got = 0;
  while (state->Current(generation) && InternetReadFile(request, chunk.data(), kChunkBytes, &got) && got > 0) {
    result.body.append(chunk.data(), std::min<std::size_t>(got, limit - result.body.size()));
    if (result.body.size() >= limit) break;
    if (reportProgress) {
      std::size_t read = result.body.size();
      std::size_t max =
          length > 0 ? std::max<std::size_t>(length, read) : read + std::max<std::size_t>(read, kChunkBytes);
      state->Post({TNotice::TKind::Progress, generation, ClampToInt(read), ClampToInt(max), {}, {}, false});
    }
  }
  InternetCloseHandle(request);
  result.ok = true;
  if (reportProgress && state->Current(generation)) {
    int read = ClampToInt(result.body.size());
    state->Post({TNotice::TKind::Progress, generation, read, std::max(read, static_cast<int>(length)), {}, {}, false});
  }
  return result;
}

// The top document's body text and what the navigation's text work makes of it. A page too large
// for the memory left is no document, as a page that cannot be fetched.
void ReadTopDocument(HINTERNET session, const TStatePtr& state, unsigned generation, TFetched& top,
                     const TNavigation& navigation, TNotice& ready, std::unique_ptr<THtmlDocument>& doc) {
  try {
    if (top.ok && IsHtmlResponse(top.contentType, top.body)) doc = THtmlDocument::Parse(top.body, top.contentType);
  } catch (const std::bad_alloc&) {
    doc.reset();
  }
  top.body.clear();
  top.body.shrink_to_fit();
  if (!doc) return;
  if (session) {
    // The page's linked sheets decide what of its text is shown.
    for (const TLinkedSheet& sheet : LinkedStyleSheets(*doc, top.address)) {
      if (!state->Current(generation)) return;
      TFetched fetched = Fetch(session, sheet.address, state, generation, kMaxLinkedSheetBytes, false);
      // An error page, or a page served instead of the sheet, is no sheet: a browser ignores it.
      if (!fetched.ok || fetched.status >= 400 || LowerAsciiText(fetched.contentType).find("text/html") == 0) continue;
      doc->SetLinkedStyleSheet(sheet.link, std::move(fetched.body));
    }
  }
  try {
    ready.text = doc->BodyText();
    if (navigation.textWork) ready.worked = navigation.textWork(ready.text);
  } catch (...) {
    ready.worked.clear();
  }
}

void Navigation(TStatePtr state, unsigned generation, std::string address, TNavigation navigation) {
  HINTERNET session = InternetOpenA(TPageHost::UserAgent(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (session) {
    DWORD timeout = kTimeoutMs;
    InternetSetOptionA(session, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionA(session, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionA(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
  }
  TFetched top;
  top.address = address;
  if (session) top = Fetch(session, address, state, generation, navigation.pageLimit, true);
  if (!state->Current(generation)) {
    if (session) InternetCloseHandle(session);
    return;
  }
  std::unique_ptr<THtmlDocument> doc;
  TNotice ready{TNotice::TKind::Ready, generation, 0, 0, {}, top.address, false, {}};
  ReadTopDocument(session, state, generation, top, navigation, ready, doc);
  if (!state->Current(generation)) {
    if (session) InternetCloseHandle(session);
    return;
  }
  state->Post(std::move(ready));
  if (doc && AsksForNewWindow(*doc)) state->Post({TNotice::TKind::NewWindow, generation, 0, 0, {}, {}, false});
  if (doc) {
    std::vector<std::string> frames = FrameAddresses(*doc, top.address);
    if (frames.size() > kMaxFrames) frames.resize(kMaxFrames);
    doc.reset();
    for (const std::string& frame : frames) {
      if (!state->Current(generation)) break;
      TFetched fetched = Fetch(session, frame, state, generation, navigation.pageLimit, false);
      state->Post({TNotice::TKind::Complete, generation, 0, 0, {}, fetched.address, false});
    }
  }
  state->Post({TNotice::TKind::Complete, generation, 0, 0, {}, top.address, true});
  if (session) InternetCloseHandle(session);
}

LRESULT CALLBACK SinkProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != kNoticeMessage) return DefWindowProcA(window, msg, wParam, lParam);
  auto* state = reinterpret_cast<TPageHost::TState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (!state) return 0;
  // One notice per turn: a handler may start a navigation or run a modal loop that delivers the
  // next ones, and every notice is checked against the generation current at its turn.
  while (true) {
    TNotice notice;
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      if (state->notices.empty()) return 0;
      notice = std::move(state->notices.front());
      state->notices.pop_front();
    }
    if (!state->Current(notice.generation) || !state->host) continue;
    TPageHost& host = *state->host;
    switch (notice.kind) {
      case TNotice::TKind::Progress:
        if (host.OnProgressChange) host.OnProgressChange(notice.progress, notice.progressMax);
        break;
      case TNotice::TKind::Ready:
        state->bodyText = std::move(notice.text);
        state->address = std::move(notice.address);
        state->worked = std::move(notice.worked);
        break;
      case TNotice::TKind::NewWindow: {
        bool cancel = false;
        if (host.OnNewWindow2) host.OnNewWindow2(cancel);
        break;  // no window is ever opened
      }
      case TNotice::TKind::Complete:
        if (host.OnDocumentComplete) host.OnDocumentComplete(notice.address, notice.top);
        break;
    }
  }
}

HWND CreateSink() {
  static std::once_flag registered;
  std::call_once(registered, [] {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = SinkProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kWindowClass;
    RegisterClassA(&wc);
  });
  return CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr), nullptr);
}

}  // namespace

TPageHost::TPageHost() : state_(std::make_shared<TState>()) {
  state_->host = this;
  state_->window = CreateSink();
  SetWindowLongPtrA(state_->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state_.get()));
}

TPageHost::~TPageHost() {
  HWND window;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    window = state_->window;
    state_->window = nullptr;
    state_->notices.clear();
  }
  ++state_->generation;  // running workers stop at their next read
  state_->host = nullptr;
  if (window) {
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
  }
}

void TPageHost::Navigate(const std::string& address, TNavigation navigation) {
  if (Trim(address).empty()) return;
  unsigned generation = ++state_->generation;
  state_->worked.clear();
  std::thread(Navigation, state_, generation, address, std::move(navigation)).detach();
}

void TPageHost::Stop() {
  ++state_->generation;
  state_->worked.clear();
}

std::string TPageHost::WorkedText() const {
  return state_->worked;
}

std::string TPageHost::DocumentBodyText() const {
  return state_->bodyText;
}

std::string TPageHost::DocumentAddress() const {
  return state_->address;
}

const char* TPageHost::UserAgent() {
  return "Mozilla/4.0 (compatible; Quillon 1.7; Windows)";
}

}  // namespace quillon::web
