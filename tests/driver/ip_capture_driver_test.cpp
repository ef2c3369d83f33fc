#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "audio/audio_input_channel.h"
#include "channels/h264_channel_rtsp.h"
#include "channels/mjpeg_channel_http.h"
#include "channels/mjpeg_channel_rtsp.h"
#include "channels/mpeg_channel_rtp.h"
#include "driver/driver_factory.h"
#include "driver/lumivar_ip_capture_driver.h"
#include "edgestorage/edge_storage_task.h"
#include "events/bosch_digital_io.h"
#include "events/motion_channel.h"
#include "foundation/event.h"
#include "foundation/teardown_queue.h"
#include "rcpplus/rcpplus_system.h"
#include "support/fake_host_objects.h"
#include "support/test_camera_channel.h"
#include "vantrel/ipcapture/audio_capture.h"
#include "vantrel/ipcapture/io_api.h"
#include "vantrel/ipcapture/ptz_driver.h"
#include "vantrel/ipcapture/video_capture.h"

namespace vantrel {
namespace {

using testing::FakeDebugSink;
using testing::FakeOpenParams;

struct DriverDeleter {
  void operator()(CLumivarIPCaptureDriver* d) const { d->ScalarDeletingDestructor(1); }
};
using DriverPtr = std::unique_ptr<CLumivarIPCaptureDriver, DriverDeleter>;

DriverPtr MakeDriver() { return DriverPtr(new CLumivarIPCaptureDriver()); }

// Without a "pellith.dll" beside the test the host core version is the 5.12 default.
class DriverOpen : public ::testing::Test {
 protected:
  bool Open() { return driver->Open(&sink, nullptr, &params); }

