// Test support: a small HTTP server on 127.0.0.1 (a free port) inside the test process, serving
// fixed responses by path, one thread per connection; paths it does not know get a 404 page.
#pragma once

#include <windows.h>
#include <winsock2.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillon::web::testing {

// One response of the test server; a slow one sends its body in pieces with pauses between.
struct TResponse {
  std::string status = "200 OK";
  std::vector<std::string> headers;
  std::string body;
  int slowPieces = 0;  // >0: the body goes out in this many pieces, 200 ms apart, without a length
};

class TTestServer {
 public:
  TTestServer() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    int size = sizeof addr;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &size);
    port_ = ntohs(addr.sin_port);
    listen(listener_, 16);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }
  ~TTestServer() {
    stopping_ = true;
    closesocket(listener_);
    acceptor_.join();
    for (std::thread& t : workers_) t.join();
    WSACleanup();
  }

  std::string Address(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  void Route(const std::string& path, TResponse response) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = std::move(response);
  }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  int Port() const { return port_; }

 private:
  void AcceptLoop() {
    while (!stopping_) {
      SOCKET client = accept(listener_, nullptr, nullptr);
      if (client == INVALID_SOCKET) break;
      std::lock_guard<std::mutex> lock(mutex_);
      workers_.emplace_back([this, client] { Serve(client); });
    }
  }
  void Serve(SOCKET client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      int n = recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, n);
    }
    std::string path = request.substr(request.find(' ') + 1);
    path = path.substr(0, path.find(' '));
    TResponse response;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request.substr(0, request.find("\r\n\r\n")));
      auto it = routes_.find(path);
      if (it != routes_.end()) {
        response = it->second;
      } else {
        response.status = "404 Not Found";
        response.headers = {"Content-Type: text/html"};
        response.body = "<html><body><h1>Not Found</h1><p>No page " + path + "</p></body></html>";
      }
    }
    std::string head = "HTTP/1.1 " + response.status + "\r\nConnection: close\r\n";
    for (const std::string& h : response.headers) head += h + "\r\n";
    if (response.slowPieces == 0) head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    head += "\r\n";
    send(client, head.data(), static_cast<int>(head.size()), 0);
    if (response.slowPieces == 0) {
      send(client, response.body.data(), static_cast<int>(response.body.size()), 0);
    } else {
      std::size_t piece = response.body.size() / response.slowPieces + 1;
      for (std::size_t at = 0; at < response.body.size() && !stopping_; at += piece) {
        std::string part = response.body.substr(at, piece);
        if (send(client, part.data(), static_cast<int>(part.size()), 0) <= 0) break;
        Sleep(200);
      }
    }
    shutdown(client, SD_SEND);
    closesocket(client);
  }

  SOCKET listener_;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::thread> workers_;
  std::map<std::string, TResponse> routes_;
  std::vector<std::string> requests_;
};

inline TResponse Html(const std::string& body, const std::string& contentType = "text/html") {
  TResponse r;
  r.headers = {"Content-Type: " + contentType};
  r.body = body;
  return r;
}

}  // namespace quillon::web::testing
