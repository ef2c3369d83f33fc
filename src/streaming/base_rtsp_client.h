// One RTSP/1.0 session with a camera over one TCP connection: DESCRIBE, SETUP of one media
// track, PLAY, PAUSE, keep-alive by OPTIONS (or GET_PARAMETER for a camera that refuses OPTIONS)
// and TEARDOWN, all on the client's own thread.
//
// The owner (a video or audio channel, an edge-storage replay task) calls Start, Disconnect,
// RequestPause and RequestPlay from its own thread; the latter two only set events, every
// request goes out and every response is read on the client thread, which is also where the
// IRTSPClientUser callbacks run. RTP over UDP is received elsewhere: the client only announces
// the client ports. In interleaved mode (2) the "$" frames are handed to the user as they come,
// while pause, play and keep-alive are served as in the other modes.
//
// Everything the connection carries goes through one reader (CRTSPMessageReader), so:
//  - a response is taken as the answer only when its CSeq is the one sent; late responses are
//    dropped and requests the server sends on its own are answered (OPTIONS) or refused (501);
//  - interleaved frames that arrive while a response is awaited are delivered;
//  - header blocks may end lines in CR LF or a bare LF; headers longer than kMaxHeaderBytes and
//    bodies longer than kMaxBodyBytes are cut, so a hostile peer cannot grow the buffer;
//  - the thread waits on the socket and its stop event together, so a stop ends any wait at
//    once (changing the receive time-out does not end a receive already waiting under Wine).
// Authentication: after a 401 the request is repeated when the challenge is of another scheme,
// when a Digest nonce is stale, or (once) when the camera names a new nonce, as it does when its
// nonce expires in the middle of a session; never more than twice, so a refused login ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/device_info.h"
#include "foundation/base_thread.h"
#include "foundation/event.h"
#include "streaming/rtcp_packet.h"
#include "streaming/rtp_packet.h"
#include "streaming/rtsp_message_reader.h"
#include "streaming/rtsp_response_parser.h"
#include "streaming/rtsp_stream_parser.h"

namespace vantrel {

class IDriver;

enum RtspTransportMode : uint32_t {
  kRtspTransportUdp = 0,
  kRtspTransportTcp = 1,
  kRtspTransportInterleaved = 2,  // RTP inside the RTSP connection
};

enum RtspAuthMode : uint32_t {
  kRtspAuthNone = 0,
  kRtspAuthBasic = 1,
  kRtspAuthDigest = 2,
};

// What the owner hands to Start; the client keeps a copy.
struct RTSPConnectionParams {
  uint16_t serverPort = 554;
  uint16_t clientRtpPort = 0;
  uint16_t clientRtcpPort = 0;
  std::string host;
  std::string user;
  std::string password;
  uint32_t connectTimeoutMs = 5000;
  uint32_t receiveTimeoutMs = 5000;      // SO_RCVTIMEO
  uint32_t receiveBufferSize = 65536;    // SO_RCVBUF
  uint32_t sendTimeoutMs = 1000;         // SO_SNDTIMEO
  uint32_t defaultSessionTimeoutS = 60;  // keep-alive basis when the server names none
  uint32_t authMode = kRtspAuthNone;     // replaced by the server's challenge type after a 401
  std::string urlPath;                   // path and query after the host, e.g. "?h26x=4&line=2"
  uint32_t mediaKind = kMediaVideo;      // which SDP media description to SETUP
  std::string range;                     // empty means "npt=0.000-"
  uint32_t blockSize = 0;                // sent as Blocksize when above 100

  // The camera's address, login and request time-out, as every session to it starts.
  static RTSPConnectionParams ForDevice(const DEVICE_INFO& device, uint32_t kind) {
    RTSPConnectionParams params;
    params.host = device.address;
    params.user = device.user;
    params.password = device.password;
    params.connectTimeoutMs = device.timeout;
    params.receiveTimeoutMs = device.timeout;
    params.mediaKind = kind;
    return params;
  }
};

class CBaseRTSPClient : public CBaseThread {
 public:
  static constexpr size_t kFirstReadBytes = 256;
  static constexpr size_t kReadChunkBytes = 512;
  static constexpr size_t kMaxHeaderBytes = 16384;
  static constexpr size_t kMaxBodyBytes = 1 << 20;
  static constexpr size_t kInterleavedBufferBytes = 8192;
  static constexpr uint32_t kWaitStepMs = 2000;
  static constexpr uint32_t kConnectPollMs = 100;
  static constexpr uint32_t kDisconnectReceiveTimeoutMs = 100;
  static constexpr uint32_t kMaxBasicCredentials = 99;
  static constexpr size_t kMaxBasicEncoded = 136;  // 99 characters encode to 132
  static constexpr size_t kMaxReadPerWake = 262144;
  static constexpr uint32_t kMaxAuthRetries = 2;

  // `driver` is borrowed; the driver outlives every channel and its client.
  explicit CBaseRTSPClient(IDriver* driver);
  ~CBaseRTSPClient() override;