  DriverPtr driver = MakeDriver();
  FakeDebugSink sink;
  FakeOpenParams params;
};

TEST_F(DriverOpen, KeepsTheDeviceRecordAndRaisesTimeOuts) {
  params.device.address = "10.1.2.3";
  params.device.port = 65536 + 8080;  // the device address text shows it as 16 bits
  params.device.hostId1 = 17;
  params.device.hostId2 = 42;
  params.device.channelCount = 4;
  params.device.defaultVideoFormat = 1;
  EXPECT_EQ(driver->GetDeviceInfo().timeout, 5000u);
  ASSERT_TRUE(Open());
  const DEVICE_INFO& info = driver->GetDeviceInfo();
  EXPECT_EQ(info.address, "10.1.2.3");
  EXPECT_EQ(info.user, "service");
  EXPECT_EQ(info.password, "secret");
  EXPECT_EQ(info.model, "Test camera");
  EXPECT_EQ(info.timeout, 10000u);
  EXPECT_EQ(info.signalTimeout, 10000u);
  EXPECT_EQ(driver->GetDeviceAddress(), "10.1.2.3:8080");
  uint32_t id1 = 0, id2 = 0;
  driver->GetHostIdPair(&id1, &id2);
  EXPECT_EQ(id1, 17u);
  EXPECT_EQ(id2, 42u);
  EXPECT_EQ(driver->GetChannelCount(), 4u);
  EXPECT_EQ(driver->GetDefaultVideoFormat(), 1u);
  EXPECT_EQ(driver->GetDriverName(), "LumivarIPCapture");
}

TEST_F(DriverOpen, ReadsNumberedParametersUpToTheFirstGap) {
  params.device.parameters = {{1, "1"}, {2, "(none)"}, {3, "00-07-5f"}, {5, "0"}};
  ASSERT_TRUE(Open());
  EXPECT_EQ(driver->GetParameter(2), "");
  EXPECT_EQ(driver->GetParameter(3), "00-07-5f");
  EXPECT_EQ(driver->GetParameter(5), "") << "beyond the gap at 4";
  EXPECT_EQ(driver->GetParameterInt(5), kParameterMissing);
  EXPECT_EQ(driver->GetParameterInt(2), kParameterMissing);
  // 1, 2, 3, then 4 ends the run; 101 and 102 are asked directly.
  EXPECT_EQ(params.asked, (std::vector<uint32_t>{1, 2, 3, 4, 101, 102}));
}

TEST_F(DriverOpen, RefusesMissingParametersWithoutCrashing) {
  struct Case {
    const char* what;
    void (*spoil)(FakeOpenParams&);
  };
  const Case cases[] = {
      {"no camera record", [](FakeOpenParams& p) { p.withCameraInfo = false; }},
      {"no connection record", [](FakeOpenParams& p) { p.withConnectionInfo = false; }},
      {"null address", [](FakeOpenParams& p) { p.device.address.reset(); }},
      {"null user", [](FakeOpenParams& p) { p.device.user.reset(); }},
      {"null password", [](FakeOpenParams& p) { p.device.password.reset(); }},
      {"null model", [](FakeOpenParams& p) { p.device.model.reset(); }},
  };
  for (const Case& c : cases) {
    DriverPtr d = MakeDriver();
    FakeDebugSink s;
    FakeOpenParams p;
    c.spoil(p);
    EXPECT_FALSE(d->Open(&s, nullptr, &p)) << c.what;
    EXPECT_EQ(d->GetDeviceInfo().address, "") << c.what << ": nothing of a refused record is kept";
    ASSERT_EQ(s.Messages().size(), 1u) << c.what;
    EXPECT_EQ(s.Messages()[0].level, kLogError) << c.what;
    d->Close();
  }
  EXPECT_FALSE(driver->Open(nullptr, nullptr, nullptr));
  EXPECT_FALSE(driver->Open(&sink, nullptr, nullptr));
}

TEST_F(DriverOpen, CameraLineOverride) {
  struct Case {
    const char* p8;  // null: absent
    const char* p9;
    uint32_t line0, line2;
  };
  const Case cases[] = {
      {nullptr, nullptr, 1, 3}, {"3", nullptr, 3, 3}, {"3", "0", 1, 3},  {"3", "2", 3, 3},
      {"3", "x", 3, 3},         {"0", "1", 1, 3},     {"-2", "1", 1, 3}, {"abc", "1", 1, 3},
      {"3", "(none)", 3, 3},    {"3", " 0", 1, 3},
  };
  for (const Case& c : cases) {
    DriverPtr d = MakeDriver();
    FakeOpenParams p;
    for (uint32_t n = 1; n <= 7; ++n) p.device.parameters[n] = "1";
    if (c.p8) p.device.parameters[8] = c.p8;
    if (c.p9) {
      if (!c.p8) p.device.parameters[8] = "(none)";
      p.device.parameters[9] = c.p9;
    }
    ASSERT_TRUE(d->Open(nullptr, nullptr, &p));
    const std::string label = std::string(c.p8 ? c.p8 : "-") + "/" + (c.p9 ? c.p9 : "-");
    EXPECT_EQ(d->GetCameraLine(0), c.line0) << label;
    EXPECT_EQ(d->GetCameraLine(2), c.line2) << label;
  }
}

TEST_F(DriverOpen, VideoStandardOnlyFromANumber) {
  struct Case {
    const char* p1;
    bool standard;
  };
  for (const Case& c : {Case{nullptr, false}, Case{"0", false}, Case{"1", true}, Case{"2", true},
                        Case{"PAL", false}, Case{"(none)", false}}) {
    DriverPtr d = MakeDriver();
    FakeOpenParams p;
    if (c.p1) p.device.parameters[1] = c.p1;
    ASSERT_TRUE(d->Open(nullptr, nullptr, &p));
    EXPECT_EQ(d->GetVideoStandard(), c.standard) << (c.p1 ? c.p1 : "-");
  }
}

// A non-zero input count makes the audio capture object, a non-zero output count the sender;
// parameters that ask for nothing usable fail Open; without both, Open succeeds.
TEST_F(DriverOpen, AudioStep) {
  struct Case {
    const char* p101;
    const char* p102;
    bool opens;
    bool capture;
    bool sender;
  };
  const Case cases[] = {
      {nullptr, nullptr, true, false, false},
      {"Count=0; IsStereo=0", nullptr, false, false, false},
      {nullptr, "Count=0; IsStereo=0", false, false, false},
      {"Count=1; IsStereo=0", nullptr, true, true, false},
      {"Count=2;IsStereo=1", "Count=0; IsStereo=0", true, true, false},
      {"Count=0; IsStereo=0", "Count=0; IsStereo=0", false, false, false},
      {"Count=1", nullptr, false, false, false},
      {nullptr, "Count=2; IsStereo=0", true, false, true},
      {"Count=1; IsStereo=0", "Count=1; IsStereo=0", true, true, true},
      {"nonsense", "nonsense", false, false, false},
  };
  for (const Case& c : cases) {
    DriverPtr d = MakeDriver();
    FakeOpenParams p;
    if (c.p101) p.device.parameters[101] = c.p101;
    if (c.p102) p.device.parameters[102] = c.p102;
    FakeDebugSink s;
    SCOPED_TRACE(std::string(c.p101 ? c.p101 : "-") + " / " + (c.p102 ? c.p102 : "-"));
    EXPECT_EQ(d->Open(&s, nullptr, &p), c.opens);
    EXPECT_EQ(d->GetAudioCapture2() != nullptr, c.capture);
    EXPECT_EQ(d->GetAudioSender() != nullptr, c.sender);
    // A failed Open leaves the driver as it was (no open message, time-outs unchanged).
    if (!c.opens) {
      EXPECT_EQ(d->GetDeviceInfo().timeout, 5000u);
    }
    d->Close();
    EXPECT_EQ(d->GetAudioCapture2(), nullptr);
    EXPECT_EQ(d->GetAudioSender(), nullptr);
  }
}

TEST_F(DriverOpen, AudioCaptureObjectKeepsToTheHostsCount) {
  DriverPtr d = MakeDriver();
  FakeDebugSink s;
  FakeOpenParams p;
  p.device.parameters[101] = "Count=1; IsStereo=0";
  ASSERT_TRUE(d->Open(&s, nullptr, &p));
  ipcapture::IIPAudioCapture2* audio = d->GetAudioCapture2();
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(audio->GetChannelCount(), 0u);
  EXPECT_EQ(audio->GetChannelStatus(0), 0u);
  EXPECT_FALSE(audio->CloseChannel(0));
  EXPECT_FALSE(audio->Reserved5());
  EXPECT_FALSE(audio->Reserved6());
  IAudioInputChannel* channel = d->CreateAudioInputChannel(3, 7, nullptr, 0);
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(channel->GetStatus(), 0u);
  EXPECT_TRUE(channel->Stop());
  delete channel;
}

TEST_F(DriverOpen, OpenMessageWithAndWithoutFirmware) {
  params.device.address = "192.168.0.9";
  params.device.model = "AUTODOME 7000 100%";
  params.device.parameters = {{1, "1"}, {2, "7.80"}};
  ASSERT_TRUE(Open());
  auto messages = sink.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].level, kLogInfo) << "level 100 reaches a 5.12 host as 3";
  EXPECT_EQ(messages[0].text,
            "DRIVER IS OPENED (name: LumivarIPCapture, device model: AUTODOME 7000 100%, FW: 7.80, "
            "address: 192.168.0.9:80)");

