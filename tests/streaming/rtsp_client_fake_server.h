// A scripted RTSP peer for client tests: a Winsock listener on 127.0.0.1 that accepts one
// connection, records every request and answers each through a test-supplied function. An
// answer can also carry raw bytes (interleaved frames) or ask for the connection to close.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_listener.h"

namespace vantrel::testing {

struct FakeReply {
  std::string text;     // sent as is; empty sends nothing
  bool close = false;   // close the connection after sending
  bool silent = false;  // keep the connection but never answer again
};

class RtspFakeServer {
 public:
  using Handler = std::function<FakeReply(const std::string& request, size_t index)>;

  explicit RtspFakeServer(Handler handler) : handler_(std::move(handler)) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = ::vantrel::testing::ListenOnLoopback(1, port_);
    thread_ = std::thread([this] { Serve(); });
  }

  ~RtspFakeServer() {
    closesocket(listener_);
    {
      std::lock_guard<std::mutex> guard(mutex_);
      stopping_ = true;
      if (peer_ != INVALID_SOCKET) shutdown(peer_, SD_BOTH);
    }
    if (thread_.joinable()) thread_.join();
    WSACleanup();
  }

  uint16_t Port() const { return port_; }

  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> guard(mutex_);
    return requests_;
  }

  // Waits (bounded) until at least `count` requests came in.
  bool WaitForRequests(size_t count, int timeoutMs = 10000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return requests_.size() >= count; });
  }

  // Sends bytes on the open connection from the test thread (interleaved data).
  bool SendRaw(const std::string& bytes) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (peer_ == INVALID_SOCKET) return false;
    return send(peer_, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size());
  }

 private:
  void Serve() {
    SOCKET peer = accept(listener_, nullptr, nullptr);
    if (peer == INVALID_SOCKET) return;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      peer_ = peer;
      if (stopping_) shutdown(peer_, SD_BOTH);
    }
    std::string pending;
    bool silent = false;
    char buffer[4096];
    for (;;) {
      int got = recv(peer, buffer, sizeof(buffer), 0);
      if (got <= 0) break;
      pending.append(buffer, static_cast<size_t>(got));
      size_t end;
      while ((end = pending.find("\r\n\r\n")) != std::string::npos) {
        std::string request = pending.substr(0, end + 4);
        pending.erase(0, end + 4);
        size_t index;
        {
          std::lock_guard<std::mutex> guard(mutex_);
          requests_.push_back(request);
          index = requests_.size() - 1;
        }
        changed_.notify_all();
        if (silent) continue;
        FakeReply reply = handler_(request, index);
        if (!reply.text.empty()) {
          std::lock_guard<std::mutex> guard(mutex_);
          send(peer, reply.text.data(), static_cast<int>(reply.text.size()), 0);
        }
        silent = reply.silent;
        if (reply.close) {
          std::lock_guard<std::mutex> guard(mutex_);
          closesocket(peer_);
          peer_ = INVALID_SOCKET;
          return;
        }
      }
    }
    std::lock_guard<std::mutex> guard(mutex_);
    closesocket(peer_);
    peer_ = INVALID_SOCKET;
  }

  Handler handler_;
  SOCKET listener_ = INVALID_SOCKET;
  SOCKET peer_ = INVALID_SOCKET;  // guarded by mutex_
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> requests_;  // guarded by mutex_
  bool stopping_ = false;
  std::thread thread_;
};

// A plain answer: status line, CSeq echoed from the request, extra header lines, and a body.
inline std::string RtspAnswer(const std::string& request, const std::string& status,
                              const std::string& headers, const std::string& body = std::string()) {
  std::string cseq;
  size_t at = request.find("CSeq: ");
  if (at != std::string::npos) cseq = request.substr(at + 6, request.find("\r\n", at) - at - 6);
  std::string text = "RTSP/1.0 " + status + "\r\nCSeq: " + cseq + "\r\n" + headers;
  if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return text + "\r\n" + body;
}

inline std::string RequestMethod(const std::string& request) { return request.substr(0, request.find(' ')); }

}  // namespace vantrel::testing
