#include "rcpplus/rtp_streamer.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <vector>

namespace rcpplus {

namespace {

constexpr uint32_t kPollMs = 100;
constexpr size_t kMaxResponseHead = 8192;
constexpr uint32_t kByeSendTimeoutMs = 200;
constexpr uint16_t kConnectionTag = 0xFFCC;

std::atomic<uint32_t> nextClientId{0x5A000001};

SOCKET AsSocket(uintptr_t s) { return static_cast<SOCKET>(s); }

// Non-blocking connect bounded by `timeoutMs` (polled, so that `aborted` ends it early). The
// socket stays non-blocking, so that every send waits in short selects that a stop or an abort
// can end (Wine does not end a blocked send when another thread shuts the socket down).
SOCKET ConnectWithin(const std::string& host, uint16_t port, uint32_t timeoutMs,
                     const std::atomic<bool>& aborted) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
    return INVALID_SOCKET;
  SOCKET s = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
  if (s == INVALID_SOCKET) {
    freeaddrinfo(found);
    return INVALID_SOCKET;
  }
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  bool connected = connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0;
  freeaddrinfo(found);
  if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!aborted.load()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      const long step = static_cast<long>(std::min<long long>(left.count(), kPollMs));
      fd_set writable, failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(s, &writable);
      FD_SET(s, &failed);
      timeval tv{0, step * 1000};
      const int ready = select(0, nullptr, &writable, &failed, &tv);
      if (ready == 0) continue;
      connected = ready > 0 && FD_ISSET(s, &writable) && !FD_ISSET(s, &failed);
      break;
    }
    connected = connected && !aborted.load();
  }
  if (!connected) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  BOOL noDelay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
  return s;
}

}  // namespace

RcpClient::RcpClient()
    : clientId_(nextClientId.fetch_add(1)), socket_(static_cast<uintptr_t>(INVALID_SOCKET)) {
  WSADATA data;
  winsockStarted_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

RcpClient::~RcpClient() {
  Stop(false);
  if (winsockStarted_) WSACleanup();
}

void RcpClient::SetConnectionCallback(ConnectionCallback callback, void* context) {
  std::lock_guard<std::mutex> guard(callbackLock_);
  connectionCallback_ = callback;
  connectionContext_ = context;
}

void RcpClient::unregisterCallback(ConnectionCallback callback, void* context) {
  std::unique_lock<std::mutex> lock(callbackLock_);
  if (connectionCallback_ == callback && connectionContext_ == context) {
    connectionCallback_ = nullptr;
    connectionContext_ = nullptr;
  }
  WaitForCallbacks(lock);
}

bool RcpClient::isReceiveThread() const { return receiveThread_.load() == std::this_thread::get_id(); }

void RcpClient::WaitForCallbacks(std::unique_lock<std::mutex>& lock) {
  if (isReceiveThread()) return;
  callbacksIdle_.wait(lock, [this] { return callbacksInFlight_ == 0; });
}

void RcpClient::EnterCallback() { ++callbacksInFlight_; }

void RcpClient::LeaveCallback() {
  std::lock_guard<std::mutex> guard(callbackLock_);
  if (--callbacksInFlight_ == 0) callbacksIdle_.notify_all();
}

void RcpClient::disconnect() { Stop(false); }

void RcpClient::abort() {
  aborted_.store(true);
  std::lock_guard<std::mutex> guard(socketLock_);
  const SOCKET s = AsSocket(socket_.load());
  if (s != INVALID_SOCKET) shutdown(s, SD_BOTH);
}

void RcpClient::CloseSocket() {
  std::lock_guard<std::mutex> guard(socketLock_);
  const SOCKET s = AsSocket(socket_.exchange(static_cast<uintptr_t>(INVALID_SOCKET)));
  if (s != INVALID_SOCKET) closesocket(s);
}

bool RcpClient::Open(const std::string& host, uint16_t port, uint32_t timeoutMs, const std::string& request) {
  if (!winsockStarted_ || aborted_.load() || AsSocket(socket_.load()) != INVALID_SOCKET) return false;
  SOCKET s = ConnectWithin(host, port, timeoutMs, aborted_);
  if (s == INVALID_SOCKET) return false;
  // A camera that stops reading must not hold a sender longer than the connection's time-out.
  sendTimeoutMs_ = timeoutMs;
  {
    // Published under the lock abort takes, and only when no abort came: one that comes later
    // finds the socket and shuts it down.
    std::lock_guard<std::mutex> guard(socketLock_);
    if (aborted_.load()) {
      closesocket(s);
      return false;
    }
    socket_.store(static_cast<uintptr_t>(s));
  }
  if (!SendAll(reinterpret_cast<const uint8_t*>(request.data()), request.size())) {
    CloseSocket();
    return false;
  }
  stop_.store(false);
  try {
    thread_ = std::thread(&RcpClient::ReceiveLoop, this, timeoutMs);
  } catch (...) {
    CloseSocket();
    return false;
  }
  return true;
}

bool RcpClient::SendAll(const uint8_t* data, size_t size) {
  std::lock_guard<std::mutex> guard(sendLock_);
  SOCKET s = AsSocket(socket_.load());
  if (s == INVALID_SOCKET) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(sendTimeoutMs_.load());
  while (size > 0) {
    if (aborted_.load()) return false;
    const int chunk = static_cast<int>(size > 0x10000 ? 0x10000 : size);
    const int sent = send(s, reinterpret_cast<const char*>(data), chunk, 0);
    if (sent > 0) {
      data += sent;
      size -= static_cast<size_t>(sent);
      continue;
    }
    if (sent == 0 || WSAGetLastError() != WSAEWOULDBLOCK || std::chrono::steady_clock::now() >= deadline)
      return false;
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    timeval tv{0, static_cast<long>(kPollMs * 1000)};
    select(0, nullptr, &writable, nullptr, &tv);
  }
  return true;
}

void RcpClient::Stop(bool sayBye) {
  SOCKET s = AsSocket(socket_.load());
  if (s != INVALID_SOCKET && sayBye && alive_.load() && !aborted_.load()) {
    sendTimeoutMs_ = kByeSendTimeoutMs;
    const std::vector<uint8_t> bye = BuildBye(0);
    SendAll(bye.data(), bye.size());
  }
  alive_.store(false);
  stop_.store(true);
  if (s != INVALID_SOCKET) shutdown(s, SD_BOTH);
  // The receive thread may be the caller when a callback tears its own stream down.
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
    } else {
      thread_.join();
    }
  }
  if (s != INVALID_SOCKET) {
    std::lock_guard<std::mutex> guard(sendLock_);
    CloseSocket();
  }
}