  DriverPtr d = MakeDriver();
  FakeDebugSink s;
  FakeOpenParams p;
  p.device.parameters = {{1, "1"}, {2, "(none)"}};
  ASSERT_TRUE(d->Open(&s, nullptr, &p));
  ASSERT_EQ(s.Messages().size(), 1u);
  EXPECT_EQ(s.Messages()[0].text,
            "DRIVER IS OPENED (name: LumivarIPCapture, device model: Test camera, "
            "address: 127.0.0.1:80)");

  DriverPtr noModel = MakeDriver();
  FakeDebugSink quiet;
  FakeOpenParams empty;
  empty.device.model = "";
  ASSERT_TRUE(noModel->Open(&quiet, nullptr, &empty));
  EXPECT_TRUE(quiet.Messages().empty());
}

TEST_F(DriverOpen, LogDeliversMappedLevelsAndNullForEmpty) {
  ASSERT_TRUE(Open());
  const size_t before = sink.Messages().size();
  driver->Log(kLogDetail, "%s: detail", "vantrel::X::Y");
  driver->Log(kLogError, "%s: %d", "vantrel::X::Y", 5);
  driver->Log(kLogWarning, "%s", "");
  driver->Log(kLogDriverOpened, "opened");
  auto messages = sink.Messages();
  ASSERT_EQ(messages.size(), before + 3);
  EXPECT_EQ(messages[before].level, 1);
  EXPECT_EQ(messages[before].text, "vantrel::X::Y: 5");
  EXPECT_EQ(messages[before + 1].level, 2);
  EXPECT_TRUE(messages[before + 1].textIsNull);
  EXPECT_EQ(messages[before + 2].level, 3);

  DriverPtr unopened = MakeDriver();
  unopened->Log(kLogError, "no sink: %s", "nothing happens");
}

