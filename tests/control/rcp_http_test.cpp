// CRcpHttp against the camera simulator: what goes on the wire (read back from the simulator's
// request log), what comes back, and how hostile replies end.
#include "control/rcp_http.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "support/camsim_control.h"

namespace vantrel {
namespace {

constexpr const char* kBasicCamera = "127.0.0.10";

DEVICE_INFO Device(const char* address, uint32_t port = 80, uint32_t timeout = 5000) {
  DEVICE_INFO device;
  device.address = address;
  device.port = port;
  device.user = "service";
  device.password = "camsim";
  device.timeout = timeout;
  return device;
}

class RcpHttpTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(camsim_.Reset()) << "camsim is not running"; }

  testing::CamsimControl camsim_{kBasicCamera};
  CRcpHttp rcp_{Device(kBasicCamera)};
};

TEST_F(RcpHttpTest, WritesSendExactLinesAndSucceed) {
  struct Case {
    CResultDef result;
    const char* line;
  };
  const Case cases[] = {
      {rcp_.SetRcpDword(0x0607, 1500, 1),
       "/rcp.xml?command=0x0607&type=T_DWORD&direction=WRITE&num=1&payload=1500"},
      {rcp_.SetRcpFlag(0x000C, 1, 0), "/rcp.xml?command=0x000C&type=F_FLAG&direction=WRITE&payload=1"},
      {rcp_.SetRcpFlag(0x01C1, 0x101, 2),
       "/rcp.xml?command=0x01C1&type=F_FLAG&direction=WRITE&num=2&payload=1"},
      {rcp_.SetRcpOctet(0x0A94, 0, 3),
       "/rcp.xml?command=0x0A94&type=T_OCTET&direction=WRITE&num=3&payload=0x00"},
      {rcp_.SetRcpOctet(0x01F1, 0xFF, 1),
       "/rcp.xml?command=0x01F1&type=T_OCTET&direction=WRITE&num=1&payload=0xFF"},
      {rcp_.SetRcpOctets(0x0AD3, {0, 0, 0, 0x0C, 0, 0, 0, 0xAB}, 1),
       "/rcp.xml?command=0x0AD3&type=P_OCTET&direction=WRITE&num=1&payload=0x0000000C000000AB"},
  };
  const std::vector<std::string> log = camsim_.Requests();
  ASSERT_EQ(log.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].result.code, CResultDef::kCodeOk) << cases[i].result.message;
    EXPECT_EQ(cases[i].result.severity, CResultDef::kSeveritySuccess);
    EXPECT_EQ(log[i], cases[i].line);
  }
  EXPECT_EQ(camsim_.Value(0x0607, 1), "1500");
  EXPECT_EQ(camsim_.Value(0x0AD3, 1), "0x0000000C000000AB");
}

TEST_F(RcpHttpTest, EmptyArgumentsSendNothing) {
  const CResultDef noPayload = rcp_.SetRcpOctets(0x0AD3, {}, 1);
  const CResultDef noType = rcp_.SendRcpRequestSet(0x0607, "", "1", 1);
  for (const CResultDef& r : {noPayload, noType}) {
    EXPECT_EQ(r.severity, CResultDef::kSeverityError);
    EXPECT_EQ(r.code, CResultDef::kCodeInvalidArgument);
  }
  EXPECT_EQ(noPayload.message,
            "vantrel::CRcpHttp::SendRcpRequestSet: Cannot send data for operation 0x0AD3 to camera "
            "127.0.0.10 - one "
            "of arguments is invalid");
  EXPECT_TRUE(camsim_.Requests().empty());
}

TEST_F(RcpHttpTest, CameraErrorGivesCode11) {
  ASSERT_TRUE(camsim_.Set("rcp_error=0x0607&code=0x0a"));
  const CResultDef r = rcp_.SetRcpDword(0x0607, 100, 1);
  EXPECT_EQ(r.code, CResultDef::kCodeCameraError);
  EXPECT_EQ(r.severity, CResultDef::kSeverityError);
  EXPECT_EQ(r.message,
            "vantrel::CRcpHttp::VerifyRcpSetResponse: device 127.0.0.10:80 returns error code 0x0A");
}

