#include "streaming/base_rtsp_client.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "control/md5.h"
#include "core/driver_services.h"
#include "foundation/text_format.h"
#include "streaming/base64.h"

namespace vantrel {

namespace {

constexpr uintptr_t kNoSocket = static_cast<uintptr_t>(INVALID_SOCKET);
constexpr const char* kVersion = "RTSP/1.0\r\n";
constexpr const char* kUserAgent = "User-Agent: Vantrel\r\n";

const char* MethodName(uint32_t method) {
  switch (method) {
    case kRtspDescribe:
      return "DESCRIBE";
    case kRtspSetup:
      return "SETUP";
    case kRtspPlay:
      return "PLAY";
    case kRtspTeardown:
      return "TEARDOWN";
    case kRtspOptions:
      return "OPTIONS";
    case kRtspPause:
      return "PAUSE";
    default:
      return nullptr;
  }
}

bool SetSocketTimeout(SOCKET s, int option, uint32_t ms) {
  DWORD value = ms;
  return setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&value), sizeof(value)) == 0;
}

// Content-Length from a header block: digits only, anything else (or an overflowing number)
// counts as 0 so a garbage value never becomes a buffer size.
size_t ContentLength(const std::string& headers) {
  std::string lower(headers);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  size_t at = lower.find("content-length");
  if (at == std::string::npos) return 0;
  at += std::strlen("content-length");
  while (at < lower.size() && (lower[at] == ' ' || lower[at] == '\t')) ++at;
  if (at >= lower.size() || lower[at] != ':') return 0;
  ++at;
  while (at < lower.size() && (lower[at] == ' ' || lower[at] == '\t')) ++at;
  size_t value = 0;
  size_t digits = 0;
  for (; at < lower.size() && lower[at] >= '0' && lower[at] <= '9'; ++at, ++digits) {
    value = value * 10 + static_cast<size_t>(lower[at] - '0');
    if (value > CBaseRTSPClient::kMaxBodyBytes) return CBaseRTSPClient::kMaxBodyBytes;
  }
  if (digits == 0) return 0;
  if (at < lower.size() && lower[at] != '\r' && lower[at] != '\n' && lower[at] != ' ' && lower[at] != '\t')
    return 0;
  return value;
}

// Stands in for a missing user so the session code needs no null checks.
class NullClientUser : public IRTSPClientUser {
 public:
  bool SdpInfoReceived(const SdpInfo&) override { return true; }
  void OnInterleavedPacket(const CRTPPacket&) override {}
  void OnSessionEnded() override {}
};
NullClientUser g_nullUser;

}  // namespace

CBaseRTSPClient::CBaseRTSPClient(IDriver* driver) : CBaseThread(driver), driver_(driver), socket_(kNoSocket) {
  // Reference-counted by Winsock, so the owner's own start-up and ours do not interfere.
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
}

CBaseRTSPClient::~CBaseRTSPClient() {
  Disconnect();
  WSACleanup();
}

bool CBaseRTSPClient::Start(const RTSPConnectionParams& params, IRTSPClientUser* user,
                            uint32_t transportMode) {
  // A second Start without Disconnect would leak the first socket under a running thread.
  if (IsConnected() || IsRunning()) Disconnect();
  parser_.Reset();
  params_ = params;
  user_ = user;
  transportMode_ = transportMode;
  if (!Connect()) {
    Disconnect();
    return false;
  }
  std::string address = driver_ ? driver_->GetDeviceAddress() : params_.host;
  if (!StartThread(FormatText("RTSP Client Thread (%s)", address.c_str()))) {
    Disconnect();
    return false;
  }
  return true;
}

void CBaseRTSPClient::Disconnect() {
  uintptr_t s = socket_.load();
  if (s != kNoSocket) SetSocketTimeout(static_cast<SOCKET>(s), SO_RCVTIMEO, kDisconnectReceiveTimeoutMs);
  StopThread(2 * std::max(params_.receiveTimeoutMs, params_.sendTimeoutMs) + 1000);
  CloseSocket();
  lastKeepAlive_ = 0;
  user_ = nullptr;
}

bool CBaseRTSPClient::IsConnected() const { return socket_.load() != kNoSocket; }

uint32_t CBaseRTSPClient::GetSessionTimeoutMs() const {
  uint32_t seconds =
      parser_.GetSessionTimeout() ? parser_.GetSessionTimeout() : params_.defaultSessionTimeoutS;
  return seconds * 1000;
}

void CBaseRTSPClient::CloseSocket() {
  uintptr_t s = socket_.exchange(kNoSocket);
  if (s != kNoSocket) closesocket(static_cast<SOCKET>(s));
}

