// The PTZ handler, controls and preset store against the camera simulator, which decodes every
// frame it passes to the head into what the head would do ("pelco-d move pan=left ..."): the
// assertions are about movements, not bytes.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ptz/ptz_handler.h"
#include "support/camsim_control.h"
#include "support/fake_driver.h"
#include "support/rtp_test_peer.h"

namespace vantrel {
namespace {

using testing::WaitUntil;

constexpr const char* kDome = "127.0.0.60";       // PTZ port set up for OSRD heads
constexpr const char* kFixedDome = "127.0.0.61";  // PTZ port that refuses the OSRD set-up

std::string ExecutableDirectory() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof(path));
  std::string text(path);
  return text.substr(0, text.find_last_of('\\') + 1);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

class PTZCamsim : public ::testing::Test {
 protected:
  void SetUp() override { Use(kDome, 1); }

  void TearDown() override {
    handler_.reset();
    RemoveFiles();
    RemoveDirectoryA(driver_.hostDirectory.c_str());
  }

  // Camera, protocol and a preset file of the test's own.
  void Use(const char* camera, int protocol) {
    handler_.reset();
    camsim_ = std::make_unique<testing::CamsimControl>(camera);
    ASSERT_TRUE(camsim_->Reset()) << "camsim is not running";
    driver_.info.address = camera;
    driver_.info.user = "service";
    driver_.info.password = "camsim";
    driver_.info.port = 80;
    driver_.parameters[3] = mac_ =
        std::string("00:1B:") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    driver_.parameters[4] = std::to_string(protocol);
    driver_.hostDirectory = ExecutableDirectory() + "ptz_host_" + Clean(mac_) + "\\";
    CreateDirectoryA(driver_.hostDirectory.c_str(), nullptr);
    RemoveFiles();
    Restart();
  }

  static std::string Clean(std::string text) {
    std::string out;
    for (char c : text)
      if (c != ':') out.push_back(c);
    return out;
  }

  std::string PresetFile() { return ExecutableDirectory() + "Bosch_" + Clean(mac_) + ".preset"; }

  void RemoveFiles() {
    DeleteFileA(PresetFile().c_str());
    DeleteFileA((PresetFile() + ".corrupt").c_str());
    RemoveDirectoryA(PresetFile().c_str());
    DeleteFileA((driver_.hostDirectory + "BoschIP_PTZ.xml").c_str());
  }

  // A driver restart as far as PTZ is concerned: a new handler over the same files.
  void Restart() {
    handler_.reset();
    handler_ = std::make_unique<CBoschPTZHandler>(&driver_, 2);
  }

  IIPPTZApiEx* Api(uint32_t channel = 0) { return handler_->GetPTZApiEx(channel); }

