#include "control/http_sender.h"

#include <algorithm>
#include <new>

namespace Web {

namespace {

constexpr DWORD kOpenRequestFlags = WINHTTP_FLAG_BYPASS_PROXY_CACHE;
constexpr DWORD kIgnoreCertificateErrors =
    SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
    SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
constexpr uint32_t kMaxConnectionsPerServer = 16;

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

DWORD SchemeForMode(uint32_t mode) {
  switch (mode) {
    case kAuthNtlm:
      return WINHTTP_AUTH_SCHEME_NTLM;
    case kAuthPassport:
      return WINHTTP_AUTH_SCHEME_PASSPORT;
    case kAuthDigest:
      return WINHTTP_AUTH_SCHEME_DIGEST;
    case kAuthNegotiate:
    case 6:
    case 7:
      return WINHTTP_AUTH_SCHEME_NEGOTIATE;
    default:
      return WINHTTP_AUTH_SCHEME_BASIC;
  }
}

bool QueryNumber(HINTERNET request, DWORD info, uint32_t& out) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (!WinHttpQueryHeaders(request, info | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX, &value,
                           &size, WINHTTP_NO_HEADER_INDEX)) {
    return false;
  }
  out = value;
  return true;
}

// A time-out or a reply that is not HTTP usually means the wrong transport for this port. A
// failed TLS handshake means the same when we tried HTTPS: an HTTP camera on port 443 answers
// the client hello with plain text or drops the connection.
bool RetriesOnOtherTransport(DWORD error, bool secure) {
  if (error == ERROR_WINHTTP_TIMEOUT || error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE) return true;
  return secure && (error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR || error == ERROR_WINHTTP_SECURE_FAILURE ||
                    error == ERROR_WINHTTP_CONNECTION_ERROR);
}

}  // namespace

CHttpSender::CHttpSender(const vantrel::DEVICE_INFO& device)
    : device_(device), secure_(device.port == 443), cnonceSource_(std::random_device{}()) {
  OpenSession();
}

CHttpSender::~CHttpSender() {
  CloseRequest();
  if (connection_) WinHttpCloseHandle(connection_);
  if (session_) WinHttpCloseHandle(session_);
}

bool CHttpSender::OpenSession() {
  session_ = WinHttpOpen(L"Vantrel::HttpSender", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                         WINHTTP_NO_PROXY_BYPASS, 0);
  if (!session_) {
    StoreError();
    return false;
  }
  const DWORD timeout = device_.timeout;
  const DWORD connections = kMaxConnectionsPerServer;
  struct Option {
    DWORD id;
    const DWORD* value;
  };
  const Option options[] = {
      {WINHTTP_OPTION_RECEIVE_TIMEOUT, &timeout},
      {WINHTTP_OPTION_RESOLVE_TIMEOUT, &timeout},
      {WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &timeout},
      {WINHTTP_OPTION_SEND_TIMEOUT, &timeout},
      {WINHTTP_OPTION_CONNECT_TIMEOUT, &timeout},
      {WINHTTP_OPTION_MAX_CONNS_PER_SERVER, &connections},
      {WINHTTP_OPTION_MAX_CONNS_PER_1_0_SERVER, &connections},
  };
  for (const Option& option : options) {
    DWORD value = *option.value;
    if (!WinHttpSetOption(session_, option.id, &value, sizeof(value))) {
      // The session stays usable with the platform's defaults for the remaining options.
      StoreError();
      break;
    }
  }
  return true;
}

void CHttpSender::StoreError() { lastError_ = GetLastError(); }

HINTERNET CHttpSender::TakeRequest() { return request_.exchange(nullptr); }

void CHttpSender::CloseRequest() {
  if (HINTERNET request = TakeRequest()) WinHttpCloseHandle(request);
}

void CHttpSender::Abort() {
  aborted_ = true;
  CloseRequest();
}

bool CHttpSender::SendRequest(const HttpRequest& request) {
  if (aborted_) {
    CloseRequest();
    statusCode_ = 0;
    contentLength_ = 0;
    lastError_ = ERROR_WINHTTP_OPERATION_CANCELLED;
    return false;
  }
  // Two passes at most: the second only after a 401 taught us the camera's scheme, and a
  // learned scheme never asks for a third.
  for (int pass = 0; pass < 2; ++pass) {
    bool secure = secure_;
    AttemptResult result = SendOnce(request, secure);
    if (result == AttemptResult::kRetryOtherTransport && !aborted_) {
      // Typically an HTTP camera on port 443, or the reverse: the other transport gets one try.
      secure = !secure;
      result = SendOnce(request, secure);
    }
    if (result == AttemptResult::kAnswered || result == AttemptResult::kRetryWithLearnedScheme)
      secure_ = secure;
    if (result == AttemptResult::kRetryWithLearnedScheme && !aborted_) continue;
    return result == AttemptResult::kAnswered;
  }
  return false;
}

CHttpSender::AttemptResult CHttpSender::SendOnce(const HttpRequest& request, bool secure) {
  // The second round answers a Digest challenge (or a stale nonce) the first one provoked.
  bool digestRetry = false;
  AttemptResult result = SendRound(request, secure, digestRetry);
  if (digestRetry && !aborted_) result = SendRound(request, secure, digestRetry);
  return result;
}