bool CBaseRTSPClient::Connect() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  int bufferSize = static_cast<int>(std::min<uint32_t>(params_.receiveBufferSize, 0x7FFFFFFF));
  if (setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bufferSize), sizeof(bufferSize)) !=
          0 ||
      !SetSocketTimeout(s, SO_RCVTIMEO, params_.receiveTimeoutMs) ||
      !SetSocketTimeout(s, SO_SNDTIMEO, params_.sendTimeoutMs)) {
    closesocket(s);
    return false;
  }
  const hostent* host = params_.host.empty() ? nullptr : gethostbyname(params_.host.c_str());
  if (!host || host->h_addrtype != AF_INET || !host->h_addr_list || !host->h_addr_list[0]) {
    closesocket(s);
    return false;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(params_.serverPort);
  std::memcpy(&address.sin_addr, host->h_addr_list[0], sizeof(address.sin_addr));

  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  bool connected = connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
    // Polled in short steps so a refused or failed connect is noticed at once (Windows reports
    // it in the except set) while a slow one may take up to the connect time-out.
    for (uint32_t polls = params_.connectTimeoutMs / kConnectPollMs; polls > 0; --polls) {
      fd_set writable, failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(s, &writable);
      FD_SET(s, &failed);
      timeval step{0, static_cast<long>(kConnectPollMs * 1000)};
      int ready = select(0, nullptr, &writable, &failed, &step);
      if (ready == SOCKET_ERROR || FD_ISSET(s, &failed)) break;
      if (ready > 0 && FD_ISSET(s, &writable)) {
        int error = 0;
        int length = sizeof(error);
        connected =
            getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error == 0;
        break;
      }
    }
  }
  if (!connected) {
    closesocket(s);
    return false;
  }
  u_long blocking = 0;
  ioctlsocket(s, FIONBIO, &blocking);
  socket_.store(static_cast<uintptr_t>(s));
  return true;
}

std::string CBaseRTSPClient::GetRequestUrl() const {
  const std::string& base = parser_.GetContentBase();
  if (base.find("rtsp://") != std::string::npos) return base;
  size_t skip = params_.urlPath.find_first_not_of('/');
  std::string path = skip == std::string::npos ? std::string() : params_.urlPath.substr(skip);
  return FormatText("rtsp://%s:%u/", params_.host.c_str(), static_cast<unsigned>(params_.serverPort)) + path;
}

std::string CBaseRTSPClient::GetTrackUrl() const {
  const MediaDescription* media = parser_.GetSdpInfo().Media(params_.mediaKind);
  std::string url = GetRequestUrl();
  if (!media || media->control.empty()) return url;
  const std::string& control = media->control;
  if (control.find("://") != std::string::npos) return control;
  if (!url.empty() && url.back() == '/') url.pop_back();
  if (control.front() != '/') url += '/';
  return url + control;
}

std::string CBaseRTSPClient::BuildTransportLine() const {
  const MediaDescription* media = parser_.GetSdpInfo().Media(params_.mediaKind);
  std::string protocol = media ? media->protocol : std::string();
  if (protocol == "RTP/AVP" && transportMode_ <= kRtspTransportInterleaved)
    protocol = transportMode_ == kRtspTransportUdp ? "RTP/AVP/UDP" : "RTP/AVP/TCP";
  bool multicast = transportMode_ == kRtspTransportUdp && multicast_;
  std::string line = "Transport: " + protocol + (multicast ? ";multicast" : ";unicast");
  if (multicast) {
    unsigned port = media ? media->port : 0;
    line += FormatText(";client_port=%u-%u", port, port + 1);
  } else if (transportMode_ == kRtspTransportUdp || transportMode_ == kRtspTransportTcp) {
    line += FormatText(";client_port=%u-%u", static_cast<unsigned>(params_.clientRtpPort),
                       static_cast<unsigned>(params_.clientRtcpPort));
  }
  return line + "\r\n";
}

std::string CBaseRTSPClient::BuildAuthorizationLine(uint32_t method) const {
  try {
    if (params_.authMode == kRtspAuthBasic) {
      std::string credentials = params_.user + ":" + params_.password;
      if (credentials.size() > kMaxBasicCredentials) credentials.resize(kMaxBasicCredentials);
      std::string encoded = Base64Encode(credentials);
      if (encoded.size() >= kMaxBasicEncoded) return {};
      return "Authorization: Basic " + encoded + "\r\n";
    }
    if (params_.authMode == kRtspAuthDigest) {
      // The URI is the request URL even for SETUP, whose request line names the track.
      std::string uri = GetRequestUrl();
      const char* name = MethodName(method);
      if (parser_.GetChallengeType() != kChallengeDigest || parser_.GetRealm().empty() ||
          parser_.GetNonce().empty() || params_.user.empty() || params_.password.empty() || uri.empty() ||
          !name)
        return {};
      std::string ha1 = Md5Hex(params_.user + ":" + parser_.GetRealm() + ":" + params_.password);
      std::string ha2 = Md5Hex(std::string(name) + ":" + uri);
      std::string response = Md5Hex(ha1 + ":" + parser_.GetNonce() + ":" + ha2);
      return FormatText(
          "Authorization: Digest username=\"%s\", realm=\"%s\", nonce=\"%s\", uri=\"%s\", "
          "response=\"%s\"\r\n",
          params_.user.c_str(), parser_.GetRealm().c_str(), parser_.GetNonce().c_str(), uri.c_str(),
          response.c_str());
    }
  } catch (...) {
    // A request without credentials is answered with a challenge; nothing to report here.
  }
  return {};
}