TEST_F(RcpHttpTest, UnusableRepliesGiveCode10Or6) {
  struct Case {
    const char* fault;
    uint32_t code;
    const char* messageStart;
  };
  const Case cases[] = {
      {"kind=malformed", CResultDef::kCodeBadResponse,
       "vantrel::CRcpHttp::VerifyRcpSetResponse: Unable to parse XML response data from device "
       "127.0.0.10:80, "
       "response data is: <rcp><result><str>01 02</result></rcp>"},
      {"kind=body&text=<rcp><result><str>0A%200B</str></result></rcp>", CResultDef::kCodeBadResponse,
       "vantrel::CRcpHttp::VerifyRcpSetResponse: Unable to parse XML"},
      {"kind=empty", CResultDef::kCodeBadResponse, "vantrel::HUtils::RequestGetRD: incorrect response"},
      {"kind=status&status=500", CResultDef::kCodeHttpStatus, "vantrel::HUtils::RequestGetRD: "},
      {"kind=binary&bytes=3000", CResultDef::kCodeBadResponse, ""},
      {"kind=truncated", CResultDef::kCodeBadResponse, ""},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(camsim_.Fault(c.fault));
    const CResultDef r = rcp_.SetRcpOctets(0x0AD3, {0, 0, 0, 4, 0, 0, 0, 3}, 1);
    EXPECT_EQ(r.code, c.code) << c.fault << ": " << r.message;
    EXPECT_EQ(r.severity, CResultDef::kSeverityError) << c.fault;
    EXPECT_EQ(r.message.rfind(c.messageStart, 0), 0u) << c.fault << ": " << r.message;
    EXPECT_EQ(r.message.find_first_of("\r\n"), std::string::npos) << c.fault;
  }
}

TEST(RcpHttpUnreachableTest, NoAnswerGivesCode9) {
  // Nothing listens on this loopback address.
  CRcpHttp rcp(Device("127.0.0.99", 80, 2000));
  const CResultDef r = rcp.SetRcpDword(0x0607, 1, 1);
  EXPECT_EQ(r.code, CResultDef::kCodeNotSent);
  EXPECT_EQ(r.severity, CResultDef::kSeverityNotSent);
  EXPECT_EQ(rcp.GetRcpString(0x097C), "");
  EXPECT_EQ(rcp.GetLastStatusCode(), 0u);
}

TEST_F(RcpHttpTest, ReadsReturnTheCameraValues) {
  ASSERT_TRUE(camsim_.Set("input=2&value=1"));
  bool ok = false;
  EXPECT_EQ(rcp_.GetRcpString(0x097C), "Camsim HD 1080");
  EXPECT_EQ(rcp_.GetRcpString(0x028B, 2), "service");
  EXPECT_EQ(rcp_.GetRcpULong(0x01D6, &ok), 1u);
  EXPECT_TRUE(ok);
  EXPECT_EQ(rcp_.GetRcpULong(0x0AD6), 30000u);
  EXPECT_EQ(rcp_.GetRcpFlag(0x01C0, 2, &ok), 1u);
  EXPECT_EQ(rcp_.GetRcpFlag(0x01C0, 1), 0u);
  EXPECT_EQ(rcp_.GetRcpDwordHex(0x0AE8, 900), 0x1000u + 900u);
  EXPECT_EQ(rcp_.GetRcpOctets(0x00BC), (std::vector<uint8_t>{0x00, 0x1B, 0x2C, 0x03, 0x04, 0x05}));
  uint32_t ptz = 99;
  EXPECT_TRUE(rcp_.GetRcpPtzOctet(ptz));
  EXPECT_EQ(ptz, 0u);
  EXPECT_EQ(camsim_.Requests(), (std::vector<std::string>{
                                    "/rcp.xml?command=0x097C&type=P_STRING&direction=READ",
                                    "/rcp.xml?command=0x028B&type=P_STRING&direction=READ&num=2",
                                    "/rcp.xml?command=0x01D6&type=P_ULONG&direction=READ",
                                    "/rcp.xml?command=0x0AD6&type=P_ULONG&direction=READ",
                                    "/rcp.xml?command=0x01C0&type=F_FLAG&direction=READ&num=2",
                                    "/rcp.xml?command=0x01C0&type=F_FLAG&direction=READ&num=1",
                                    "/rcp.xml?command=0x0AE8&type=T_DWORD&direction=READ&num=900",
                                    "/rcp.xml?command=0x00BC&type=P_OCTET&direction=READ",
                                    "/rcp.xml?command=0x01F1&type=T_OCTET&direction=READ&num=1",
                                }));
}