  std::vector<std::string> Frames() {
    std::vector<std::string> lines;
    std::istringstream in(camsim_->Get("ptz.txt"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // The decoded frames once `count` have arrived and the channel has gone quiet.
  std::vector<std::string> WaitFrames(size_t count) {
    WaitUntil([&] { return Frames().size() >= count; }, 10000);
    std::vector<std::string> before;
    std::vector<std::string> now = Frames();
    do {
      before = now;
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      now = Frames();
    } while (now != before);
    return now;
  }

  testing::FakeDriver driver_;
  std::unique_ptr<testing::CamsimControl> camsim_;
  std::unique_ptr<CBoschPTZHandler> handler_;
  std::string mac_;
};

// ---- Movements ---------------------------------------------------------------------------------

struct ProtocolCase {
  int protocol;
  const char* name;
  int fullSpeed;  // the host's 16 in the protocol's pan/tilt range
};
const ProtocolCase kProtocols[] = {{1, "pelco-d", 63}, {3, "bicom", 15}, {2, "osrd", 15}};

TEST_F(PTZCamsim, EightDirectionsPerProtocol) {
  for (const ProtocolCase& p : kProtocols) {
    SCOPED_TRACE(p.name);
    Use(kDome, p.protocol);
    IIPPTZApiEx* api = Api();
    ASSERT_NE(api, nullptr);
    EXPECT_EQ(api->IsPTZConfigured(), 1);
    for (uint32_t d = kPTZLeft; d <= kPTZDownRight; ++d) EXPECT_EQ(api->StartMove(d, 16), kPTZSuccess);
    const std::string s = std::to_string(p.fullSpeed);
    const std::string pan = " pan_speed=" + s, tilt = " tilt_speed=" + s;
    const std::string n = p.name;
    const std::vector<std::string> expected = {
        n + " move pan=left" + pan,
        n + " move pan=right" + pan,
        n + " move tilt=up" + tilt,
        n + " move tilt=down" + tilt,
        n + " move pan=left" + pan + " tilt=up" + tilt,
        n + " move pan=right" + pan + " tilt=up" + tilt,
        n + " move pan=left" + pan + " tilt=down" + tilt,
        n + " move pan=right" + pan + " tilt=down" + tilt,
    };
    EXPECT_EQ(WaitFrames(expected.size()), expected);
  }
}

TEST_F(PTZCamsim, RepeatedMovesAndStops) {
  IIPPTZApiEx* api = Api();
  ASSERT_NE(api, nullptr);
  const std::vector<std::string> stop(4, "pelco-d stop");
  std::vector<std::string> expected = {"pelco-d move pan=right pan_speed=31",
                                       "pelco-d move pan=right pan_speed=39"};
  EXPECT_EQ(api->StartMove(kPTZRight, 8), kPTZSuccess);
  EXPECT_EQ(api->StartMove(kPTZRight, 9), kPTZSuccess);   // nearly the same: not sent again
  EXPECT_EQ(api->StartMove(kPTZRight, 10), kPTZSuccess);  // speed changed enough
  EXPECT_EQ(api->StartMove(kPTZNoDirection, 10), kPTZBadArgument);
  // The stop would drop moves still waiting, so let them reach the head first.
  EXPECT_EQ(WaitFrames(expected.size()), expected);
  // Pelco-D heads on a shared line may miss one stop: it goes out four times.
  EXPECT_EQ(api->Stop(), kPTZSuccess);
  expected.insert(expected.end(), stop.begin(), stop.end());
  EXPECT_EQ(WaitFrames(expected.size()), expected);
  EXPECT_EQ(api->StartMove(kPTZRight, 10), kPTZSuccess);  // a stop forgets the last move
  expected.push_back("pelco-d move pan=right pan_speed=39");
  EXPECT_EQ(WaitFrames(expected.size()), expected);
  EXPECT_EQ(api->StartMove(kPTZRight, 0), kPTZSuccess);  // speed 0 stops
  expected.insert(expected.end(), stop.begin(), stop.end());
  EXPECT_EQ(WaitFrames(expected.size()), expected);
}

TEST_F(PTZCamsim, StopIsSentOnceForOtherProtocols) {
  for (const ProtocolCase& p : {kProtocols[1], kProtocols[2]}) {
    SCOPED_TRACE(p.name);
    Use(kDome, p.protocol);
    IIPPTZApiEx* api = Api();
    ASSERT_NE(api, nullptr);
    EXPECT_EQ(api->StartMove(kPTZUp, 16), kPTZSuccess);
    WaitFrames(1);  // a movement stop drops moves still waiting
    EXPECT_EQ(api->Stop(), kPTZSuccess);
    const std::vector<std::string> frames = WaitFrames(2);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1], std::string(p.name) + " stop");
  }
}

TEST_F(PTZCamsim, ZoomSpeedIsSentOnlyWhenItChanges) {
  IIPPTZApiEx* api = Api();
  ASSERT_NE(api, nullptr);
  EXPECT_EQ(api->ZoomIn(16), kPTZSuccess);
  EXPECT_EQ(api->ZoomIn(4), kPTZSuccess);
  EXPECT_EQ(api->ZoomOut(4), kPTZSuccess);
  const std::vector<std::string> expected = {
      "pelco-d zoom_speed speed=3", "pelco-d move zoom=tele", "pelco-d zoom_speed speed=1",
      "pelco-d move zoom=tele",     "pelco-d move zoom=wide",
  };
  EXPECT_EQ(WaitFrames(expected.size()), expected);
}

TEST_F(PTZCamsim, LensModesSwitchToManualAndBack) {
  struct Case {
    int protocol;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {1,
       {"pelco-d focus_mode mode=manual", "pelco-d focus_speed speed=3", "pelco-d move focus=near",
        "pelco-d stop", "pelco-d stop", "pelco-d stop", "pelco-d stop", "pelco-d iris_mode mode=manual",
        "pelco-d move iris=open", "pelco-d focus_mode mode=auto", "pelco-d iris_mode mode=auto",
        "pelco-d move pan=right pan_speed=63"}},
      {3,
       {"bicom focus_mode mode=manual", "bicom move focus=near", "bicom stop_focus",
        "bicom iris_mode mode=manual", "bicom move iris=open", "bicom focus_mode mode=auto",
        "bicom iris_mode mode=auto", "bicom move pan=right pan_speed=15"}},
      // OSRD heads have no mode switch: the lens commands go out as they are.
      {2,
       {"osrd move focus=near lens_speed=7", "osrd stop", "osrd move iris=open lens_speed=7",
        "osrd move pan=right pan_speed=15"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.protocol);
    Use(kDome, c.protocol);
    IIPPTZApiEx* api = Api();
    ASSERT_NE(api, nullptr);
    EXPECT_EQ(api->FocusNear(16), kPTZSuccess);
    EXPECT_EQ(api->Stop(), kPTZSuccess);
    EXPECT_EQ(api->IrisOpen(16), kPTZSuccess);
    EXPECT_EQ(api->StartMove(kPTZRight, 16), kPTZSuccess);
    EXPECT_EQ(WaitFrames(c.expected.size()), c.expected);
  }
}

TEST_F(PTZCamsim, OsrdHeadSetUpIsWrittenOnlyWhenNeeded) {
  auto setUpWrites = [&] {
    int n = 0;
    for (const std::string& r : camsim_->Requests())
      n += r.find("command=0x01F1&type=T_OCTET&direction=WRITE&num=1&payload=0xFF") != std::string::npos;
    return n;
  };
  Use(kDome, 2);
  ASSERT_NE(Api(), nullptr);
  Api()->StartMove(kPTZLeft, 16);
  Api()->StartMove(kPTZRight, 16);
  EXPECT_EQ(WaitFrames(2).size(), 2u);
  EXPECT_EQ(setUpWrites(), 0) << "the port already reads 0xFF";

  // A port that refuses the set-up is asked again before every command; the head never hears
  // the frames.
  Use(kFixedDome, 2);
  ASSERT_NE(Api(), nullptr);
  Api()->StartMove(kPTZLeft, 16);
  Api()->StartMove(kPTZRight, 16);
  const std::vector<std::string> frames = WaitFrames(2);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], "osrd move pan=left pan_speed=15 ignored");
  EXPECT_EQ(setUpWrites(), 2);
}

TEST_F(PTZCamsim, WithoutProtocolEverythingIsAcceptedAndNothingSent) {
  Use(kDome, 0);
  IIPPTZApiEx* api = Api();
  ASSERT_NE(api, nullptr);
  EXPECT_EQ(api->IsPTZConfigured(), 0);
  EXPECT_EQ(api->StartMove(kPTZLeft, 16), kPTZSuccess);
  EXPECT_EQ(api->FocusFar(3), kPTZSuccess);
  EXPECT_EQ(api->Stop(), kPTZSuccess);
  EXPECT_EQ(api->AreaZoom(1, 2, 3, 4), kPTZSuccess);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(Frames().empty());
}

TEST_F(PTZCamsim, BurstBeyondTheQueueNeverBlocksTheHost) {
  IIPPTZApiEx* api = Api();
  ASSERT_NE(api, nullptr);
  // Every frame takes the camera 300 ms.
  ASSERT_TRUE(camsim_->Fault("kind=delay&match=0xFFDD&count=0&ms=300"));
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 40; ++i) EXPECT_EQ(api->StartMove(i % 2 ? kPTZLeft : kPTZRight, 16), kPTZSuccess);
  const auto took = std::chrono::steady_clock::now() - start;
  // Forty frames would keep a blocking caller for 12 s.
  EXPECT_LT(took, std::chrono::seconds(5));
  // A command after the burst marks the end of what the queue kept.
  EXPECT_EQ(api->FocusFar(16), kPTZSuccess);
  const std::string marker = "pelco-d focus_mode mode=manual";
  EXPECT_TRUE(WaitUntil(
      [&] {
        const std::vector<std::string> now = Frames();
        return std::find(now.begin(), now.end(), marker) != now.end();
      },
      30000));
  const std::vector<std::string> frames = Frames();
  const auto end = std::find(frames.begin(), frames.end(), marker);
  ASSERT_NE(end, frames.end());
  // The ones sent while the burst came in, then at most eight that waited: the rest were
  // pushed out, oldest first, and the newest move survived.
  EXPECT_LT(end - frames.begin(), 20);
  ASSERT_NE(end, frames.begin());
  EXPECT_EQ(*(end - 1), "pelco-d move pan=left pan_speed=63");
  camsim_->Get("clear_faults");
  // Closed controls refuse work instead of queuing it.
  static_cast<CBasePTZControl*>(api)->Close();
  EXPECT_EQ(api->StartMove(kPTZRight, 16), kPTZNotOpen);
  EXPECT_EQ(api->IsPTZConfigured(), kPTZNotOpen);
}