void CBaseRTSPClient::BuildRequest(std::string& out, uint32_t method) {
  out.clear();
  if (!MethodName(method)) return;
  uint32_t cseq = parser_.GetCSeq() + 1;
  parser_.SetCSeq(cseq);
  std::string cseqLine = FormatText("CSeq: %u\r\n", cseq);
  std::string auth = BuildAuthorizationLine(method);
  std::string session =
      parser_.GetSessionId().empty() ? std::string() : "Session: " + parser_.GetSessionId() + "\r\n";
  std::string range =
      "Range: " + (params_.range.empty() ? std::string("npt=0.000-") : params_.range) + "\r\n";
  std::string blockSize =
      params_.blockSize > 100 ? FormatText("Blocksize: %u\r\n", params_.blockSize) : std::string();
  std::string url = GetRequestUrl();
  switch (method) {
    case kRtspDescribe:
      out = FormatText("DESCRIBE %s %s%s%s%s%s\r\n", url.c_str(), kVersion, cseqLine.c_str(), auth.c_str(),
                       kUserAgent, "Accept: application/sdp\r\n");
      break;
    case kRtspSetup:
      out = FormatText("SETUP %s %s%s%s%s%s%s\r\n", GetTrackUrl().c_str(), kVersion, cseqLine.c_str(),
                       auth.c_str(), kUserAgent, BuildTransportLine().c_str(), blockSize.c_str());
      break;
    case kRtspPlay:
      // A PLAY that ends a PAUSE names no range: a live source cannot seek back to the start,
      // and a camera asked to may leave the request unanswered.
      out = FormatText("PLAY %s %s%s%s%s%s%s%s\r\n", url.c_str(), kVersion, cseqLine.c_str(), auth.c_str(),
                       kUserAgent, session.c_str(), resuming_ ? "" : range.c_str(), blockSize.c_str());
      break;
    case kRtspTeardown:
      out = FormatText("TEARDOWN %s %s%s%s%s%s\r\n", url.c_str(), kVersion, cseqLine.c_str(), auth.c_str(),
                       kUserAgent, session.c_str());
      break;
    case kRtspOptions:
      out = FormatText("OPTIONS %s %s%s%s%s%s\r\n", url.c_str(), kVersion, cseqLine.c_str(), auth.c_str(),
                       kUserAgent, session.c_str());
      break;
    case kRtspPause:
      out = FormatText("PAUSE %s %s%s%s%s%s%s\r\n", url.c_str(), kVersion, cseqLine.c_str(), auth.c_str(),
                       kUserAgent, session.c_str(), range.c_str());
      break;
  }
}

bool CBaseRTSPClient::ReadResponse(std::string& response) {
  response.clear();
  SOCKET s = static_cast<SOCKET>(socket_.load());
  char buffer[kReadChunkBytes];
  size_t expected = kReadChunkBytes;
  size_t headerEnd = std::string::npos;
  size_t ask = kFirstReadBytes;
  for (;;) {
    int got = recv(s, buffer, static_cast<int>(ask), 0);
    if (got <= 0) break;
    response.append(buffer, static_cast<size_t>(got));
    if (headerEnd == std::string::npos) {
      headerEnd = response.find("\r\n\r\n");
      if (headerEnd != std::string::npos) {
        expected = headerEnd + 4 + ContentLength(response.substr(0, headerEnd + 2));
      } else if (response.size() >= expected) {
        // A header block past one chunk: keep reading, bounded, rather than leave the rest
        // of this response on the connection to corrupt the next one.
        expected = std::min(response.size() + kReadChunkBytes, kMaxHeaderBytes);
      }
    }
    if (response.size() >= expected) break;
    ask = std::min(expected - response.size(), kReadChunkBytes);
  }
  return !response.empty();
}