TEST_F(RcpHttpTest, ReadsOfRefusedCommandsFail) {
  bool ok = true;
  EXPECT_EQ(rcp_.GetRcpULong(0x7777, &ok), 0u);
  EXPECT_FALSE(ok);
  EXPECT_EQ(rcp_.GetRcpFlag(0x01C0, 9, &ok), 0u);  // no such input
  EXPECT_FALSE(ok);
  EXPECT_EQ(rcp_.GetRcpString(0x7777), "");
  EXPECT_TRUE(rcp_.GetRcpOctets(0x0807, 7).empty());
  ASSERT_TRUE(camsim_.Set("rcp_error=0x01f1&code=0x40"));
  uint32_t ptz = 5;
  EXPECT_FALSE(rcp_.GetRcpPtzOctet(ptz));
  EXPECT_EQ(ptz, 5u);
}

TEST_F(RcpHttpTest, ByteListsAreFetchedAndParsed) {
  RcpCapabilityMasks masks;
  ASSERT_TRUE(rcp_.GetRcpCapabilities(masks));
  EXPECT_EQ(masks.mask, (std::array<uint16_t, 6>{0x0006, 0x03EF, 0x0001, 0x0001, 0x0001, 0x0000}));
  RcpRecordMap records;
  ASSERT_TRUE(rcp_.GetRcpRecords(records, 1));
  EXPECT_EQ(records, (RcpRecordMap{{{640, 480}, 30}, {{1280, 720}, 30}, {{1920, 1080}, 30}}));
  EXPECT_EQ(camsim_.Requests(), (std::vector<std::string>{
                                    "/rcp.xml?command=0xFF10&type=P_OCTET&direction=READ",
                                    "/rcp.xml?command=0x0C00&type=P_OCTET&direction=READ&num=1",
                                }));
  ASSERT_TRUE(camsim_.Fault("kind=body&text=<rcp><result><str>ba%20ba%2000%2002</str></result></rcp>"));
  EXPECT_FALSE(rcp_.GetRcpCapabilities(masks));
}

TEST_F(RcpHttpTest, HeadMessages) {
  // A zone write, then its read-back through the plain exchange.
  EXPECT_TRUE(rcp_.SendRcpData("0x8100040311030017", 1));
  std::vector<uint8_t> reply;
  EXPECT_TRUE(rcp_.ExchangeRcpData("0x810004031101", reply, 1));
  ASSERT_EQ(reply.size(), 8u);
  EXPECT_EQ(reply[7], 0x17);
  EXPECT_TRUE(rcp_.SendRcpData("0x8100040311030018", 1));
  const std::vector<std::string> log = camsim_.Requests();
  ASSERT_EQ(log.size(), 3u);
  const std::regex sent(
      R"(/rcp\.xml\?command=0x09A5&type=P_OCTET&direction=WRITE&num=1&payload=0x81000403110300(17|18)&rnd=(\d{18}))");
  std::smatch first, second;
  ASSERT_TRUE(std::regex_match(log[0], first, sent)) << log[0];
  ASSERT_TRUE(std::regex_match(log[2], second, sent)) << log[2];
  for (std::string digits : {first[2].str(), second[2].str()}) {
    std::sort(digits.begin(), digits.end());
    EXPECT_EQ(digits, "112233445566778899");
  }
  EXPECT_EQ(log[1], "/rcp.xml?command=0x09A5&type=P_OCTET&direction=WRITE&num=1&payload=0x810004031101");
  // A refused message.
  ASSERT_TRUE(camsim_.Set("rcp_error=0x09a5&code=0x0a"));
  EXPECT_FALSE(rcp_.SendRcpData("0x81000a0101030001", 1));
  EXPECT_FALSE(rcp_.ExchangeRcpData("0x810004030001", reply, 1));
  EXPECT_TRUE(reply.empty());
}