TEST_F(DriverOpen, ChannelSelection) {
  struct Case {
    uint32_t defaultFormat;
    const char* p5;
    uint32_t format;
    VideoChannelKind kind;
  };
  const Case cases[] = {
      {3, nullptr, 1, VideoChannelKind::kMJPEGOverRTSP},  {3, "0", 1, VideoChannelKind::kMJPEGOverHTTP},
      {3, "00", 1, VideoChannelKind::kMJPEGOverHTTP},     {3, "1", 1, VideoChannelKind::kMJPEGOverRTSP},
      {3, "(none)", 1, VideoChannelKind::kMJPEGOverRTSP}, {3, nullptr, 2, VideoChannelKind::kMPEG4OverRCP},
      {3, nullptr, 3, VideoChannelKind::kH264OverRTSP},   {3, nullptr, 0, VideoChannelKind::kH264OverRTSP},
      {1, "0", 16, VideoChannelKind::kMJPEGOverHTTP},     {2, nullptr, 0, VideoChannelKind::kMPEG4OverRCP},
      {3, nullptr, 4, VideoChannelKind::kNone},           {0, nullptr, 0, VideoChannelKind::kNone},
      {16, nullptr, 16, VideoChannelKind::kNone},
  };
  for (const Case& c : cases) {
    DriverPtr d = MakeDriver();
    FakeOpenParams p;
    p.device.defaultVideoFormat = c.defaultFormat;
    for (uint32_t n = 1; n <= 4; ++n) p.device.parameters[n] = "1";
    if (c.p5) p.device.parameters[5] = c.p5;
    ASSERT_TRUE(d->Open(nullptr, nullptr, &p));
    EXPECT_EQ(d->SelectVideoChannel(c.format), c.kind)
        << "default " << c.defaultFormat << " p5 " << (c.p5 ? c.p5 : "-") << " format " << c.format;
  }
  VideoSettings settings;
  EXPECT_EQ(driver->CreateVideoChannel(0, nullptr, settings), nullptr);
}

TEST_F(DriverOpen, CreateVideoChannelMakesTheClassAndResolvesTheDefaultFormat) {
  struct Case {
    uint32_t defaultFormat;
    const char* p5;
    uint32_t format;
    uint32_t resolved;
    const char* made;  // "h264", "mjpeg", "mjpeg-http", "mpeg4" or "none"
  };
  const Case cases[] = {
      {3, nullptr, 3, 3, "h264"}, {3, nullptr, 0, 3, "h264"},   {1, nullptr, 16, 1, "mjpeg"},
      {3, "2", 1, 1, "mjpeg"},    {3, "0", 1, 1, "mjpeg-http"}, {1, "0", 0, 1, "mjpeg-http"},
      {3, nullptr, 4, 4, "none"}, {3, nullptr, 2, 2, "mpeg4"},  {2, nullptr, 0, 2, "mpeg4"},
  };
  testing::TestVideoCallback callback;
  for (const Case& c : cases) {
    DriverPtr d = MakeDriver();
    FakeOpenParams p;
    p.device.defaultVideoFormat = c.defaultFormat;
    if (c.p5) {
      for (uint32_t n = 1; n <= 4; ++n) p.device.parameters[n] = "1";
      p.device.parameters[5] = c.p5;
    }
    ASSERT_TRUE(d->Open(nullptr, nullptr, &p));
    VideoSettings settings;
    settings.format = c.format;
    std::unique_ptr<ICameraChannel> channel(d->CreateVideoChannel(0, &callback, settings));
    const std::string what = std::string("default ") + std::to_string(c.defaultFormat) + " format " +
                             std::to_string(c.format) + " p5 " + (c.p5 ? c.p5 : "-");
    EXPECT_EQ(settings.format, c.resolved) << what;
    const std::string made = dynamic_cast<CH264ChannelRTSP*>(channel.get())    ? "h264"
                             : dynamic_cast<CMJPEGChannelRTSP*>(channel.get()) ? "mjpeg"
                             : dynamic_cast<CMJPEGChannelHTTP*>(channel.get()) ? "mjpeg-http"
                             : dynamic_cast<CMPEGChannelRTP*>(channel.get())   ? "mpeg4"
                             : channel                                         ? "other"
                                                                               : "none";
    EXPECT_EQ(made, c.made) << what;
    channel.reset();
    d->Close();
  }
}

