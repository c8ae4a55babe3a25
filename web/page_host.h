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
//     arrive after Navigate returns.
//  2. An address that is blank after trimming does nothing.
//  3. A page that cannot be fetched completes with no document (empty text); an HTTP error page
//     is a document like any other.
//
// Thread rules: create, use and destroy a host on one thread that runs a message loop; the event
// handlers run on that thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace quillon::web {

class TPageHost {
 public:
  TPageHost();
  ~TPageHost();
  TPageHost(const TPageHost&) = delete;
  TPageHost& operator=(const TPageHost&) = delete;

  void Navigate(const std::string& address);
  // The body text of the current top document (see THtmlDocument::BodyText); empty when there is
  // none, it is not HTML or it has no body.
  std::string DocumentBodyText() const;
  // Address of the current top document after redirects; empty before the first one.
  std::string DocumentAddress() const;

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
