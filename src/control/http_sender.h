// The driver's only HTTP client, on WinHTTP in synchronous mode. One sender talks to one
// camera and is used by one thread at a time; Abort may come from any thread, breaks a call
// that is blocked in WinHTTP and makes every later request fail at once until ResetAbort: an
// abort that lands between two requests of a thread is not lost.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "control/http_digest.h"
#include "core/device_info.h"

namespace Web {

// Option bits of HttpRequest::flags.
inline constexpr uint32_t kRequestRawQuery = 0x1;          // leave the query unescaped
inline constexpr uint32_t kRequestIgnoreCertErrors = 0x2;  // HTTPS only
inline constexpr uint32_t kRequestNoRedirects = 0x4;
inline constexpr uint32_t kRequestNoResponse = 0x8;  // return once sent, do not wait for the answer

// Authentication modes (HttpRequest::authMode); see the scheme table in http_sender.cpp.
inline constexpr uint32_t kAuthBasic = 0;
inline constexpr uint32_t kAuthNtlm = 1;
inline constexpr uint32_t kAuthPassport = 2;
inline constexpr uint32_t kAuthDigest = 3;
inline constexpr uint32_t kAuthNegotiate = 4;
inline constexpr uint32_t kAuthNone = 5;

inline constexpr uint32_t kTransportHttp = 0;
inline constexpr uint32_t kTransportHttps = 1;

struct HttpRequest {
  std::string verb = "GET";
  std::string path;  // with the query
  // The sender decides the transport from what worked last; this field is informational.
  uint32_t transport = kTransportHttp;
  uint32_t authMode = kAuthBasic;
  std::vector<uint8_t> body;
  // Announced length; when larger than the body the caller streams the rest with WriteData.
  uint32_t totalLength = 0;
  std::vector<std::string> headers;  // whole lines, "Name: value"
  uint32_t flags = kRequestRawQuery | kRequestIgnoreCertErrors | kRequestNoRedirects;
};

class CBaseHttpSender {
 public:
  virtual ~CBaseHttpSender() = default;
  // True when the server answered, whatever the status.
  virtual bool SendRequest(const HttpRequest& request) = 0;
  virtual void Abort() = 0;
  virtual uint32_t GetAvailableData() = 0;
  virtual uint32_t ReceiveAll(std::vector<uint8_t>& data) = 0;
  virtual uint32_t Receive(std::vector<uint8_t>& data, uint32_t maxCount, bool clear) = 0;
};

class CHttpSender : public CBaseHttpSender {
 public:
  // Reading stops here when no length was announced.
  static constexpr uint32_t kDefaultBodyBudget = 0x100000;
  // A body announced larger than this is refused rather than buffered: a camera's
  // Content-Length must not decide how much memory the driver takes.
  static constexpr uint32_t kMaxBodyBudget = 16 * 1024 * 1024;
  static constexpr uint32_t kReadPieceSize = 8192;

  explicit CHttpSender(const vantrel::DEVICE_INFO& device);
  ~CHttpSender() override;

  CHttpSender(const CHttpSender&) = delete;
  CHttpSender& operator=(const CHttpSender&) = delete;

  bool SendRequest(const HttpRequest& request) override;
  // Any thread: closes the request in flight and refuses every later one until ResetAbort.
  void Abort() override;
  // The owner, before it uses the sender again after a stop (a channel resumed or restarted).
  void ResetAbort() { aborted_ = false; }
  uint32_t GetAvailableData() override;
  uint32_t ReceiveAll(std::vector<uint8_t>& data) override;
  uint32_t Receive(std::vector<uint8_t>& data, uint32_t maxCount, bool clear) override;

  // Streams more of a request body whose announced total was larger than the body given.
  bool WriteData(const uint8_t* data, uint32_t size);
  // Closes the current request; the connection stays for the next one.
  void CloseRequest();

  uint32_t GetStatusCode() const { return statusCode_; }
  uint32_t GetContentLength() const { return contentLength_; }
  uint32_t GetLastErrorCode() const { return lastError_; }
  uint32_t GetLearnedScheme() const { return learnedScheme_; }
  bool IsSecure() const { return secure_; }
  bool IsAborted() const { return aborted_; }
  const vantrel::DEVICE_INFO& GetDeviceInfo() const { return device_; }

 private:
  enum class AttemptResult { kFailed, kRetryOtherTransport, kAnswered, kRetryWithLearnedScheme };

  bool OpenSession();
  AttemptResult SendOnce(const HttpRequest& request, bool secure);
  // One request on a fresh handle; digestRetry is set when the camera sent a Digest challenge
  // that a second round should answer.
  AttemptResult SendRound(const HttpRequest& request, bool secure, bool& digestRetry);
  bool ReadDigestChallenge(HINTERNET handle);
  void StoreError();
  HINTERNET TakeRequest();

  vantrel::DEVICE_INFO device_;
  HINTERNET session_ = nullptr;
  HINTERNET connection_ = nullptr;
  // Swapped atomically so that Abort on another thread and the owner never both close it.
  std::atomic<HINTERNET> request_{nullptr};
  uint32_t statusCode_ = 0;
  uint32_t contentLength_ = 0;
  uint32_t lastError_ = 0;
  uint32_t learnedScheme_ = 0;
  bool secure_ = false;
  std::atomic<bool> aborted_{false};
  // Digest is answered by the sender itself: the camera's latest challenge and its nonce count.
  std::optional<DigestChallenge> digest_;
  uint32_t digestNonceCount_ = 0;
  std::mt19937 cnonceSource_;
};

}  // namespace Web