  // Connects and starts the session thread. `user` is borrowed until Disconnect.
  bool Start(const RTSPConnectionParams& params, IRTSPClientUser* user, uint32_t transportMode);
  // Ends the session (TEARDOWN is sent by the thread on its way out) and releases the socket.
  void Disconnect();
  // Any thread: a connect in progress gives up at its next poll step, the session thread is
  // told to end, and every later Start fails at once until ResetAbort (the owner's restart).
  void Abort() {
    aborted_.store(true);
    GetStopEvent().Set();
  }
  void ResetAbort() { aborted_.store(false); }
  // Any thread: a Start waiting for its TCP connection gives up at once; the next Start tries
  // again (a replay session opened anew for every work item).
  void AbortConnect() { connectAborted_.store(true); }
  // The owner's wish outlives the session it was made for: a session opened after a request
  // starts paused or playing accordingly, so a request that meets a reconnect is not lost.
  void RequestPause() {
    pauseWanted_.store(true);
    pauseEvent_.Set();
  }
  void RequestPlay() {
    pauseWanted_.store(false);
    playEvent_.Set();
  }
  bool IsConnected() const;
  uint32_t GetSessionTimeoutMs() const;

  // The result of the last request sent by the session or the keep-alive check.
  bool LastRequestAnswered() const { return lastRequestAnswered_.load(); }
  // Set by the owner before Start; only used with transport mode 0.
  void SetMulticast(bool multicast) { multicast_ = multicast; }
  bool IsMulticast() const { return multicast_; }
  bool IsPaused() const { return paused_.load(); }
  // Read after the session ended or from the client thread (the callbacks) only.
  const CRTSPResponseParser& GetResponseParser() const { return parser_; }

  // Request URL: the Content-Base of the last DESCRIBE, else "rtsp://host:port/" + path.
  std::string GetRequestUrl() const;
  // Track URL for SETUP, from the control attribute of the selected media description.
  std::string GetTrackUrl() const;

 protected:
  void ThreadProc() override;
  // Builds the request text for a method (RtspMethod); empty for an unknown method.
  virtual void BuildRequest(std::string& out, uint32_t method);
  // Reads what the connection holds and hands it on (interleaved frames to the user, server
  // requests answered). True when the connection ended (closed or failed).
  virtual bool ReceiveInterleaved();

  bool ExecuteRequest(uint32_t method);
  bool SendRequest(uint32_t method);
  void CheckKeepAlive();
  // The last request got 403, 405 or 501 on a connection still open: refused, not unanswered.
  bool KeepAliveRefused() const;

  const RTSPConnectionParams& GetParams() const { return params_; }

 private:
  enum class Pumped { kData, kTimeout, kStopped, kClosed };

  bool Connect();
  void CloseSocket();
  Pumped Pump(uint32_t timeoutMs, bool stopAborts);
  // With `dispatch`, complete messages are handed on after each read rather than left queued.
  Pumped ReadAvailable(bool dispatch = false);
  bool SendAll(const std::string& bytes);
  bool AwaitResponse(uint32_t cseq, std::string& response);
  void Dispatch(const RtspMessage& message);
  void AnswerServerRequest(const RtspMessage& message);
  void AnswerSenderReports(const std::string& compound);
  bool SendWithAuthRetry(uint32_t method);
  bool AuthRetryWanted(uint32_t retries);
  void LogFailure(uint32_t method, bool sent);
  std::string BuildTransportLine() const;
  std::string BuildAuthorizationLine(uint32_t method);
  bool NotifySdpInfo();
  void NotifySessionEnded();
  static uint64_t Now();

  IDriver* const driver_;  // borrowed: outlives the client
  RTSPConnectionParams params_;
  CRTSPResponseParser parser_;  // used on the client thread only while the session runs
  std::atomic<uintptr_t> socket_;
  void* socketEvent_ = nullptr;  // WSAEVENT signalled when the connection has data or closed
  bool connectionClosed_ = false;
  CRTSPMessageReader reader_;
  CRTPPacket packet_;                // reused for interleaved frames
  rtcp::SequenceState rtpSequence_;  // interleaved RTP, for the receiver reports
  uint32_t ownSsrc_ = 0;
  uint64_t lastMediaTick_ = 0;  // GetTickCount64 of the last interleaved frame
  uint64_t readTicks_ = 0;      // performance counter at the first read of the last wake
  std::string sentNonce_;       // nonce of the last Digest line sent
  uint32_t nonceCount_ = 0;
  std::string cnonce_;
  bool failureLogged_ = false;               // one line per run of failures, not one per reconnect
  uint64_t lastKeepAlive_ = 0;               // FILETIME of the last keep-alive; client thread
  uint32_t keepAliveMethod_ = kRtspOptions;  // client thread, from session start
  bool otherKeepAliveTried_ = false;         // client thread, from session start
  uint32_t responseStatus_ = 0;              // of the last request; 0: no response
  IRTSPClientUser* user_ = nullptr;          // borrowed from Start until Disconnect
  std::atomic<bool> connectAborted_{false};  // AbortConnect until the next Start
  uint32_t transportMode_ = kRtspTransportUdp;
  CEvent pauseEvent_;
  CEvent playEvent_;
  std::atomic<bool> paused_{false};  // the session's media are paused (or not yet played)
  std::atomic<bool> aborted_{false};
  std::atomic<bool> pauseWanted_{false};  // what the owner last asked for
  bool resuming_ = false;                 // the next PLAY ends a PAUSE; client thread only
  bool multicast_ = false;
  std::atomic<bool> lastRequestAnswered_{false};
};

}  // namespace vantrel