// ---- Presets -----------------------------------------------------------------------------------

TEST_F(PTZCamsim, StoreRecallRenameAndClear) {
  IIPPTZApiEx* api = Api();
  ASSERT_NE(api, nullptr);
  wchar_t name[32] = {};
  EXPECT_EQ(api->AddPreposition(L"Door"), kPTZSuccess);
  EXPECT_EQ(api->GetCurrentPreposition(name, 32), kPTZSuccess);
  EXPECT_STREQ(name, L"Door");
  // Adding while a preset is current names the current view instead.
  EXPECT_EQ(api->AddPreposition(L"Gate"), kPTZSuccess);
  EXPECT_TRUE(
      driver_.HasLine(3,
                      "vantrel::CPrepositionList::RenameCurrentPreposition: A preposition with index 0 "
                      "was renamed from \"Door\" to \"Gate\"."));
  EXPECT_EQ(api->GetPrepositionCount(), 1);
  EXPECT_EQ(api->Center(1, 2, 3), kPTZSuccess);  // any movement leaves the preset
  EXPECT_EQ(api->GetCurrentPreposition(name, 32), kPTZPresetNotFound);
  EXPECT_EQ(api->AddPreposition(L"Yard"), kPTZSuccess);
  EXPECT_EQ(api->GoToPreposition(0, L"Gate"), kPTZSuccess);
  EXPECT_EQ(api->GoToPreposition(0, L"Gate"), kPTZSuccess);  // already there: nothing sent
  EXPECT_EQ(api->GoToPreposition(0, L"Nowhere"), kPTZPresetNotFound);
  EXPECT_EQ(api->AddPreposition(L"a<b"), kPTZBadArgument);
  EXPECT_TRUE(
      driver_.HasLine(1,
                      "vantrel::CPrepositionList::AddPreposition: A preposition \"a<b\" cannot be added "
                      "- the name is invalid."));
  EXPECT_EQ(api->RemovePreposition(L"Gate"), kPTZSuccess);
  EXPECT_EQ(api->RemovePreposition(L"Gate"), kPTZPresetNotFound);
  EXPECT_EQ(api->GetPrepositionCount(), 1);
  EXPECT_EQ(api->GetPrepositionName(0, name, 32), kPTZSuccess);
  EXPECT_STREQ(name, L"Yard");
  EXPECT_EQ(api->GetPrepositionName(0, name, 4), kPTZBadArgument) << "no room for the terminator";
  EXPECT_EQ(api->GetPrepositionName(1, name, 32), kPTZPresetNotFound);
  EXPECT_EQ(api->AddPreposition(nullptr), kPTZBadArgument);
  PTZInfo info = {};
  EXPECT_EQ(api->GetPTZInfo(&info), kPTZSuccess);
  EXPECT_EQ(info.presetCapacity, 32u);
  EXPECT_EQ(info.presetCount, 1u);
  const std::vector<std::string> expected = {"pelco-d store_preset preset=1", "pelco-d store_preset preset=2",
                                             "pelco-d goto_preset preset=1", "pelco-d clear_preset preset=1"};
  EXPECT_EQ(WaitFrames(expected.size()), expected);
}