void RcpClient::ReportConnection(uint32_t word, uint32_t clientId, uint32_t error) {
  ConnectionCallback callback = nullptr;
  void* context = nullptr;
  {
    std::lock_guard<std::mutex> guard(callbackLock_);
    callback = connectionCallback_;
    context = connectionContext_;
    if (!callback) return;
    EnterCallback();
  }
  RcpHeader header;
  header.word = word;
  header.clientId = clientId;
  header.error = error;
  RcpInputStream empty;
  struct Leave {
    RcpClient* client;
    ~Leave() { client->LeaveCallback(); }
  } leave{this};
  callback(context, &header, &empty);
}

void RcpClient::ReceiveLoop(uint32_t timeoutMs) {
  receiveThread_.store(std::this_thread::get_id());
  const SOCKET s = AsSocket(socket_.load());
  const uint32_t failureWord = (uint32_t{kConnectionTag} << 16) | 0x31;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string head;
  bool headDone = false;
  bool confirmed = false;
  FrameParser parser;
  Frame frame;
  std::vector<char> buffer(16384);

  // Before the camera confirms, every way the attempt ends is reported once; afterwards the
  // stream's users find a dead connection by its silence (video) or a failed transmit (audio).
  // An abort is our own end, as a stop is: not reported as the camera's.
  const auto stopping = [&] { return stop_.load() || aborted_.load(); };
  const auto fail = [&](uint32_t error) {
    if (!confirmed && !stopping()) ReportConnection(failureWord, clientId_, error);
    alive_.store(false);
    if (!stopping()) ended_.store(true);
  };

  while (!stopping()) {
    if (!confirmed && std::chrono::steady_clock::now() >= deadline) return fail(kErrorTimeout);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval tv{0, static_cast<long>(kPollMs * 1000)};
    const int ready = select(0, &readable, nullptr, nullptr, &tv);
    if (ready < 0) return fail(kErrorClosed);
    if (ready == 0) continue;
    const int got = recv(s, buffer.data(), static_cast<int>(buffer.size()), 0);
    // The socket is non-blocking: a readiness report without data is no end.
    if (got < 0 && WSAGetLastError() == WSAEWOULDBLOCK) continue;
    if (got <= 0) return fail(kErrorClosed);
    size_t used = 0;
    if (!headDone) {
      // Byte by byte up to the empty line, so that frames sent right behind the head stay.
      while (used < static_cast<size_t>(got) && !headDone) {
        head += buffer[used++];
        headDone = head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0;
      }
      if (!headDone) {
        if (head.size() > kMaxResponseHead) return fail(kErrorProtocol);
        continue;
      }
      const std::optional<int> status = ParseStatusLine(head);
      if (!status || *status != 101)
        return fail(status && *status == 401 ? kErrorUnauthorized : kErrorProtocol);
    }
    parser.Feed(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(buffer.data()) + used,
                                         static_cast<size_t>(got) - used));
    for (;;) {
      const FrameParser::Result result = parser.Next(frame);
      if (result == FrameParser::Result::kNeedMore) break;
      if (result == FrameParser::Result::kError) return fail(kErrorProtocol);
      if (frame.type == FrameType::kConnected && !confirmed) {
        const std::optional<ConnectedInfo> info = ParseConnected(frame.payload);
        if (!info || info->clientId != clientId_) return fail(kErrorProtocol);
        confirmed = true;
        alive_.store(info->error == 0);
        ReportConnection(info->word, info->clientId, info->error);
        if (info->error != 0) return fail(info->error);
      } else if (frame.type == FrameType::kPacket && confirmed) {
        OnPacket(frame.payload[0], frame.payload.data() + 1, static_cast<uint32_t>(frame.payload.size() - 1));
      } else if (frame.type == FrameType::kBye) {
        return fail(kErrorClosed);
      } else {
        return fail(kErrorProtocol);
      }
    }
  }
}

