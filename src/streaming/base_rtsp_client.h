// One RTSP/1.0 session with a camera over one TCP connection: DESCRIBE, SETUP of one media
// track, PLAY, PAUSE, keep-alive by OPTIONS and TEARDOWN, all on the client's own thread.
//
// The owner (a video or audio channel, an edge-storage replay task) calls Start, Disconnect,
// RequestPause and RequestPlay from its own thread; the latter two only set events, every
// request goes out and every response is read on the client thread, which is also where the
// IRTSPClientUser callbacks run. RTP over UDP is received elsewhere: the client only announces
// the client ports. In interleaved mode (2) the thread stays inside PLAY while data flows and
// hands the "$" frames to the user.
//
// Camera quirks and limits accepted on purpose:
//  - a response is read until its header end plus Content-Length, with the receive time-out
//    ending a short one; headers longer than kMaxHeaderBytes and bodies longer than
//    kMaxBodyBytes are cut, so a broken or hostile peer cannot make the buffer grow unbounded;
//  - Content-Length is digits only; anything else (including a sign) counts as 0;
//  - one retry after a 401 whose challenge differs from what was sent, never a loop.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "foundation/base_thread.h"
#include "foundation/event.h"
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
  static constexpr size_t kMaxBasicEncoded = 100;

  // `driver` is borrowed; the driver outlives every channel and its client.
  explicit CBaseRTSPClient(IDriver* driver);
  ~CBaseRTSPClient() override;

  // Connects and starts the session thread. `user` is borrowed until Disconnect.
  bool Start(const RTSPConnectionParams& params, IRTSPClientUser* user, uint32_t transportMode);
  // Ends the session (TEARDOWN is sent by the thread on its way out) and releases the socket.
  void Disconnect();
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
  // The RTP-over-RTSP loop entered by PLAY in transport mode 2. True when the connection
  // ended (closed, failed or silent past the receive time-out), false when stopped.
  virtual bool ReceiveInterleaved();

  bool ExecuteRequest(uint32_t method);
  bool SendRequest(uint32_t method);
  void CheckKeepAlive();

  const RTSPConnectionParams& GetParams() const { return params_; }

 private:
  bool Connect();
  void CloseSocket();
  bool ReadResponse(std::string& response);
  std::string BuildTransportLine() const;
  std::string BuildAuthorizationLine(uint32_t method) const;
  bool NotifySdpInfo();
  void NotifySessionEnded();
  static uint64_t Now();

  IDriver* const driver_;  // borrowed: outlives the client
  RTSPConnectionParams params_;
  CRTSPResponseParser parser_;  // used on the client thread only while the session runs
  std::atomic<uintptr_t> socket_;
  uint64_t lastKeepAlive_ = 0;       // FILETIME of the last keep-alive; client thread
  IRTSPClientUser* user_ = nullptr;  // borrowed from Start until Disconnect
  uint32_t transportMode_ = kRtspTransportUdp;
  CEvent pauseEvent_;
  CEvent playEvent_;
  std::atomic<bool> paused_{false};       // the session's media are paused (or not yet played)
  std::atomic<bool> pauseWanted_{false};  // what the owner last asked for
  bool resuming_ = false;                 // the next PLAY ends a PAUSE; client thread only
  bool multicast_ = false;
  std::atomic<bool> lastRequestAnswered_{false};
};

}  // namespace vantrel