bool CHttpSender::ReadDigestChallenge(HINTERNET handle) {
  // A camera may offer several challenges, one header each.
  for (DWORD index = 0; index < 16;) {
    DWORD size = 0;
    DWORD current = index;
    WinHttpQueryHeaders(handle, WINHTTP_QUERY_WWW_AUTHENTICATE, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                        &current);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > 16384) return false;
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    current = index;
    if (!WinHttpQueryHeaders(handle, WINHTTP_QUERY_WWW_AUTHENTICATE, WINHTTP_HEADER_NAME_BY_INDEX,
                             value.data(), &size, &current)) {
      return false;
    }
    value.resize(size / sizeof(wchar_t));
    std::string text;
    for (wchar_t c : value) text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    if (auto challenge = ParseDigestChallenge(text)) {
      digest_ = std::move(challenge);
      digestNonceCount_ = 0;
      return true;
    }
    if (current == index) return false;
    index = current;
  }
  return false;
}

CHttpSender::AttemptResult CHttpSender::SendRound(const HttpRequest& request, bool secure,
                                                  bool& digestRetry) {
  const bool firstRound = !digestRetry;
  digestRetry = false;
  CloseRequest();
  statusCode_ = 0;
  contentLength_ = 0;
  lastError_ = 0;

  if (!session_ && !OpenSession()) return AttemptResult::kFailed;
  if (!connection_) {
    std::wstring host = Widen(device_.address);
    connection_ = WinHttpConnect(session_, host.c_str(), static_cast<INTERNET_PORT>(device_.port), 0);
    if (!connection_) {
      StoreError();
      return AttemptResult::kFailed;
    }
  }

  DWORD openFlags = kOpenRequestFlags;
  if (request.flags & kRequestRawQuery) openFlags |= WINHTTP_FLAG_ESCAPE_DISABLE_QUERY;
  if (secure) openFlags |= WINHTTP_FLAG_SECURE;
  std::wstring verb = Widen(request.verb);
  std::wstring path = Widen(request.path);
  HINTERNET handle = WinHttpOpenRequest(connection_, verb.c_str(), path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES, openFlags);
  if (!handle) {
    StoreError();
    return AttemptResult::kFailed;
  }
  request_.store(handle);
  if (aborted_) {
    // Abort ran while the handle was being opened and could not see it.
    CloseRequest();
    lastError_ = ERROR_WINHTTP_OPERATION_CANCELLED;
    return AttemptResult::kFailed;
  }

  DWORD usedScheme = 0;
  bool sentDigest = false;
  if (!device_.user.empty() && request.authMode != kAuthNone) {
    usedScheme = learnedScheme_ ? learnedScheme_ : SchemeForMode(request.authMode);
    if (usedScheme == WINHTTP_AUTH_SCHEME_DIGEST) {
      if (digest_) {
        const std::string cnonce = std::to_string(cnonceSource_()) + std::to_string(cnonceSource_());
        const std::string line =
            "Authorization: " + BuildDigestAuthorization(*digest_, device_.user, device_.password,
                                                         request.verb, request.path, ++digestNonceCount_,
                                                         cnonce);
        std::wstring header = Widen(line);
        if (!WinHttpAddRequestHeaders(handle, header.c_str(), static_cast<DWORD>(header.size()),
                                      WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
          StoreError();
          CloseRequest();
          return AttemptResult::kFailed;
        }
        sentDigest = true;
      }
    } else {
      std::wstring user = Widen(device_.user);
      std::wstring password = Widen(device_.password);
      if (!WinHttpSetCredentials(handle, WINHTTP_AUTH_TARGET_SERVER, usedScheme, user.c_str(),
                                 password.c_str(), nullptr)) {
        StoreError();
        CloseRequest();
        return AttemptResult::kFailed;
      }
    }
  }
  if (secure && (request.flags & kRequestIgnoreCertErrors)) {
    DWORD value = kIgnoreCertificateErrors;
    if (!WinHttpSetOption(handle, WINHTTP_OPTION_SECURITY_FLAGS, &value, sizeof(value))) {
      StoreError();
      CloseRequest();
      return AttemptResult::kFailed;
    }
  }
  if (request.flags & kRequestNoRedirects) {
    DWORD value = WINHTTP_DISABLE_REDIRECTS;
    if (!WinHttpSetOption(handle, WINHTTP_OPTION_DISABLE_FEATURE, &value, sizeof(value))) {
      StoreError();
      CloseRequest();
      return AttemptResult::kFailed;
    }
  }
  for (const std::string& line : request.headers) {
    std::wstring header = Widen(line);
    if (!WinHttpAddRequestHeaders(handle, header.c_str(), static_cast<DWORD>(header.size()),
                                  WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
      StoreError();
      CloseRequest();
      return AttemptResult::kFailed;
    }
  }

  const DWORD bodyLength = static_cast<DWORD>(request.body.size());
  const DWORD totalLength = std::max<DWORD>(request.totalLength, bodyLength);
  LPVOID body = request.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<uint8_t*>(request.body.data());
  if (!WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, bodyLength, totalLength, 0)) {
    StoreError();
    CloseRequest();
    return RetriesOnOtherTransport(lastError_, secure) ? AttemptResult::kRetryOtherTransport
                                                       : AttemptResult::kFailed;
  }
  if (bodyLength < request.totalLength || (request.flags & kRequestNoResponse))
    return AttemptResult::kAnswered;

  if (!WinHttpReceiveResponse(handle, nullptr)) {
    StoreError();
    CloseRequest();
    // The request went out: a camera that does not answer in time will not answer the other
    // transport either, and trying would double the wait (and outlast a stop's grace).
    if (lastError_ == ERROR_WINHTTP_TIMEOUT) return AttemptResult::kFailed;
    return RetriesOnOtherTransport(lastError_, secure) ? AttemptResult::kRetryOtherTransport
                                                       : AttemptResult::kFailed;
  }
  QueryNumber(handle, WINHTTP_QUERY_STATUS_CODE, statusCode_);
  if (statusCode_ != HTTP_STATUS_NO_CONTENT)
    QueryNumber(handle, WINHTTP_QUERY_CONTENT_LENGTH, contentLength_);

  if (statusCode_ == HTTP_STATUS_DENIED && usedScheme == WINHTTP_AUTH_SCHEME_DIGEST && firstRound &&
      ReadDigestChallenge(handle) && (!sentDigest || digest_->stale)) {
    CloseRequest();
    digestRetry = true;
    return AttemptResult::kFailed;
  }

  if (statusCode_ == HTTP_STATUS_DENIED && learnedScheme_ == 0) {
    DWORD supported = 0, first = 0, target = 0;
    bool queried = WinHttpQueryAuthSchemes(handle, &supported, &first, &target);
    if (!queried) StoreError();
    if (queried) learnedScheme_ = first;
    CloseRequest();
    // The same scheme again would only earn the same refusal.
    if (!queried || first == 0 || first == usedScheme) return AttemptResult::kFailed;
    return AttemptResult::kRetryWithLearnedScheme;
  }
  return AttemptResult::kAnswered;
}

bool CHttpSender::WriteData(const uint8_t* data, uint32_t size) {
  HINTERNET handle = request_.load();
  if (!handle) return false;
  DWORD written = 0;
  if (!WinHttpWriteData(handle, data, size, &written)) {
    StoreError();
    return false;
  }
  return written == size;
}

uint32_t CHttpSender::GetAvailableData() {
  HINTERNET handle = request_.load();
  if (!handle) return 0;
  DWORD available = 0;
  if (!WinHttpQueryDataAvailable(handle, &available)) {
    StoreError();
    return 0;
  }
  return available;
}

uint32_t CHttpSender::Receive(std::vector<uint8_t>& data, uint32_t maxCount, bool clear) {
  if (clear) data.clear();
  HINTERNET handle = request_.load();
  if (!handle || maxCount == 0) return 0;
  const size_t old = data.size();
  try {
    data.resize(old + maxCount);
  } catch (const std::bad_alloc&) {
    lastError_ = ERROR_NOT_ENOUGH_MEMORY;
    return 0;
  }
  DWORD got = 0;
  if (!WinHttpReadData(handle, data.data() + old, maxCount, &got)) {
    StoreError();
    got = 0;
  }
  data.resize(old + got);
  return got;
}

uint32_t CHttpSender::ReceiveAll(std::vector<uint8_t>& data) {
  if (contentLength_ > kMaxBodyBudget) {
    lastError_ = ERROR_NOT_ENOUGH_MEMORY;
    return static_cast<uint32_t>(data.size());
  }
  uint32_t remaining = contentLength_ ? contentLength_ : kDefaultBodyBudget;
  while (remaining > 0) {
    HINTERNET handle = request_.load();
    if (!handle) break;
    // Ask first and read only what is there: a read for more than has arrived waits for the
    // rest, and a timed-out read leaves its buffer undefined.
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(handle, &available)) {
      StoreError();
      if (lastError_ == ERROR_WINHTTP_TIMEOUT && data.size() > contentLength_) data.resize(contentLength_);
      break;
    }
    if (available == 0) break;
    const uint32_t piece = std::min({remaining, kReadPieceSize, static_cast<uint32_t>(available)});
    const size_t old = data.size();
    try {
      data.resize(old + piece);
    } catch (const std::bad_alloc&) {
      lastError_ = ERROR_NOT_ENOUGH_MEMORY;
      data.resize(old);
      break;
    }
    DWORD got = 0;
    if (!WinHttpReadData(handle, data.data() + old, piece, &got)) {
      StoreError();
      // What a timed-out read left in the buffer is undefined, so none of it is kept.
      data.resize(old);
      if (lastError_ == ERROR_WINHTTP_TIMEOUT && data.size() > contentLength_) data.resize(contentLength_);
      break;
    }
    data.resize(old + got);
    if (got == 0) break;
    remaining -= std::min<uint32_t>(got, remaining);
  }
  return static_cast<uint32_t>(data.size());
}

}  // namespace Web
