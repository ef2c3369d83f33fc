#include "control/configuration.h"

#include <gtest/gtest.h>
#include <winsock2.h>

#include <string>
#include <vector>

namespace vantrel {
namespace {

class ConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + "lumivar_cfg_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir_.c_str(), nullptr);
    device_.address = "10.1.2.3";
    device_.port = 80;
  }
  void TearDown() override {
    DeleteFileA(File().c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  std::string File() { return dir_ + "\\LumivarIPCapture.xml"; }
  void Write(const std::string& body) {
    const std::string content = "<?xml version='1.0' encoding='utf-8'?>" + body;
    HANDLE h =
        CreateFileA(File().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(h);
  }

  std::string dir_;
  DEVICE_INFO device_;
};

TEST(ConfigurationFileNameTest, BuiltFromHostDirectoryAndDriverName) {
  struct Case {
    const char* directory;
    const char* driver;
    const char* expected;
  };
  const Case cases[] = {
      {"C:\\host", "LumivarIPCapture", "C:\\host\\LumivarIPCapture.xml"},
      {"C:\\host\\", "LumivarIPCapture", "C:\\host\\LumivarIPCapture.xml"},
      {"", "LumivarIPCapture", "LumivarIPCapture.xml"},
      {"C:\\host", "", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CConfiguration::MakeFileName(c.directory, c.driver), c.expected) << c.directory;
}

TEST_F(ConfigurationTest, MissingOrBrokenFileGivesDefaults) {
  for (const char* body :
       {static_cast<const char*>(nullptr), "<Configuration><Default>", "\x01\x02garbage"}) {
    if (body) Write(body);
    CConfiguration config(device_, dir_, "LumivarIPCapture");
    EXPECT_FALSE(config.IsLoaded());
    const ChannelConfig channel = config.GetChannelConfig(0);
    EXPECT_EQ(channel.rtpMode, 0u);
    EXPECT_EQ(channel.bitrateSD, 4000u);
    EXPECT_EQ(channel.bitrateHD, 5000u);
    EXPECT_EQ(channel.bitrateFHD, 6000u);
    EXPECT_EQ(channel.bitrateUHD, 8000u);
    EXPECT_EQ(config.GetStreamingMode(), 0u);
    const DeviceConfig dev = config.GetDeviceConfig();
    EXPECT_FALSE(dev.hasPtzConfig);
    EXPECT_EQ(dev.fisheyeChannel, 0u);
    EXPECT_EQ(dev.interfaceAddress, 0u);
  }
}

TEST_F(ConfigurationTest, DeviceAndChannelNodeSelection) {
  Write(
      "<Configuration>"
      "<Default><VideoChannel><RTPMode>RTPoverRTSP</RTPMode><Bitrate><SD>100</SD></Bitrate></VideoChannel></"
      "Default>"
      "<Device address='10.1.2.3' "
      "port='8080'><VideoChannel><Bitrate><SD>200</SD></Bitrate></VideoChannel></Device>"
      "<Device address='10.1.2.3' port='80'>"
      "<VideoChannel><Bitrate><SD>300</SD></Bitrate></VideoChannel>"
      "<VideoChannel id='1'><Bitrate><SD>301</SD></Bitrate></VideoChannel>"
      "</Device></Configuration>");
  struct Case {
    const char* address;
    uint32_t port;
    uint32_t channel;
    const char* node;
    uint32_t sd;
    uint32_t rtpMode;
  };
  const Case cases[] = {
      {"10.1.2.3", 80, 1, "Configuration/Device[@address=\"10.1.2.3\"][@port=\"80\"]/VideoChannel[@id=\"1\"]",
       301, 0},
      {"10.1.2.3", 80, 0, "Configuration/Device[@address=\"10.1.2.3\"][@port=\"80\"]/VideoChannel", 300, 0},
      {"10.1.2.3", 8080, 0, "Configuration/Device[@address=\"10.1.2.3\"][@port=\"8080\"]/VideoChannel", 200,
       0},
      // Another port, another address, or an address that would break the query: Default.
      {"10.1.2.3", 81, 0, "Configuration/Default/VideoChannel", 100, 2},
      {"10.9.9.9", 80, 1, "Configuration/Default/VideoChannel", 100, 2},
      {"10.1.2.3\"]|//*[\"", 80, 0, "Configuration/Default/VideoChannel", 100, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.address) + ":" + std::to_string(c.port) + " channel " +
                 std::to_string(c.channel));
    DEVICE_INFO device = device_;
    device.address = c.address;
    device.port = c.port;
    CConfiguration config(device, dir_, "LumivarIPCapture");
    ASSERT_TRUE(config.IsLoaded());
    EXPECT_EQ(config.GetChannelNode(c.channel), c.node);
    const ChannelConfig channel = config.GetChannelConfig(c.channel);
    EXPECT_EQ(channel.bitrateSD, c.sd);
    EXPECT_EQ(channel.bitrateHD, 5000u);
    EXPECT_EQ(channel.rtpMode, c.rtpMode);
  }
}

TEST_F(ConfigurationTest, ChannelValueRules) {
  struct Case {
    const char* rtpMode;
    const char* bitrate;
    uint32_t expectedMode;
    uint32_t expectedRate;
  };
  const Case cases[] = {
      {"RTPoverRTSP", "1234", 2, 1234},
      {"rtpoverrtsp", " 1234 ", 0, 1234},  // the mode is matched exactly, case included
      {"RTPoverRTSP ", "0", 2, 0},         // the document layer drops surrounding blanks
      {"UDP", "4294967295", 0, 0},
      {"", "", 0, 4000},  // empty keeps the default
      {"", "abc", 0, 0},
      {"", "-1", 0, 0},
      {"", "99999999999", 0, 0},
      {"", "4294967294", 0, 4294967294u},
      {"", "25kbit", 0, 25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.rtpMode) + " / " + c.bitrate);
    Write(std::string("<Configuration><Default><VideoChannel><RTPMode>") + c.rtpMode +
          "</RTPMode><Bitrate><SD>" + c.bitrate + "</SD></Bitrate></VideoChannel></Default></Configuration>");
    CConfiguration config(device_, dir_, "LumivarIPCapture");
    const ChannelConfig channel = config.GetChannelConfig(0);
    EXPECT_EQ(channel.rtpMode, c.expectedMode);
    EXPECT_EQ(channel.bitrateSD, c.expectedRate);
  }
}

TEST_F(ConfigurationTest, StreamingMode) {
  struct Case {
    const char* text;
    uint32_t expected;
  };
  const Case cases[] = {
      {"", 0},
      {"Unicast", 0},
      {"Multicast", 2},
      {"MULTICAST Primary", 1},
      {"multicast-primary-stream", 1},
      {"Primary Multicast", 2},  // primary only before multicast
      {"primary multicast primary", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Write(std::string("<Configuration><StreamingMode>") + c.text + "</StreamingMode></Configuration>");
    CConfiguration config(device_, dir_, "LumivarIPCapture");
    EXPECT_EQ(config.GetStreamingMode(), c.expected);
  }
}

TEST_F(ConfigurationTest, DeviceRecord) {
  struct Case {
    const char* body;
    bool hasPtz;
    const char* ptz;
    uint32_t fisheye;
    const char* interfaceAddress;  // dotted, or nullptr for 0
  };
  const Case cases[] = {
      {"<PTZ>PelcoD:2</PTZ><FishEyeVideoChannel>3</FishEyeVideoChannel><NetworkInterface>127.0.0.5</"
       "NetworkInterface>",
       true, "PelcoD:2", 3, "127.0.0.5"},
      {"<PTZ/><FishEyeVideoChannel>4294967295</FishEyeVideoChannel><NetworkInterface>localhost</"
       "NetworkInterface>",
       true, "", 0, "127.0.0.1"},
      {"<FishEyeVideoChannel></FishEyeVideoChannel><NetworkInterface>no-such-host.invalid</NetworkInterface>",
       false, "", 0, nullptr},
      {"<NetworkInterface></NetworkInterface>", false, "", 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    Write(std::string("<Configuration><Device address='10.1.2.3' port='80'>") + c.body +
          "</Device></Configuration>");
    CConfiguration config(device_, dir_, "LumivarIPCapture");
    const DeviceConfig dev = config.GetDeviceConfig();
    EXPECT_EQ(dev.hasPtzConfig, c.hasPtz);
    EXPECT_EQ(dev.ptzConfig, c.ptz);
    EXPECT_EQ(dev.fisheyeChannel, c.fisheye);
    EXPECT_EQ(dev.interfaceAddress, c.interfaceAddress ? inet_addr(c.interfaceAddress) : 0u);
  }
}

}  // namespace
}  // namespace vantrel