TEST_F(DriverOpen, AccessorsAndCloseAreSafeAtAnyTime) {
  ipcapture::IIPCaptureDriverEx5* host = driver.get();
  EXPECT_EQ(host->GetReservedEx(), nullptr);
  EXPECT_EQ(host->GetReservedEx2(), nullptr);
  EXPECT_EQ(host->GetVideoCapture(), nullptr) << "nothing before Open";
  host->Close();
  params.device.channelCount = 3;
  ASSERT_TRUE(Open());
  // One video-capture object behind all three versions, sized by the host's channel count.
  ipcapture::IIPVideoCaptureEx2* video = host->GetVideoCaptureEx2();
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(static_cast<ipcapture::IIPVideoCapture*>(video), host->GetVideoCapture());
  EXPECT_EQ(static_cast<ipcapture::IIPVideoCaptureEx*>(video), host->GetVideoCaptureEx());
  EXPECT_EQ(video->GetChannelCount(), 3u);
  // The I/O object exists from Open on and is this camera family's; it talks to the camera
  // only when the host starts it.
  ICaptureIOApi* io = host->GetIOApi();
  ASSERT_NE(io, nullptr);
  EXPECT_NE(dynamic_cast<CBoschDigitalIO*>(io), nullptr);
  EXPECT_TRUE(io->StopIO());
  // One PTZ handler behind both versions; channels beyond the host's count are refused.
  IIPPTZDriverEx* ptz = host->GetPTZDriverEx();
  ASSERT_NE(ptz, nullptr);
  EXPECT_EQ(static_cast<IIPPTZDriver*>(ptz), host->GetPTZDriver());
  EXPECT_EQ(ptz->GetPTZApiEx(3), nullptr);
  host->Close();
  EXPECT_EQ(host->GetVideoCapture(), nullptr);
  EXPECT_EQ(host->GetPTZDriver(), nullptr);
  EXPECT_EQ(host->GetPTZDriverEx(), nullptr);
  EXPECT_EQ(host->GetVideoCaptureEx2(), nullptr);
  EXPECT_EQ(host->GetIOApi(), nullptr);
  host->Close();
  EXPECT_EQ(driver->GetEdgeStorageTask(), nullptr);
}

TEST_F(DriverOpen, MotionChannelsAreMadeForEveryInput) {
  testing::TestVideoCallback callback;
  for (uint32_t channel : {0u, 3u}) {
    std::unique_ptr<IMotionChannel> motion(driver->CreateMotionChannel(channel, &callback));
    ASSERT_NE(dynamic_cast<CMotionChannel*>(motion.get()), nullptr);
    EXPECT_EQ(motion->GetChannel(), channel);
    EXPECT_EQ(motion->GetCallback(), &callback);
    EXPECT_FALSE(motion->IsMotionDataFlowing());
  }
}

TEST_F(DriverOpen, EdgeStorageHandlersShareOneTaskThatOutlivesThem) {
  ASSERT_TRUE(Open());
  EXPECT_EQ(driver->GetEdgeStorageTask(), nullptr) << "no task before the first handler";
  std::unique_ptr<IEdgeStorageHandler> first(driver->CreateEdgeStorageHandler());
  ASSERT_NE(first, nullptr);
  CEdgeStorageTask* task = driver->GetEdgeStorageTask();
  ASSERT_NE(task, nullptr);
  EXPECT_TRUE(task->HasHandler());
  // A handler made by a racing caller and dropped again leaves the task with the first one.
  std::unique_ptr<IEdgeStorageHandler> second(driver->CreateEdgeStorageHandler());
  EXPECT_EQ(driver->GetEdgeStorageTask(), task);
  second.reset();
  EXPECT_TRUE(task->HasHandler());
  first.reset();
  EXPECT_FALSE(task->HasHandler()) << "the task must not hand frames to a destroyed handler";
  driver->Close();
  EXPECT_EQ(driver->GetEdgeStorageTask(), nullptr);
}

