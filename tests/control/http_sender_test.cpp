// Talks to tests/control/server/http_test_server.py on 127.0.0.201 (ports 80 and 443, both
// plain HTTP; user "admin", password "secret").
#include "control/http_sender.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace Web {
namespace {

using namespace std::chrono_literals;

vantrel::DEVICE_INFO Camera(uint32_t port = 80, const std::string& password = "secret",
                            uint32_t timeout = 3000) {
  vantrel::DEVICE_INFO info;
  info.address = "127.0.0.201";
  info.port = port;
  info.user = "admin";
  info.password = password;
  info.timeout = timeout;
  return info;
}

HttpRequest Get(const std::string& path, uint32_t authMode = kAuthBasic) {
  HttpRequest request;
  request.path = path;
  request.authMode = authMode;
  return request;
}

std::string Text(const std::vector<uint8_t>& data) { return std::string(data.begin(), data.end()); }

struct AuthCase {
  const char* name;
  const char* path;
  uint32_t authMode;
  const char* password;
  bool answered;
  uint32_t status;
  uint32_t learnedScheme;
  const char* body;
};

TEST(HttpSenderTest, Authentication) {
  const AuthCase cases[] = {
      {"basic", "/basic", kAuthBasic, "secret", true, 200, 0, "basic-ok"},
      {"digest asked for", "/digest", kAuthDigest, "secret", true, 200, 0, "digest-ok"},
      // The camera wants another scheme than the one tried: learned from the 401, sent again.
      {"digest learned", "/digest", kAuthBasic, "secret", true, 200, WINHTTP_AUTH_SCHEME_DIGEST, "digest-ok"},
      // The scheme already in use is refused: no second try, no loop.
      {"basic refused", "/basic", kAuthBasic, "wrong", false, 401, WINHTTP_AUTH_SCHEME_BASIC, ""},
      // After learning, a second 401 is an answer like any other status.
      {"digest refused", "/digest", kAuthBasic, "wrong", true, 401, WINHTTP_AUTH_SCHEME_DIGEST,
       "unauthorized"},
      {"no credentials", "/basic", kAuthNone, "secret", true, 401, WINHTTP_AUTH_SCHEME_BASIC, "unauthorized"},
  };
  for (const AuthCase& c : cases) {
    SCOPED_TRACE(c.name);
    CHttpSender sender(Camera(80, c.password));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sender.SendRequest(Get(c.path, c.authMode)), c.answered);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
    EXPECT_EQ(sender.GetStatusCode(), c.status);
    EXPECT_EQ(sender.GetLearnedScheme(), c.learnedScheme);
    std::vector<uint8_t> body;
    if (c.answered) sender.ReceiveAll(body);
    EXPECT_EQ(Text(body), c.body);
  }
}

TEST(HttpSenderTest, LearnedSchemeServesLaterRequests) {
  CHttpSender sender(Camera());
  ASSERT_TRUE(sender.SendRequest(Get("/digest/one")));
  ASSERT_EQ(sender.GetLearnedScheme(), static_cast<uint32_t>(WINHTTP_AUTH_SCHEME_DIGEST));
  for (const char* path : {"/digest/two", "/digest/three"}) {
    ASSERT_TRUE(sender.SendRequest(Get(path)));
    EXPECT_EQ(sender.GetStatusCode(), 200u) << path;
  }
}

TEST(HttpSenderTest, PlainHttpOnPort443FallsBackAndKeepsHttp) {
  CHttpSender sender(Camera(443, "secret", 2000));
  EXPECT_TRUE(sender.IsSecure());
  ASSERT_TRUE(sender.SendRequest(Get("/basic")));
  EXPECT_EQ(sender.GetStatusCode(), 200u);
  EXPECT_FALSE(sender.IsSecure());
  // Later requests go straight to HTTP, without paying for the failed attempt again.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(sender.SendRequest(Get("/status/200")));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
  EXPECT_FALSE(sender.IsSecure());
}