RtpStreamer::RtpStreamer(const char* url, uint16_t mode) : mode_(mode) {
  StreamUrl parsed;
  if (url && ParseStreamUrl(url, parsed) && parsed.scheme == "http") {
    valid_ = true;
    host_ = parsed.host;
    port_ = parsed.port;
    if (!parsed.user.empty()) authorization_ = EncodeBase64(parsed.user + ":" + parsed.password);
  }
}

RtpStreamer::~RtpStreamer() {
  // The receive thread calls OnPacket: it must be gone before this part of the object is.
  Stop(false);
}

bool RtpStreamer::connectVideo(uint32_t timeoutMs, uint16_t coding, uint8_t value, uint32_t arg1,
                               uint32_t arg2, ConnectionCallback callback, void* context) {
  if (!valid_ || requested_) return false;
  requested_ = true;
  SetConnectionCallback(callback, context);
  std::string request =
      "GET /rcpplus/stream HTTP/1.1\r\nHost: " + host_ + ":" + std::to_string(port_) + "\r\n";
  if (!authorization_.empty()) request += "Authorization: Basic " + authorization_ + "\r\n";
  request += "Connection: Upgrade\r\nUpgrade: rcpplus-stream/1\r\n\r\n";
  ConnectRequest connect;
  connect.mode = mode_;
  connect.coding = coding;
  connect.value = value;
  connect.arg1 = arg1;
  connect.arg2 = arg2;
  connect.clientId = clientId();
  const std::vector<uint8_t> frame = BuildConnect(connect);
  request.append(reinterpret_cast<const char*>(frame.data()), frame.size());
  return Open(host_, port_, timeoutMs, request);
}

void RtpStreamer::registerReceiverCallback(bool enable, ReceiverCallback callback, void* context) {
  std::unique_lock<std::mutex> lock(callbackLock_);
  receiver_ = enable ? callback : nullptr;
  receiverContext_ = enable ? context : nullptr;
  if (!receiver_) WaitForCallbacks(lock);
}

void RtpStreamer::OnPacket(uint8_t payloadType, const uint8_t* bytes, uint32_t length) {
  ReceiverCallback callback = nullptr;
  void* context = nullptr;
  {
    std::lock_guard<std::mutex> guard(callbackLock_);
    callback = receiver_;
    context = receiverContext_;
    if (!callback) return;
    EnterCallback();
  }
  // The user's code (and through it the host's frame callback) runs without our lock, so a
  // host that stops or pauses from another thread meanwhile only waits for this call to end.
  struct Leave {
    RtpStreamer* client;
    ~Leave() { client->LeaveCallback(); }
  } leave{this};
  callback(context, payloadType, bytes, length);
}

uint32_t RtpStreamer::transmit(uint8_t payloadType, const uint8_t* data, uint32_t length,
                               uint32_t /*flags*/) {
  if (!Alive() || !data || length == 0) return 0;
  const std::vector<uint8_t> frame = BuildTransmit(payloadType, std::span<const uint8_t>(data, length));
  if (frame.empty() || !SendAll(frame.data(), frame.size())) return 0;
  return length;
}

void RtpStreamer::disconnectVideo() { Stop(true); }

}  // namespace rcpplus