TEST(DriverHostDirectory, IsTheExecutablesDirectory) {
  char path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameA(nullptr, path, sizeof(path)), 0u);
  std::string expected(path);
  expected.erase(expected.find_last_of('\\') + 1);
  DriverPtr d = MakeDriver();
  EXPECT_EQ(d->GetHostDirectory(), expected);
  EXPECT_EQ(d->GetHostDirectory().back(), '\\');
}

TEST(DriverFactory, LastDeleteShutsTheLibraryDown) {
  ASSERT_EQ(DriverInstanceCount(), 0);
  const uint32_t dispatches = rcpplus::System::dispatchCount();
  const uint32_t terminations = rcpplus::System::terminateCount();

  ipcapture::IIPCaptureDriverEx5* first = CreateDriverInstance();
  ipcapture::IIPCaptureDriverEx5* second = CreateDriverInstance();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(DriverInstanceCount(), 2);

  DeleteDriverInstance(first);
  EXPECT_EQ(DriverInstanceCount(), 1);
  EXPECT_EQ(rcpplus::System::terminateCount(), terminations) << "a driver still lives";

  DeleteDriverInstance(second);
  EXPECT_EQ(DriverInstanceCount(), 0);
  EXPECT_EQ(rcpplus::System::dispatchCount(), dispatches + 1);
  EXPECT_EQ(rcpplus::System::terminateCount(), terminations + 1);

  // A delete without a live driver neither goes negative nor shuts down again.
  DeleteDriverInstance(nullptr);
  EXPECT_EQ(DriverInstanceCount(), 0);
  EXPECT_EQ(rcpplus::System::terminateCount(), terminations + 1);
}

TEST(DriverFactory, DeletingNullStillCountsDown) {
  ipcapture::IIPCaptureDriverEx5* a = CreateDriverInstance();
  ipcapture::IIPCaptureDriverEx5* b = CreateDriverInstance();
  const uint32_t terminations = rcpplus::System::terminateCount();
  DeleteDriverInstance(nullptr);  // e.g. after a failed factory call
  EXPECT_EQ(DriverInstanceCount(), 1);
  DeleteDriverInstance(a);
  EXPECT_EQ(rcpplus::System::terminateCount(), terminations + 1);
  // b was already counted off: deleting it only destroys it.
  DeleteDriverInstance(b);
  EXPECT_EQ(rcpplus::System::terminateCount(), terminations + 1);
  EXPECT_EQ(DriverInstanceCount(), 0);
}

// An opened driver deleted through the factory closes itself on the way out.
TEST(DriverFactory, DeleteOfAnOpenedDriver) {
  ipcapture::IIPCaptureDriverEx5* d = CreateDriverInstance();
  FakeDebugSink sink;
  FakeOpenParams params;
  ASSERT_TRUE(d->Open(&sink, nullptr, &params));
  DeleteDriverInstance(d);
  EXPECT_EQ(DriverInstanceCount(), 0);
}

// Stops the host made from inside a callback finish on the tear-down queue; they log through the
// driver, so Close waits for them before the host may delete it.
TEST_F(DriverOpen, CloseWaitsForTheStopsLeftOnTheTearDownQueue) {
  ASSERT_TRUE(Open());
  std::atomic<bool> done{false};
  CTeardownQueue::Post([&done] {
    Sleep(300);
    done = true;
  });
  driver->Close();
  EXPECT_TRUE(done.load());
}

// Once the last driver is deleted the host may unload the library: the tear-down thread is gone.
TEST(DriverFactory, LastDeleteEndsTheTearDownThread) {
  ipcapture::IIPCaptureDriverEx5* d = CreateDriverInstance();
  ASSERT_NE(d, nullptr);
  HANDLE queueThread = nullptr;
  CManualEvent posted;
  CTeardownQueue::Post([&] {
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &queueThread, SYNCHRONIZE,
                    FALSE, 0);
    posted.Set();
  });
  ASSERT_TRUE(posted.Wait(5000));
  ASSERT_NE(queueThread, nullptr);
  DeleteDriverInstance(d);
  EXPECT_EQ(WaitForSingleObject(queueThread, 3000), static_cast<DWORD>(WAIT_OBJECT_0)) << "still running";
  CloseHandle(queueThread);
}

}  // namespace
}  // namespace vantrel