TEST(HttpSenderTest, NoContentAnnouncesNoLength) {
  CHttpSender sender(Camera());
  ASSERT_TRUE(sender.SendRequest(Get("/status/204")));
  EXPECT_EQ(sender.GetStatusCode(), 204u);
  EXPECT_EQ(sender.GetContentLength(), 0u);
  std::vector<uint8_t> body;
  EXPECT_EQ(sender.ReceiveAll(body), 0u);
}

struct BodyCase {
  const char* path;
  uint32_t expectedSize;
};

TEST(HttpSenderTest, ReceiveAllKeepsToItsBudget) {
  const BodyCase cases[] = {
      {"/body/20000", 20000},
      {"/body/0", 0},
      // No Content-Length: at most 1 MiB, however much the camera sends.
      {"/unannounced/3000000", CHttpSender::kDefaultBodyBudget},
      {"/unannounced/5000", 5000},
      // Shorter than announced: what came, then the end of the connection.
      {"/short", 10},
      // Shorter than announced with the connection held open: what came, after the time-out.
      {"/stall", 10},
      // Announced far beyond any reply: refused, nothing buffered.
      {"/huge", 0},
  };
  for (const BodyCase& c : cases) {
    SCOPED_TRACE(c.path);
    CHttpSender sender(Camera(80, "secret", 1500));
    ASSERT_TRUE(sender.SendRequest(Get(c.path)));
    std::vector<uint8_t> body;
    EXPECT_EQ(sender.ReceiveAll(body), c.expectedSize);
    EXPECT_EQ(body.size(), c.expectedSize);
  }
}

TEST(HttpSenderTest, ReceiveAllDeliversTheBytesInOrder) {
  CHttpSender sender(Camera());
  ASSERT_TRUE(sender.SendRequest(Get("/body/70000")));
  EXPECT_EQ(sender.GetContentLength(), 70000u);
  std::vector<uint8_t> body;
  ASSERT_EQ(sender.ReceiveAll(body), 70000u);
  for (size_t i = 0; i < body.size(); ++i) ASSERT_EQ(body[i], static_cast<uint8_t>(i * 7)) << i;
}

TEST(HttpSenderTest, ReceiveInPieces) {
  CHttpSender sender(Camera());
  ASSERT_TRUE(sender.SendRequest(Get("/body/5000")));
  EXPECT_GT(sender.GetAvailableData(), 0u);
  std::vector<uint8_t> body{0xEE};
  ASSERT_GT(sender.Receive(body, 100, true), 0u);
  EXPECT_EQ(body[0], 0u) << "clear flag must drop what the vector held";
  while (sender.Receive(body, 1000, false) > 0) {
  }
  ASSERT_EQ(body.size(), 5000u);
  for (size_t i = 0; i < body.size(); ++i) ASSERT_EQ(body[i], static_cast<uint8_t>(i * 7)) << i;
  EXPECT_EQ(sender.GetAvailableData(), 0u);
}

TEST(HttpSenderTest, QueryTravelsUnescaped) {
  CHttpSender sender(Camera());
  const std::string path = "/echo?command=0x0a9c&type=T_DWORD&payload=0x%20&num=1";
  ASSERT_TRUE(sender.SendRequest(Get(path)));
  std::vector<uint8_t> body;
  sender.ReceiveAll(body);
  EXPECT_EQ(Text(body), path);
}