TEST_F(PTZCamsim, PresetLimitIsRefused) {
  IIPPTZApiEx* api = Api();
  ASSERT_NE(api, nullptr);
  for (int i = 0; i < 32; ++i) {
    ASSERT_EQ(api->AddPreposition((L"P" + std::to_wstring(i)).c_str()), kPTZSuccess) << i;
    api->Center(0, 0, 0);
  }
  EXPECT_EQ(api->AddPreposition(L"One too many"), kPTZNoFreePreset);
  EXPECT_TRUE(
      driver_.HasLine(1,
                      "vantrel::CPrepositionList::AddPreposition: A preposition \"One too many\" cannot "
                      "be added. Max preposition count is 32"));
  EXPECT_EQ(WaitFrames(32).back(), "pelco-d store_preset preset=32");
}

TEST_F(PTZCamsim, PresetsSurviveARestart) {
  ASSERT_NE(Api(), nullptr);
  EXPECT_EQ(Api()->AddPreposition(L"Caf\u00e9"), kPTZSuccess);
  Api()->Center(0, 0, 0);
  EXPECT_EQ(Api()->AddPreposition(L"Hall"), kPTZSuccess);
  ASSERT_NE(Api(1), nullptr);
  EXPECT_EQ(Api(1)->AddPreposition(L"Other channel"), kPTZSuccess);
  Restart();
  ASSERT_NE(Api(), nullptr);
  ASSERT_EQ(Api()->GetPrepositionCount(), 2);
  wchar_t name[32] = {};
  EXPECT_EQ(Api()->GetPrepositionName(0, name, 32), kPTZSuccess);
  EXPECT_STREQ(name, L"Caf\u00e9");
  EXPECT_EQ(Api(1)->GetPrepositionCount(), 1);
  // The restored slot is the one the head stored.
  EXPECT_EQ(Api()->GoToPreposition(0, L"Hall"), kPTZSuccess);
  EXPECT_EQ(WaitFrames(4).back(), "pelco-d goto_preset preset=2");
}

