#include "streaming/base_rtsp_client.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "control/http_digest.h"
#include "control/md5.h"
#include "core/driver_services.h"
#include "foundation/hand_over_clock.h"
#include "foundation/text_format.h"
#include "streaming/base64.h"
#include "streaming/rtsp_url.h"

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
    case kRtspGetParameter:
      return "GET_PARAMETER";
    default:
      return nullptr;
  }
}

bool SetSocketTimeout(SOCKET s, int option, uint32_t ms) {
  DWORD value = ms;
  return setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&value), sizeof(value)) == 0;
}

}  // namespace

CBaseRTSPClient::CBaseRTSPClient(IDriver* driver) : CBaseThread(driver), driver_(driver), socket_(kNoSocket) {
  // Reference-counted by Winsock, so the owner's own start-up and ours do not interfere.
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  socketEvent_ = WSACreateEvent();
}

CBaseRTSPClient::~CBaseRTSPClient() {
  Disconnect();
  if (socketEvent_ != nullptr) WSACloseEvent(static_cast<WSAEVENT>(socketEvent_));
  WSACleanup();
}

bool CBaseRTSPClient::Start(const RTSPConnectionParams& params, IRTSPClientUser* user,
                            uint32_t transportMode) {
  // A second Start without Disconnect would leak the first socket under a running thread.
  if (IsConnected() || IsRunning()) Disconnect();
  connectAborted_.store(false);
  if (aborted_.load()) return false;
  parser_.Reset();
  reader_.Clear();
  connectionClosed_ = false;
  lastMediaTick_ = 0;
  sentNonce_.clear();
  nonceCount_ = 0;
  rtpSequence_.Clear();
  ownSsrc_ = std::random_device{}();
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
  // The thread waits on the socket and the stop event together, so the stop reaches it at once.
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
    for (uint32_t polls = params_.connectTimeoutMs / kConnectPollMs;
         polls > 0 && !aborted_.load() && !connectAborted_.load(); --polls) {
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
  // The socket stays non-blocking: every wait is on its event together with the stop event.
  if (socketEvent_ != nullptr) WSAResetEvent(static_cast<WSAEVENT>(socketEvent_));
  if (socketEvent_ == nullptr ||
      WSAEventSelect(s, static_cast<WSAEVENT>(socketEvent_), FD_READ | FD_CLOSE) != 0) {
    closesocket(s);
    return false;
  }
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
  return ResolveControlUrl(GetRequestUrl(), media ? media->control : std::string());
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

std::string CBaseRTSPClient::BuildAuthorizationLine(uint32_t method) {
  try {
    if (params_.authMode == kRtspAuthBasic) {
      std::string credentials = params_.user + ":" + params_.password;
      if (credentials.size() > kMaxBasicCredentials) credentials.resize(kMaxBasicCredentials);
      // One header line: a line break inside the value would end the header for the server.
      std::string encoded = Base64Encode(credentials);
      encoded.erase(
          std::remove_if(encoded.begin(), encoded.end(), [](char c) { return c == '\r' || c == '\n'; }),
          encoded.end());
      if (encoded.size() >= kMaxBasicEncoded) return {};
      return "Authorization: Basic " + encoded + "\r\n";
    }
    if (params_.authMode == kRtspAuthDigest) {
      // The digest URI is the URI of the request line it authorises: strict servers check it.
      const std::string uri = method == kRtspSetup ? GetTrackUrl() : GetRequestUrl();
      const char* name = MethodName(method);
      const Web::DigestChallenge& challenge = parser_.GetDigestChallenge();
      if (parser_.GetChallengeType() != kChallengeDigest || challenge.realm.empty() ||
          challenge.nonce.empty() || params_.user.empty() || params_.password.empty() || uri.empty() || !name)
        return {};
      if (challenge.nonce != sentNonce_) {
        sentNonce_ = challenge.nonce;
        nonceCount_ = 0;
        std::random_device random;
        cnonce_ = FormatText("%08x%08x", random(), random());
      }
      ++nonceCount_;
      return "Authorization: " +
             Web::BuildDigestAuthorization(challenge, params_.user, params_.password, name, uri, nonceCount_,
                                           cnonce_) +
             "\r\n";
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
    case kRtspGetParameter:
      out = FormatText("GET_PARAMETER %s %s%s%s%s%s\r\n", url.c_str(), kVersion, cseqLine.c_str(),
                       auth.c_str(), kUserAgent, session.c_str());
      break;
  }
}

CBaseRTSPClient::Pumped CBaseRTSPClient::Pump(uint32_t timeoutMs, bool stopAborts) {
  if (connectionClosed_ || socket_.load() == kNoSocket) return Pumped::kClosed;
  HANDLE handles[] = {static_cast<HANDLE>(socketEvent_), static_cast<HANDLE>(GetStopEvent().GetHandle())};
  DWORD woke = WaitForMultipleObjects(stopAborts ? 2 : 1, handles, FALSE, timeoutMs);
  if (woke == WAIT_OBJECT_0 + 1) return Pumped::kStopped;
  if (woke != WAIT_OBJECT_0) return Pumped::kTimeout;
  return ReadAvailable();
}

CBaseRTSPClient::Pumped CBaseRTSPClient::ReadAvailable(bool dispatch) {
  SOCKET s = static_cast<SOCKET>(socket_.load());
  if (connectionClosed_ || s == INVALID_SOCKET) return Pumped::kClosed;
  WSANETWORKEVENTS events;
  WSAEnumNetworkEvents(s, static_cast<WSAEVENT>(socketEvent_), &events);
  char buffer[16384];
  size_t total = 0;
  for (;;) {
    int got = recv(s, buffer, sizeof(buffer), 0);
    if (got > 0) {
      // Handed on chunk by chunk, a packet's arrival is the read that completed it; read in one
      // go and handed on later, everything was there by the first read.
      if (dispatch || total == 0) readTicks_ = PerformanceTicks();
      reader_.Append(buffer, static_cast<size_t>(got));
      total += static_cast<size_t>(got);
      // A backlog of several frames (the thread was held up) reaches the host frame by frame as
      // it is read, instead of after up to kMaxReadPerWake bytes.
      if (dispatch)
        while (std::optional<RtspMessage> message = reader_.Next()) Dispatch(*message);
      if (total >= kMaxReadPerWake) {
        // Hand this much on first; the event brings us back for the rest.
        WSASetEvent(static_cast<WSAEVENT>(socketEvent_));
        break;
      }
      continue;
    }
    if (got == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) break;
    connectionClosed_ = true;
    return total > 0 ? Pumped::kData : Pumped::kClosed;
  }
  return Pumped::kData;
}

bool CBaseRTSPClient::SendAll(const std::string& bytes) {
  SOCKET s = static_cast<SOCKET>(socket_.load());
  if (s == INVALID_SOCKET) return false;
  const uint64_t deadline = GetTickCount64() + params_.sendTimeoutMs;
  size_t done = 0;
  while (done < bytes.size()) {
    int sent = send(s, bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
    if (sent > 0) {
      done += static_cast<size_t>(sent);
      continue;
    }
    if (sent == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) return false;
    const uint64_t now = GetTickCount64();
    if (now >= deadline) return false;
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    const uint64_t left = std::min<uint64_t>(deadline - now, 100);
    timeval step{0, static_cast<long>(left * 1000)};
    select(0, nullptr, &writable, nullptr, &step);
  }
  return true;
}

void CBaseRTSPClient::Dispatch(const RtspMessage& message) {
  switch (message.kind) {
    case RtspMessage::Kind::kInterleaved:
      lastMediaTick_ = GetTickCount64();
      if (transportMode_ == kRtspTransportInterleaved &&
          message.channel == parser_.GetInterleavedRtcpChannel() &&
          message.channel != parser_.GetInterleavedChannel()) {
        AnswerSenderReports(message.data);
        return;
      }
      if (message.channel != parser_.GetInterleavedChannel()) return;  // a channel not ours
      if (!packet_.Parse(reinterpret_cast<const uint8_t*>(message.data.data()), message.data.size())) return;
      packet_.SetArrivalTicks(readTicks_);
      rtpSequence_.Update(packet_.GetSequenceNumber());
      try {
        if (user_) user_->OnInterleavedPacket(packet_);
      } catch (...) {
        // The user's packet handler threw; the connection itself is still good.
      }
      return;
    case RtspMessage::Kind::kRequest:
      AnswerServerRequest(message);
      return;
    case RtspMessage::Kind::kResponse:
      // A response to a request given up on; its CSeq is not the one awaited.
      return;
  }
}

void CBaseRTSPClient::AnswerServerRequest(const RtspMessage& message) {
  // RFC 2326 lets a client answer what it does not implement with 501; OPTIONS is how servers
  // check that a client is still there.
  const unsigned cseq = message.cseq.value_or(0);
  std::string answer = message.method == "OPTIONS"
                           ? FormatText("RTSP/1.0 200 OK\r\nCSeq: %u\r\nPublic: OPTIONS\r\n", cseq)
                           : FormatText("RTSP/1.0 501 Not Implemented\r\nCSeq: %u\r\n", cseq);
  if (!parser_.GetSessionId().empty()) answer += "Session: " + parser_.GetSessionId() + "\r\n";
  SendAll(answer + "\r\n");
}

void CBaseRTSPClient::AnswerSenderReports(const std::string& compound) {
  // Each sender report is answered at once on the RTCP channel, as over UDP: some cameras
  // take missing reports for a dead receiver even while the RTSP session is kept alive.
  rtcp::CCompoundReader reader(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(compound.data()), compound.size()));
  rtcp::PacketView packet;
  while (reader.Next(packet)) {
    if (packet.type != rtcp::kTypeSenderReport) continue;
    const auto report = rtcp::ReadSenderReport(packet);
    if (!report) continue;
    if (user_) user_->OnSenderReport(report->ntp, report->rtpTimestamp);
    rtcp::ReceiverReportFields fields;
    fields.versionBits = report->versionBits;
    fields.ownSsrc = ownSsrc_;
    fields.senderSsrc = report->senderSsrc;
    fields.extendedHighest = rtpSequence_.ExtendedHighest();
    fields.lsr = report->lsr;
    fields.dlsr = 0;  // answered as it arrives
    const auto rr = rtcp::BuildReceiverReport(fields);
    std::string frame = {'$', static_cast<char>(parser_.GetInterleavedRtcpChannel()), 0,
                         static_cast<char>(rr.size())};
    frame.append(reinterpret_cast<const char*>(rr.data()), rr.size());
    SendAll(frame);
  }
}

bool CBaseRTSPClient::AwaitResponse(uint32_t cseq, std::string& response) {
  // Once stopping (the TEARDOWN on the way out), the answer gets a short grace only.
  const bool stopping = IsStopRequested();
  const uint32_t limit =
      stopping ? std::min(params_.receiveTimeoutMs, kDisconnectReceiveTimeoutMs) : params_.receiveTimeoutMs;
  const uint64_t deadline = GetTickCount64() + limit;
  for (;;) {
    while (std::optional<RtspMessage> message = reader_.Next()) {
      // A response without a CSeq cannot be matched; taking it keeps such cameras working.
      // A higher one cannot be a late answer to anything we sent.
      if (message->kind == RtspMessage::Kind::kResponse && (!message->cseq || *message->cseq >= cseq)) {
        response = std::move(message->data);
        return true;
      }
      Dispatch(*message);
    }
    const uint64_t now = GetTickCount64();
    if (connectionClosed_ || now >= deadline) return false;
    if (Pump(static_cast<uint32_t>(deadline - now), !stopping) == Pumped::kStopped) return false;
  }
}

bool CBaseRTSPClient::SendRequest(uint32_t method) {
  uintptr_t s = socket_.load();
  if (s == kNoSocket || connectionClosed_) return false;
  std::string request;
  BuildRequest(request, method);
  if (request.empty()) return false;
  const uint32_t cseq = parser_.GetCSeq();
  responseStatus_ = 0;
  if (!SendAll(request)) return false;
  std::string response;
  if (!AwaitResponse(cseq, response)) return false;
  const bool parsed = parser_.Parse(method, response);
  responseStatus_ = parser_.GetStatusCode();
  // A response that named no CSeq leaves ours in place for the next request.
  if (parser_.GetCSeq() < cseq) parser_.SetCSeq(cseq);
  return parsed;
}

bool CBaseRTSPClient::AuthRetryWanted(uint32_t retries) {
  if (parser_.GetStatusCode() != 401 || retries >= kMaxAuthRetries) return false;
  if (parser_.GetChallengeType() != params_.authMode) {
    params_.authMode = parser_.GetChallengeType();
    return params_.authMode != kRtspAuthNone;
  }
  if (params_.authMode != kRtspAuthDigest) return false;
  const Web::DigestChallenge& challenge = parser_.GetDigestChallenge();
  // A stale nonce means the credentials were right; a new nonce on the first refusal is how a
  // camera ends an expired one in the middle of a session. The same nonce again is a refusal.
  return challenge.stale || (retries == 0 && challenge.nonce != sentNonce_);
}

bool CBaseRTSPClient::SendWithAuthRetry(uint32_t method) {
  bool sent = SendRequest(method);
  for (uint32_t retries = 0; sent && AuthRetryWanted(retries); ++retries) sent = SendRequest(method);
  return sent;
}

void CBaseRTSPClient::LogFailure(uint32_t method, bool sent) {
  if (failureLogged_ || !driver_ || IsStopRequested()) return;
  const std::string device = driver_->GetDeviceAddress();
  const unsigned status = parser_.GetStatusCode();
  if (sent && status == 401) {
    driver_->Log(kLogError, "%s: RTSP login refused by device %s for user \"%s\" - no video",
                 "vantrel::CBaseRTSPClient::ExecuteRequest", device.c_str(), params_.user.c_str());
  } else if (method == kRtspSetup && !sent && !connectionClosed_ && status != 0 && status != 200) {
    driver_->Log(kLogError,
                 "%s: Device %s accepted none of the offered RTSP transports (status %u) - no video",
                 "vantrel::CBaseRTSPClient::ExecuteRequest", device.c_str(), status);
  } else {
    return;
  }
  failureLogged_ = true;
}

bool CBaseRTSPClient::ExecuteRequest(uint32_t method) {
  if (method != kRtspTeardown && IsStopRequested()) return false;
  bool sent = SendWithAuthRetry(method);
  lastRequestAnswered_.store(sent);
  uint32_t status = parser_.GetStatusCode();
  const bool ok = sent && status >= 200 && status <= 299;
  if (!ok && method != kRtspTeardown) LogFailure(method, sent);
  if (ok && method == kRtspPlay) failureLogged_ = false;
  return ok;
}

void CBaseRTSPClient::CheckKeepAlive() {
  uint64_t now = Now();
  uint32_t periodS =
      parser_.GetSessionTimeout() ? parser_.GetSessionTimeout() : params_.defaultSessionTimeoutS;
  // A session that never had a keep-alive is due at once: the elapsed time since "never" has
  // no meaningful 32-bit value.
  uint32_t elapsedMs = lastKeepAlive_ ? static_cast<uint32_t>((now - lastKeepAlive_) / 10000) : 0xFFFFFFFFu;
  // The session thread looks here once a wait step, so the keep-alive is due one step before
  // half the time-out: it then never comes later than that, and a camera that names a time-out
  // of a few seconds (and enforces it) keeps the session.
  const uint32_t halfMs = periodS * 1000 / 2;
  const uint32_t dueMs = halfMs > kWaitStepMs ? halfMs - kWaitStepMs : 0;
  if (elapsedMs <= dueMs || IsStopRequested()) return;
  bool sent = SendWithAuthRetry(keepAliveMethod_);
  if (!sent && KeepAliveRefused() && !otherKeepAliveTried_) {
    // Cameras differ in which of the two they accept inside a session; the other is tried once,
    // and kept when it works.
    otherKeepAliveTried_ = true;
    const uint32_t refusedStatus = responseStatus_;
    const uint32_t other = keepAliveMethod_ == kRtspOptions ? kRtspGetParameter : kRtspOptions;
    sent = SendWithAuthRetry(other);
    if (sent) {
      keepAliveMethod_ = other;
    } else if (KeepAliveRefused() && driver_ && !IsStopRequested()) {
      const std::string device = driver_->GetDeviceAddress();
      driver_->Log(kLogInfo,
                   "%s: Device %s refuses the keep-alives %s (%u) and %s (%u); the session is kept while its "
                   "media arrive",
                   "vantrel::CBaseRTSPClient::CheckKeepAlive", device.c_str(), MethodName(keepAliveMethod_),
                   static_cast<unsigned>(refusedStatus), MethodName(other),
                   static_cast<unsigned>(responseStatus_));
    }
  }
  // A refusal is still an answer: the camera and its session are there, and the owner judges
  // the stream by its media. Media on the connection (interleaved) also outweigh a keep-alive
  // that is ignored altogether.
  if (!sent && KeepAliveRefused()) sent = true;
  if (!sent && transportMode_ == kRtspTransportInterleaved && !connectionClosed_ && !paused_.load() &&
      lastMediaTick_ != 0 && GetTickCount64() - lastMediaTick_ < params_.receiveTimeoutMs)
    sent = true;
  lastRequestAnswered_.store(sent);
  lastKeepAlive_ = now;
}

bool CBaseRTSPClient::KeepAliveRefused() const {
  return !connectionClosed_ && (responseStatus_ == 403 || responseStatus_ == 405 || responseStatus_ == 501);
}

bool CBaseRTSPClient::ReceiveInterleaved() {
  if (!connectionClosed_) ReadAvailable(true);
  while (std::optional<RtspMessage> message = reader_.Next()) Dispatch(*message);
  return connectionClosed_;
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
  keepAliveMethod_ = kRtspOptions;
  otherKeepAliveTried_ = false;
  if (!ExecuteRequest(kRtspDescribe)) {
    NotifySessionEnded();
    return;
  }
  if (ExecuteRequest(kRtspSetup) && NotifySdpInfo()) {
    // Until the first PLAY the session's media do not flow.
    paused_.store(true);
    resuming_ = false;
    if (!pauseWanted_.load()) playEvent_.Set();
    HANDLE handles[] = {static_cast<HANDLE>(GetStopEvent().GetHandle()),
                        static_cast<HANDLE>(pauseEvent_.GetHandle()),
                        static_cast<HANDLE>(playEvent_.GetHandle()), static_cast<HANDLE>(socketEvent_)};
    uint64_t lastCheckTick = GetTickCount64();
    for (;;) {
      // What arrived behind the last awaited response is already read: hand it on before
      // waiting, since the socket will not signal those bytes again.
      while (std::optional<RtspMessage> message = reader_.Next()) Dispatch(*message);
      // A connection that closed while a response was read (a camera that answers PLAY and
      // hangs up) is no longer watched: in mode 2 it was the media path, so the session ends.
      if (connectionClosed_ && transportMode_ == kRtspTransportInterleaved) {
        lastRequestAnswered_.store(false);
        break;
      }
      // The connection is watched as long as it is open: the server may send requests of its
      // own, and in mode 2 it carries the media.
      const DWORD count = connectionClosed_ ? 3 : 4;
      const DWORD woke = WaitForMultipleObjects(count, handles, FALSE, kWaitStepMs);
      if (woke == WAIT_OBJECT_0) break;
      // A pause and a play requested in quick succession wake the thread twice; only the last
      // wish counts, and a session already in that state is left alone.
      if (woke == WAIT_OBJECT_0 + 1) {
        if (pauseWanted_.load() && !paused_.load() && ExecuteRequest(kRtspPause)) {
          paused_.store(true);
          resuming_ = true;
        }
      } else if (woke == WAIT_OBJECT_0 + 2) {
        if (!pauseWanted_.load() && paused_.load()) {
          paused_.store(false);
          lastMediaTick_ = GetTickCount64();
          ExecuteRequest(kRtspPlay);
          resuming_ = false;
        }
      } else if (woke == WAIT_OBJECT_0 + 3) {
        // In mode 2 the connection is the media path: its end is the session's end. In the
        // other modes the media keep flowing and the keep-alive decides.
        if (ReceiveInterleaved() && transportMode_ == kRtspTransportInterleaved) {
          lastRequestAnswered_.store(false);
          break;
        }
      }
      if (IsStopRequested()) break;
      // Checked every wait step, also when media keep the thread busy.
      const uint64_t tick = GetTickCount64();
      if (woke == WAIT_TIMEOUT || tick - lastCheckTick >= kWaitStepMs) {
        lastCheckTick = tick;
        CheckKeepAlive();
      }
      if (transportMode_ == kRtspTransportInterleaved && !paused_.load() && lastMediaTick_ != 0 &&
          GetTickCount64() - lastMediaTick_ > params_.receiveTimeoutMs) {
        // Silent past the receive time-out while playing: the connection is as good as gone.
        lastRequestAnswered_.store(false);
        break;
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
