// One-shot GETs against tests/control/server/http_test_server.py on 127.0.0.201.
#include "control/hutils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel {
namespace {

struct GetCase {
  const char* path;
  uint32_t port;
  uint32_t severity;
  uint32_t code;
  const char* message;
  const char* body;  // without the terminating zero
};

TEST(HUtilsTest, RequestGetRDReportsEachOutcome) {
  const GetCase cases[] = {
      {"/status/200", 80, 3, 0, "", "status 200"},
      {"/status/404", 80, 1, 6,
       "vantrel::HUtils::RequestGetRD: 127.0.0.201:80 sent does not process request \"/status/404\", status "
       "code = 404",
       ""},
      {"/status/500", 80, 1, 6,
       "vantrel::HUtils::RequestGetRD: 127.0.0.201:80 sent does not process request \"/status/500\", status "
       "code = 500",
       ""},
      {"/status/204", 80, 1, 10,
       "vantrel::HUtils::RequestGetRD: incorrect response for request \"/status/204\" from 127.0.0.201:80",
       ""},
      {"/x", 81, 4, 9, "vantrel::HUtils::RequestGetRD: can not send request \"/x\" to 127.0.0.201:81", ""},
      {"/hang", 80, 4, 9, "vantrel::HUtils::RequestGetRD: can not send request \"/hang\" to 127.0.0.201:80",
       ""},
  };
  for (const GetCase& c : cases) {
    SCOPED_TRACE(c.path);
    DEVICE_INFO info;
    info.address = "127.0.0.201";
    info.port = c.port;
    info.timeout = 1000;
    Web::CHttpSender sender(info);
    std::vector<uint8_t> buffer{1, 2, 3};
    const CResultDef result = HUtils::RequestGetRD(sender, c.path, buffer);
    EXPECT_EQ(result.severity, c.severity);
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(result.message, c.message);
    const std::string body = c.body;
    if (c.code == 0 || c.code == 10) {
      // The body is handed over zero-terminated, so replies can be read as text.
      ASSERT_EQ(buffer.size(), body.size() + 1);
      EXPECT_EQ(std::string(buffer.begin(), buffer.end() - 1), body);
      EXPECT_EQ(buffer.back(), 0);
    } else {
      EXPECT_TRUE(buffer.empty());
    }
    EXPECT_EQ(HUtils::RequestGet(sender, c.path, buffer), c.code == 0);
    // Every call closes its request.
    EXPECT_EQ(sender.GetAvailableData(), 0u);
  }
}

TEST(HUtilsTest, HostileRepliesStayBounded) {
  DEVICE_INFO info;
  info.address = "127.0.0.201";
  info.timeout = 1500;
  Web::CHttpSender sender(info);
  std::vector<uint8_t> buffer;
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/unannounced/4000000", buffer).code, 0u);
  EXPECT_EQ(buffer.size(), Web::CHttpSender::kDefaultBodyBudget + 1);
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/huge", buffer).code, CResultDef::kCodeBadResponse);
  EXPECT_EQ(HUtils::RequestGetRD(sender, "/binary", buffer).code, 0u);
  EXPECT_EQ(buffer.size(), 256u * 64 + 1);
}

}  // namespace
}  // namespace vantrel