bool CBaseRTSPClient::SendRequest(uint32_t method) {
  uintptr_t s = socket_.load();
  if (s == kNoSocket) return false;
  std::string request;
  BuildRequest(request, method);
  if (request.empty()) return false;
  int sent = send(static_cast<SOCKET>(s), request.data(), static_cast<int>(request.size()), 0);
  if (sent < 0 || static_cast<size_t>(sent) < request.size()) return false;
  if (method == kRtspPlay && transportMode_ == kRtspTransportInterleaved) return ReceiveInterleaved();
  std::string response;
  if (!ReadResponse(response)) return false;
  return parser_.Parse(method, response);
}

bool CBaseRTSPClient::ExecuteRequest(uint32_t method) {
  if (method != kRtspTeardown && IsStopRequested()) return false;
  bool sent = SendRequest(method);
  if (sent && parser_.GetStatusCode() == 401 && parser_.GetChallengeType() != params_.authMode) {
    params_.authMode = parser_.GetChallengeType();
    sent = SendRequest(method);
  }
  lastRequestAnswered_.store(sent);
  uint32_t status = parser_.GetStatusCode();
  return sent && status >= 200 && status <= 299;
}

void CBaseRTSPClient::CheckKeepAlive() {
  uint64_t now = Now();
  uint32_t periodS =
      parser_.GetSessionTimeout() ? parser_.GetSessionTimeout() : params_.defaultSessionTimeoutS;
  // A session that never had a keep-alive is due at once: the elapsed time since "never" has
  // no meaningful 32-bit value.
  uint32_t elapsedMs = lastKeepAlive_ ? static_cast<uint32_t>((now - lastKeepAlive_) / 10000) : 0xFFFFFFFFu;
  if (elapsedMs <= periodS * 1000 / 2 || IsStopRequested()) return;
  bool sent = SendRequest(kRtspOptions);
  if (sent && parser_.GetStatusCode() == 401 && parser_.GetChallengeType() != params_.authMode) {
    params_.authMode = parser_.GetChallengeType();
    sent = SendRequest(kRtspOptions);
  }
  lastRequestAnswered_.store(sent);
  lastKeepAlive_ = now;
}

bool CBaseRTSPClient::ReceiveInterleaved() {
  IRTSPClientUser* user = user_ ? user_ : &g_nullUser;
  CRTSPStreamParser stream(user, parser_.GetInterleavedChannel());
  SOCKET s = static_cast<SOCKET>(socket_.load());
  std::vector<char> buffer(kInterleavedBufferBytes);
  for (;;) {
    int got = recv(s, buffer.data(), static_cast<int>(buffer.size()), 0);
    if (got <= 0) return true;
    if (IsStopRequested()) return false;
    try {
      stream.Process(reinterpret_cast<const uint8_t*>(buffer.data()), static_cast<size_t>(got));
    } catch (...) {
      // The user's packet handler threw; the connection itself is still good.
    }
  }
}

bool CBaseRTSPClient::NotifySdpInfo() {
  if (!user_) return true;
  try {
    return user_->SdpInfoReceived(parser_.GetSdpInfo());
  } catch (...) {
    return false;
  }
}

void CBaseRTSPClient::NotifySessionEnded() {
  if (!user_) return;
  try {
    user_->OnSessionEnded();
  } catch (...) {
    // The session is over either way.
  }
}

void CBaseRTSPClient::ThreadProc() {
  pauseEvent_.Reset();
  playEvent_.Reset();
  if (!ExecuteRequest(kRtspDescribe)) {
    NotifySessionEnded();
    return;
  }
  if (ExecuteRequest(kRtspSetup) && NotifySdpInfo()) {
    // Until the first PLAY the session's media do not flow.
    paused_.store(true);
    resuming_ = false;
    if (!pauseWanted_.load()) playEvent_.Set();
    CEvent* events[] = {&GetStopEvent(), &pauseEvent_, &playEvent_};
    for (;;) {
      int which = WaitForEvents(events, 3, kWaitStepMs);
      if (which == 0) break;
      // A pause and a play requested in quick succession wake the thread twice; only the last
      // wish counts, and a session already in that state is left alone.
      if (which == 1) {
        if (pauseWanted_.load() && !paused_.load() && ExecuteRequest(kRtspPause)) {
          paused_.store(true);
          resuming_ = true;
        }
      } else if (which == 2) {
        if (!pauseWanted_.load() && paused_.load()) {
          paused_.store(false);
          ExecuteRequest(kRtspPlay);
          resuming_ = false;
        }
      } else if (which < 0) {
        // Time-out, or a failed wait: either way a keep-alive check is what keeps the session.
        if (IsStopRequested()) break;
        CheckKeepAlive();
      }
    }
  }
  ExecuteRequest(kRtspTeardown);
  NotifySessionEnded();
}

uint64_t CBaseRTSPClient::Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
}

}  // namespace vantrel
