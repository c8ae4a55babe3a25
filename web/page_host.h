// The page host: loads web pages out of sight and keeps the loaded document's text.
//
// A navigation runs on a worker thread of its own: it fetches the address with the system's
// HTTP client (redirects followed, our user agent, time-outs, the session's cookies), parses the
// page, fetches the frames and inline frames of the top document (one level), and hands its
// notifications to the thread that created the host, through that thread's message loop, in
// this order: progress changes while the top document arrives; a new-window request when the
// page opens a window as it loads (the host never opens one, whatever the answer); one document
// complete per frame; one document complete for the top document. The top document's text is
// available from the moment the frames' notifications start.
//
// Rules:
//  1. A navigation started while another runs replaces it: none of the old one's notifications
//     arrive after Navigate returns. Stop does the same without starting another.
//  2. An address that is blank after trimming does nothing.
//  3. A page that cannot be fetched completes with no document (empty text); an HTTP error page
//     is a document like any other.
//  4. A page is read up to the navigation's byte limit and cut there: what a page may cost in
//     memory and parsing time is bounded before it is read.
//  5. The navigation's text work, when given, runs on the worker over the top document's body
//     text, so that however large the text, the host's thread only receives the result
//     (WorkedText, from the first document complete of that navigation on).
//
// Thread rules: create, use and destroy a host on one thread that runs a message loop; the event
// handlers run on that thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace quillon::web {

// What one navigation may read, and what its worker makes of the page's text.
struct TNavigation {
  static constexpr std::size_t kDefaultPageLimit = 32u << 20;
  std::size_t pageLimit = kDefaultPageLimit;  // bytes of a document read at most
  // Runs on the worker thread with the top document's body text; it must touch nothing the
  // host's thread changes. An exception it throws leaves the worked text empty.
  std::function<std::string(const std::string& bodyText)> textWork;
};

class TPageHost {
 public:
  TPageHost();
  ~TPageHost();
  TPageHost(const TPageHost&) = delete;
  TPageHost& operator=(const TPageHost&) = delete;

  void Navigate(const std::string& address) { Navigate(address, TNavigation{}); }
  void Navigate(const std::string& address, TNavigation navigation);
  // Drops the running navigation: none of its notifications arrive any more, and its worker ends
  // at its next read. The worked text is emptied.
  void Stop();
  // The body text of the current top document (see THtmlDocument::BodyText); empty when there is
  // none, it is not HTML or it has no body.
  std::string DocumentBodyText() const;
  // Address of the current top document after redirects; empty before the first one.
  std::string DocumentAddress() const;
  // The result of the current navigation's text work; empty until its top document is read, and
  // when the navigation has no text work.
  std::string WorkedText() const;

  // progress and progressMax in bytes; progressMax is the announced length, or an estimate that
  // grows with the bytes read when the server announces none.
  std::function<void(int progress, int progressMax)> OnProgressChange;
  // Set cancel to refuse the window (it is refused either way).
  std::function<void(bool& cancel)> OnNewWindow2;
  // address: the frame's or the top document's; top: whether it is the top document.
  std::function<void(const std::string& address, bool top)> OnDocumentComplete;

  // The user agent the host sends.
  static const char* UserAgent();

  struct TState;  // shared with the navigation workers; defined by the implementation

 private:
  std::shared_ptr<TState> state_;
};

}  // namespace quillon::web