TEST_F(RcpHttpTest, ReplaySession) {
  const uint32_t session = rcp_.GetRcpDwordHex(0x0AE8, 900);
  ASSERT_EQ(session, 0x1000u + 900u);
  EXPECT_TRUE(rcp_.WriteRcpSession(0x0902, kRcpTypeInt, "0", session));
  std::vector<uint8_t> list;
  EXPECT_TRUE(rcp_.ReadRcpSession(kRcpTypeOctets, "0x0000000000FFFFFF0000099900000000", session, list));
  EXPECT_EQ(list.size() % 16, 0u);
  EXPECT_TRUE(rcp_.WriteRcpSession(0x0905, kRcpTypeOctets, "0x00000064", session));
  EXPECT_FALSE(rcp_.WriteRcpSession(0x0902, kRcpTypeInt, "0", 12345));       // unknown session
  EXPECT_FALSE(rcp_.ReadRcpSession(kRcpTypeOctets, "0x00", session, list));  // bad payload
  const std::vector<std::string> log = camsim_.Requests();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[1], "/rcp.xml?command=0x0902&type=T_INT&direction=WRITE&payload=0&sessionid=4996");
  EXPECT_EQ(log[2],
            "/rcp.xml?command=0x0901&type=P_OCTET&direction=READ&payload=0x0000000000FFFFFF0000099900000000&"
            "sessionid=4996");
}

// Replies a camera should never send: each read must fail cleanly and within its time-out.
TEST(RcpHttpHostileTest, HostileRepliesFailWithoutHanging) {
  testing::CamsimControl camsim("127.0.0.12");
  ASSERT_TRUE(camsim.Reset());
  CRcpHttp rcp(Device("127.0.0.12", 80, 2000));
  const char* faults[] = {
      "kind=malformed",
      "kind=truncated",
      "kind=huge&bytes=6000000",
      "kind=binary&bytes=70000",
      "kind=long_length",
      "kind=short_length",
      "kind=drop",
      "kind=empty",
      "kind=delay&ms=4000",
      "kind=status&status=404",
      "kind=body&text=<rcp><result><str>00%2011</str><err>zz</err></result></rcp>",
  };
  for (const char* fault : faults) {
    ASSERT_TRUE(camsim.Fault(std::string(fault) + "&match=0x0807"));
    const auto start = std::chrono::steady_clock::now();
    const std::vector<uint8_t> bytes = rcp.GetRcpOctets(0x0807, 1);
    const auto took = std::chrono::steady_clock::now() - start;
    if (std::string(fault).find("err>zz") != std::string::npos) {
      EXPECT_EQ(bytes, (std::vector<uint8_t>{0x00, 0x11}));  // "err" is not checked by this read
    } else if (std::string(fault) == "kind=long_length") {
      // A whole reply followed by a closed connection: what arrived is a complete document.
    } else {
      EXPECT_TRUE(bytes.empty()) << fault;
    }
    EXPECT_LT(took, std::chrono::seconds(15)) << fault;
    camsim.Get("clear_faults");
  }
  // The camera is still usable afterwards.
  EXPECT_EQ(rcp.GetRcpOctets(0x0807, 1).size(), 4u);
}

// Every login kind the cameras use: Basic, Digest, a camera that offers Basic but only takes
// Digest, none, and plain HTTP on the HTTPS port.
TEST(RcpHttpAuthTest, EveryLoginKindReadsAndWrites) {
  for (const auto& [address, port] :
       {std::pair{"127.0.0.10", 80u}, std::pair{"127.0.0.11", 80u}, std::pair{"127.0.0.14", 80u},
        std::pair{"127.0.0.13", 443u}, std::pair{"127.0.0.12", 80u}}) {
    CRcpHttp rcp(Device(address, port));
    EXPECT_EQ(rcp.GetRcpString(0x097C), "Camsim HD 1080") << address;
    EXPECT_EQ(rcp.SetRcpDword(0x0607, 800, 1).code, CResultDef::kCodeOk) << address;
  }
}

}  // namespace
}  // namespace vantrel