TEST_F(PTZCamsim, OlderFileIsImportedOnce) {
  const std::string older = driver_.hostDirectory + "BoschIP_PTZ.xml";
  auto olderFile = [&](const std::string& extra) {
    WriteFile(older, std::string("<?xml version='1.0'?><settings><cameras><camera>") +
                         "<IPAddress value='10.9.9.9'/><positions><PrePos1><Name value='Wrong'/>"
                         "<BoschID value='1'/></PrePos1></positions></camera><camera><IPAddress value='" +
                         kDome + "'/><positions><PrePos1><Name value='Door'/><BoschID value='3'/></PrePos1>" +
                         "<PrePos2><Name value=''/><BoschID value='4'/></PrePos2>" +
                         "<PrePos3><Name value='Yard'/><BoschID value='5'/></PrePos3>" + extra +
                         "</positions></camera></cameras></settings>");
  };
  olderFile("");
  ASSERT_NE(Api(), nullptr);
  ASSERT_EQ(Api()->GetPrepositionCount(), 2);
  EXPECT_NE(ReadFile(PresetFile()).find("Yard"), std::string::npos) << "written into the new file";
  olderFile("<PrePos4><Name value='Late'/><BoschID value='6'/></PrePos4>");
  Restart();
  ASSERT_NE(Api(), nullptr);
  EXPECT_EQ(Api()->GetPrepositionCount(), 2) << "the older file is read only while a channel has no presets";
  EXPECT_EQ(Api()->GoToPreposition(0, L"Door"), kPTZSuccess);
  EXPECT_EQ(WaitFrames(1).back(), "pelco-d goto_preset preset=3") << "imported numbers are the head's own";
}

TEST_F(PTZCamsim, CorruptPresetFileIsKeptAsideAndTheListStartsEmpty) {
  handler_.reset();
  const std::string broken = "<Bosch><PtzChannel01><Preposition000><Name value='x'/>";
  WriteFile(PresetFile(), broken);
  Restart();
  IIPPTZApiEx* api = Api();
  ASSERT_NE(api, nullptr);
  EXPECT_EQ(api->GetPrepositionCount(), 0);
  EXPECT_EQ(ReadFile(PresetFile() + ".corrupt"), broken);
  bool warned = false;
  for (const auto& line : driver_.Lines())
    warned |= line.level == 2 && line.text.find("could not be read") != std::string::npos;
  EXPECT_TRUE(warned);
  EXPECT_EQ(api->AddPreposition(L"Fresh"), kPTZSuccess);
  EXPECT_NE(ReadFile(PresetFile()).find("Fresh"), std::string::npos);
}