TEST(HttpSenderTest, FailuresAreReportedNotAnswered) {
  struct FailCase {
    const char* name;
    uint32_t port;
    const char* path;
  };
  const FailCase cases[] = {
      {"connection refused", 81, "/status/200"},
      {"dropped connection", 80, "/drop"},
      {"not HTTP", 80, "/garbage"},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.name);
    CHttpSender sender(Camera(c.port, "secret", 1500));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(sender.SendRequest(Get(c.path)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_NE(sender.GetLastErrorCode(), 0u);
    std::vector<uint8_t> body;
    EXPECT_EQ(sender.ReceiveAll(body), 0u);
    EXPECT_EQ(sender.GetAvailableData(), 0u);
  }
  // A failed connect keeps no connection: the same sender works once the camera is back.
  CHttpSender sender(Camera());
  EXPECT_TRUE(sender.SendRequest(Get("/status/200")));
}

// A camera that takes the request and never answers is not on the wrong transport: trying the
// other one doubled the wait, past the grace a stop gives a thread.
TEST(HttpSenderTest, AnUnansweredRequestCostsOneTimeout) {
  constexpr uint32_t kTimeoutMs = 2000;
  for (uint32_t port : {80u, 443u}) {
    SCOPED_TRACE(port);
    CHttpSender sender(Camera(port, "secret", kTimeoutMs));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(sender.SendRequest(Get("/hang")));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kTimeoutMs * 2 - 300));
  }
}

// Closing the request handle breaks a blocked call at once on Windows; Wine's synchronous
// WinHTTP only notices at the next time-out. Either way an aborted request must end within
// one time-out and must not go on to try the other transport (which would double the wait).
TEST(HttpSenderTest, AbortFromAnotherThreadEndsAHangingRequest) {
  constexpr uint32_t kTimeoutMs = 3000;
  CHttpSender sender(Camera(80, "secret", kTimeoutMs));
  const auto start = std::chrono::steady_clock::now();
  auto sending = std::async(std::launch::async, [&] { return sender.SendRequest(Get("/hang")); });
  // One abort is enough, whether it lands before the request starts or while it waits.
  std::this_thread::sleep_for(200ms);
  sender.Abort();
  ASSERT_EQ(sending.wait_for(20s), std::future_status::ready) << "SendRequest still blocked after Abort";
  EXPECT_FALSE(sending.get());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kTimeoutMs + 2000));
  EXPECT_TRUE(sender.IsAborted());
  // The sender is usable again once its owner resets the abort.
  sender.ResetAbort();
  EXPECT_TRUE(sender.SendRequest(Get("/status/200")));
  EXPECT_FALSE(sender.IsAborted());
}

// A stop that aborts between two requests of the owner's thread must not be lost: the next
// request fails at once instead of waiting out a silent camera, and so does every later one
// until the owner resets the abort.
TEST(HttpSenderTest, AnAbortBetweenRequestsFailsTheNextOnesAtOnce) {
  CHttpSender sender(Camera(80, "secret", 5000));
  ASSERT_TRUE(sender.SendRequest(Get("/status/200")));
  sender.Abort();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(sender.SendRequest(Get("/hang")));
    EXPECT_EQ(sender.GetStatusCode(), 0u);
    EXPECT_EQ(sender.GetLastErrorCode(), static_cast<uint32_t>(ERROR_WINHTTP_OPERATION_CANCELLED));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  sender.ResetAbort();
  EXPECT_TRUE(sender.SendRequest(Get("/status/200")));
  EXPECT_EQ(sender.GetStatusCode(), 200u);
}

TEST(HttpSenderTest, AbortDuringReceiveAll) {
  constexpr uint32_t kTimeoutMs = 3000;
  CHttpSender sender(Camera(80, "secret", kTimeoutMs));
  ASSERT_TRUE(sender.SendRequest(Get("/stall")));
  std::vector<uint8_t> body;
  const auto start = std::chrono::steady_clock::now();
  auto receiving = std::async(std::launch::async, [&] { return sender.ReceiveAll(body); });
  std::this_thread::sleep_for(200ms);
  sender.Abort();
  ASSERT_EQ(receiving.wait_for(20s), std::future_status::ready) << "ReceiveAll still blocked after Abort";
  EXPECT_LE(receiving.get(), 10u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kTimeoutMs + 2000));
  EXPECT_EQ(sender.GetAvailableData(), 0u);
}

}  // namespace
}  // namespace Web