TEST_F(PTZCamsim, UnusablePresetFileGivesTheMessageAndNoCrash) {
  handler_.reset();
  ASSERT_TRUE(CreateDirectoryA(PresetFile().c_str(), nullptr));
  Restart();
  EXPECT_EQ(Api(), nullptr);
  const std::string fileName = "Bosch_" + Clean(mac_) + ".preset";
  EXPECT_TRUE(driver_.HasLine(1,
                              "vantrel::CBasePTZHandler::InitializeXMLStorage: cannot initialize "
                              "CXMLPrepositionReader object with parameter \"" +
                                  fileName + "\""));
  // Later requests use the store as it is: an empty list, and no crash on any preset call.
  IIPPTZApiEx* api = Api();
  ASSERT_NE(api, nullptr);
  EXPECT_EQ(api->GetPrepositionCount(), 0);
  wchar_t name[8];
  EXPECT_EQ(api->GetCurrentPreposition(name, 8), kPTZPresetNotFound);
  // The head stored it, but the name cannot outlive a restart: the host is told.
  EXPECT_EQ(api->AddPreposition(L"Any"), kPTZNotOpen);
}

// ---- Close -------------------------------------------------------------------------------------

TEST_F(PTZCamsim, CloseAgainstASilentCameraIsBoundedAndSendsNothingAfterwards) {
  driver_.info.timeout = 10000;  // as after a successful open
  Restart();
  ASSERT_NE(Api(0), nullptr);
  ASSERT_NE(Api(1), nullptr);
  // The head's port accepts the connection and never answers.
  ASSERT_TRUE(camsim_->Fault("kind=delay&match=0xFFDD&count=0&ms=30000"));
  for (uint32_t channel : {0u, 1u}) {
    EXPECT_EQ(Api(channel)->StartMove(kPTZLeft, 16), kPTZSuccess);
    EXPECT_EQ(Api(channel)->Stop(), kPTZSuccess);  // four Pelco-D stops wait behind the move
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  handler_->ReleaseControls();
  const auto took =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  std::printf("PTZ close of 2 channels against a silent camera: %lld ms\n", static_cast<long long>(took));
  // One channel's bound (5000 ms) at most, for both together.
  EXPECT_LT(took, 5000);
  // Whatever reaches the camera from now on is answered at once and recorded.
  camsim_->Get("clear_faults");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_TRUE(Frames().empty()) << Frames().front();
  // The threads the abort could not end are released once their requests time out; the
  // handler, which goes with the driver, waits for them.
  handler_.reset();
}

TEST_F(PTZCamsim, HandlerRequestRules) {
  EXPECT_EQ(Api(0), Api(0));
  EXPECT_NE(Api(1), nullptr);
  EXPECT_NE(Api(0), Api(1));
  EXPECT_EQ(Api(2), nullptr) << "channel count is 2";
  EXPECT_EQ(static_cast<IIPPTZApi*>(Api(1)), handler_->GetPTZApi(1));
  EXPECT_TRUE(Api(0)->SupportsFeature(1));
  EXPECT_FALSE(Api(0)->SupportsFeature(2));

  driver_.parameters.erase(3);
  Restart();
  EXPECT_EQ(Api(0), nullptr);
  EXPECT_EQ(Api(1), nullptr);
  EXPECT_TRUE(
      driver_.HasLine(1, std::string("vantrel::CBoschPTZHandler::GetXMLStorageFileName: Cannot generate "
                                     "filename for preset XML storage for device ") +
                             kDome + ":80. Required custom parameter is empty"));
  EXPECT_TRUE(
      driver_.HasLine(1,
                      "vantrel::CBasePTZHandler::InitializeXMLStorage: PTZ module cannot be initialized! "
                      "Name of file for preset storing was not defined"));
}

}  // namespace
}  // namespace vantrel
