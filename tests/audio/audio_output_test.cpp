#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "audio/audio_output_channel.h"
#include "audio/base_audio_output_channel.h"
#include "audio/ip_audio_sender.h"
#include "core/audio_channel_creator.h"
#include "foundation/teardown_queue.h"
#include "support/fake_driver.h"
#include "vantrel/ipcapture/audio_types.h"
#include "vantrel/ipcapture/host_objects.h"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

uint32_t Tag(const char* t) {
  return uint32_t(uint8_t(t[0])) | uint32_t(uint8_t(t[1])) << 8 | uint32_t(uint8_t(t[2])) << 16 |
         uint32_t(uint8_t(t[3])) << 24;
}

// ---- host objects ----

class FakeAudioFrame final : public ipcapture::IIPAudioFrame {
 public:
  FakeAudioFrame(uint32_t size, uint32_t bitRate = 64000) : data(size, 0x7F), bitRate(bitRate) {}
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  uint8_t* GetData() override { return data.empty() ? nullptr : data.data(); }
  uint32_t GetDataSize() override { return static_cast<uint32_t>(data.size()); }
  void SetDataSize(uint32_t) override {}
  uint32_t GetFourCC() override { return tag; }
  void SetFormat(uint32_t rate, uint32_t, bool isStereo) override { sampleRate = rate, stereo = isStereo; }
  uint32_t GetSampleRate() override { return sampleRate; }
  uint32_t GetBitsPerSample() override { return 16; }
  bool IsStereo() override { return stereo; }
  void SetBitRate(uint32_t v) override { bitRate = v; }
  uint32_t GetBitRate() override { return bitRate; }
  void SetChannel(uint32_t v) override { channel = v; }
  uint32_t GetChannel() override { return channel; }
  void SetTime(const SYSTEMTIME*) override {}
  void GetTime(SYSTEMTIME*) override {}
  void SetDecoderConfig(const uint8_t*, uint32_t) override {}

  std::vector<uint8_t> data;
  uint32_t tag = Tag("711M");
  uint32_t sampleRate = 8000;
  bool stereo = false;
  uint32_t bitRate;
  uint32_t channel = 0;
};

class CountingAllocator final : public ipcapture::IIPFrameAllocator {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  void Reserved1() override {}
  ipcapture::IIPFrame* Allocate(uint32_t, uint32_t, const char*) override { return nullptr; }
  void* AllocateAudio(uint32_t, uint32_t, const char*) override { return nullptr; }
  void Reserved4() override {}
  void Reserved5() override {}
  void Release(void* frame) override {
    if (frame == slow) std::this_thread::sleep_for(1000ms);
    std::lock_guard<std::mutex> guard(lock);
    released.push_back(frame);
  }
  std::atomic<void*> slow{nullptr};  // its release blocks for a second, as a busy host may
  size_t TimesReleased(void* frame) {
    std::lock_guard<std::mutex> guard(lock);
    return static_cast<size_t>(std::count(released.begin(), released.end(), frame));
  }
  size_t Count() {
    std::lock_guard<std::mutex> guard(lock);
    return released.size();
  }
  std::mutex lock;
  std::vector<void*> released;
};

class FakeEntry final : public ipcapture::IIPAudioFormatEntry {
 public:
  FakeEntry(const char* tag, bool usable) : tag(Tag(tag)), usable(usable) {}
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  bool IsUsable() override { return usable; }
  uint32_t GetFourCC() override { return tag; }
  uint32_t tag;
  bool usable;
};

class FakeFormatList final : public ipcapture::IIPAudioFormatList {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  uint32_t GetCount() override { return static_cast<uint32_t>(entries.size()); }
  ipcapture::IIPAudioFormatEntry* GetEntry(uint32_t i) override {
    return i < entries.size() ? &entries[i] : nullptr;
  }
  std::vector<FakeEntry> entries;
};

class StatusRecorder final : public ipcapture::IIPAudioStatusCallback {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  void OnChannelStatus(uint32_t index, uint32_t status) override {
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(index, 7u);
    statuses.push_back(status);
  }
  std::vector<uint32_t> Get() {
    std::lock_guard<std::mutex> guard(lock);
    return statuses;
  }
  bool WaitFor(std::vector<uint32_t> expected, std::chrono::milliseconds limit = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (Get() == expected) return true;
      std::this_thread::sleep_for(5ms);
    }
    return Get() == expected;
  }
  std::mutex lock;
  std::vector<uint32_t> statuses;
};

// ---- a channel whose camera steps are scripted ----

class ScriptedChannel final : public CBaseAudioOutputChannel {
 public:
  ScriptedChannel(IDriver* driver, ipcapture::IIPAudioStatusCallback* callback,
                  ipcapture::IIPAudioFormatList* formats, std::atomic<int>* deletions = nullptr)
      : CBaseAudioOutputChannel(7, driver, 0, callback, formats), deletions_(deletions) {}
  ~ScriptedChannel() override {
    Stop();
    JoinThread(kStopWaitMs);
    if (deletions_) ++*deletions_;
  }

  // The first start only pretends, so that the test can post behind the connect item before
  // the thread could take it.
  std::atomic<bool> holdFirstStart{false};
  bool StartQueueThread(const std::string& name) override {
    if (holdFirstStart.exchange(false)) return true;
    return CBaseAudioOutputChannel::StartQueueThread(name);
  }
  bool ReleaseStart() { return CBaseAudioOutputChannel::StartQueueThread("Base Audio Output Channel"); }

  // A camera that never answers the enable: blocks until aborted, or for enableBlockMs whatever
  // the abort when ignoresAbort is set.
  std::atomic<int> enableBlockMs{0};
  std::atomic<bool> ignoresAbort{false};
  std::atomic<int> aborts{0};
  std::atomic<bool> permanent{false};

  std::atomic<int> enableFailures{0};  // the next this many enables fail
  std::atomic<int> enables{0};
  std::atomic<bool> sendOk{true};
  std::atomic<int> sends{0};
  std::atomic<int> sendMs{0};
  std::mutex timesLock;
  std::vector<std::chrono::steady_clock::time_point> enableTimes;

 protected:
  void AbortCamera() override {
    aborts++;
    abortEvent_.Set();
  }
  bool CanConnect() override { return !permanent.load(); }
  bool EnableAudio() override {
    enables++;
    if (enableBlockMs.load()) {
      if (ignoresAbort.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(enableBlockMs.load()));
      } else if (abortEvent_.Wait(static_cast<uint32_t>(enableBlockMs.load()))) {
        return false;
      }
    }
    {
      std::lock_guard<std::mutex> guard(timesLock);
      enableTimes.push_back(std::chrono::steady_clock::now());
    }
    if (enableFailures.load() > 0) {
      enableFailures--;
      return false;
    }
    return true;
  }
  bool IsEntryUsable(ipcapture::IIPAudioFormatEntry* e) override {
    return e->IsUsable() && e->GetFourCC() == Tag("711M");
  }
  bool FrameMatchesFormat(ipcapture::IIPAudioFrame* f) override { return f->GetBitRate() == 64000; }
  bool SendFrame(ipcapture::IIPAudioFrame*) override {
    sends++;
    if (sendMs.load()) std::this_thread::sleep_for(std::chrono::milliseconds(sendMs.load()));
    return sendOk.load();
  }

 private:
  std::atomic<int>* const deletions_;
  CManualEvent abortEvent_;
};

using Clock = std::chrono::steady_clock;
long long MsSince(Clock::time_point begin) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
}

struct AudioOutputTest : ::testing::Test {
  AudioOutputTest() {
    driver.allocator = &allocator;
    formats.entries = {FakeEntry("AAC1", true), FakeEntry("711M", false), FakeEntry("711M", true)};
  }
  testing::FakeDriver driver;
  CountingAllocator allocator;
  FakeFormatList formats;
  StatusRecorder status;
};

TEST_F(AudioOutputTest, StartRunsAndStopEndsAtZero) {
  ScriptedChannel channel(&driver, &status, &formats);
  ASSERT_TRUE(channel.Start());
  EXPECT_TRUE(status.WaitFor({1, 2}));
  EXPECT_EQ(channel.enables.load(), 1);
  EXPECT_TRUE(channel.Stop());
  EXPECT_EQ(status.Get(), std::vector<uint32_t>({1, 2, 3, 0}));
  EXPECT_EQ(channel.GetStatus(), 0u);
}

// The host's first frame right after the open must not push out the waiting connect: the
// channel would never connect and drop every frame without a word.
TEST_F(AudioOutputTest, ASendRightAfterStartKeepsTheConnect) {
  ScriptedChannel channel(&driver, &status, &formats);
  channel.holdFirstStart = true;
  ASSERT_TRUE(channel.Start());
  FakeAudioFrame first(640), second(640);
  ASSERT_TRUE(channel.SendAudio(&first));
  ASSERT_TRUE(channel.SendAudio(&second));
  EXPECT_EQ(channel.GetQueuedCount(), 2u) << "the connect and the newest frame";
  EXPECT_EQ(allocator.TimesReleased(&first), 1u) << "the older frame gave way";
  ASSERT_TRUE(channel.ReleaseStart());
  EXPECT_TRUE(status.WaitFor({1, 2}));
  for (int i = 0; i < 200 && channel.sends.load() == 0; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(channel.enables.load(), 1);
  EXPECT_EQ(channel.sends.load(), 1) << "the frame behind the connect is sent once connected";
  channel.Stop();
  EXPECT_EQ(allocator.TimesReleased(&second), 1u);
}

// Stops against a camera that does not answer: the request in flight is aborted, so the stop
// is quick; a thread that ignores the abort is given up on after the bound, honestly.
TEST_F(AudioOutputTest, StopAbortsTheRequestInFlightAndIsBounded) {
  {
    ScriptedChannel channel(&driver, &status, &formats);
    channel.enableBlockMs = 20000;
    ASSERT_TRUE(channel.Start());
    for (int i = 0; i < 400 && channel.enables.load() == 0; ++i) std::this_thread::sleep_for(5ms);
    const auto begin = Clock::now();
    EXPECT_TRUE(channel.Stop());
    const long long ms = MsSince(begin);
    std::printf("stop during a silent enable: %lld ms\n", ms);
    EXPECT_LT(ms, 2000) << "aborted, not waited out";
    EXPECT_EQ(channel.GetStatus(), 0u);
    EXPECT_GE(channel.aborts.load(), 1);
  }
  {
    std::atomic<int> deletions{0};
    auto* channel = new ScriptedChannel(&driver, &status, &formats, &deletions);
    channel->enableBlockMs = 7000;
    channel->ignoresAbort = true;
    ASSERT_TRUE(channel->Start());
    for (int i = 0; i < 400 && channel->enables.load() == 0; ++i) std::this_thread::sleep_for(5ms);
    const auto begin = Clock::now();
    EXPECT_FALSE(channel->Stop()) << "the thread did not end: the stop says so";
    const long long ms = MsSince(begin);
    std::printf("stop with a thread past the bound: %lld ms\n", ms);
    EXPECT_GE(ms, 4900);
    EXPECT_LT(ms, 6500);
    const size_t reports = status.Get().size();
    delete channel;  // waits for the thread
    EXPECT_EQ(deletions.load(), 1);
    EXPECT_EQ(status.Get().size(), reports) << "no status report after the stop returned";
  }
}

// A status callback that blocks for 3 s is waited out, and nothing is reported after the stop.
TEST_F(AudioOutputTest, StopWaitsOutABlockingStatusCallback) {
  struct Blocking final : ipcapture::IIPAudioStatusCallback {
    void* ScalarDeletingDestructor(unsigned int) override { return this; }
    void OnChannelStatus(uint32_t, uint32_t s) override {
      if (s == 2) {
        entered = true;
        std::this_thread::sleep_for(3000ms);
        left = true;
      }
      if (stopped) late++;
    }
    std::atomic<bool> entered{false}, left{false}, stopped{false};
    std::atomic<int> late{0};
  } blocking;
  ScriptedChannel channel(&driver, &blocking, &formats);
  ASSERT_TRUE(channel.Start());
  for (int i = 0; i < 400 && !blocking.entered; ++i) std::this_thread::sleep_for(5ms);
  ASSERT_TRUE(blocking.entered);
  const auto begin = Clock::now();
  EXPECT_TRUE(channel.Stop());
  blocking.stopped = true;
  const long long ms = MsSince(begin);
  std::printf("stop behind a 3 s status callback: %lld ms\n", ms);
  EXPECT_TRUE(blocking.left) << "the stop returned while the host's callback still ran";
  EXPECT_LT(ms, 5500);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(blocking.late.load(), 0);
}

TEST_F(AudioOutputTest, APermanentFailureIsNotRetried) {
  ScriptedChannel channel(&driver, &status, &formats);
  channel.enableFailures = 100;
  channel.permanent = true;
  ASSERT_TRUE(channel.Start());
  EXPECT_TRUE(status.WaitFor({1, 5}));
  FakeAudioFrame frame(640);
  EXPECT_TRUE(channel.SendAudio(&frame));
  std::this_thread::sleep_for(1800ms);
  EXPECT_EQ(channel.enables.load(), 1) << "no reconnect item, no reconnect for a frame";
  EXPECT_EQ(status.Get(), std::vector<uint32_t>({1, 5}));
  EXPECT_EQ(allocator.TimesReleased(&frame), 1u);
}

TEST_F(AudioOutputTest, NoCommonFormatIsAnErrorWithoutRetry) {
  formats.entries = {FakeEntry("AAC1", true), FakeEntry("711M", false)};
  ScriptedChannel channel(&driver, &status, &formats);
  ASSERT_TRUE(channel.Start());
  EXPECT_TRUE(status.WaitFor({1, 4}));
  std::this_thread::sleep_for(1700ms);
  EXPECT_EQ(channel.enables.load(), 0);
  EXPECT_EQ(status.Get(), std::vector<uint32_t>({1, 4}));
  EXPECT_TRUE(channel.Stop());
  EXPECT_EQ(status.Get(), std::vector<uint32_t>({1, 4, 0}));
  ASSERT_FALSE(driver.lines.empty());
  EXPECT_NE(driver.lines.back().text.find("no common audio format"), std::string::npos);
}

TEST_F(AudioOutputTest, FailedConnectIsRetriedEvery1500Ms) {
  ScriptedChannel channel(&driver, &status, &formats);
  channel.enableFailures = 2;
  ASSERT_TRUE(channel.Start());
  EXPECT_TRUE(status.WaitFor({1, 5, 1, 5, 1, 2}, 8000ms));
  std::lock_guard<std::mutex> guard(channel.timesLock);
  ASSERT_EQ(channel.enableTimes.size(), 3u);
  EXPECT_GE(channel.enableTimes[1] - channel.enableTimes[0], 1450ms);
  EXPECT_GE(channel.enableTimes[2] - channel.enableTimes[1], 1450ms);
}

TEST_F(AudioOutputTest, FailedSendReportsLossAndReconnects) {
  ScriptedChannel channel(&driver, &status, &formats);
  ASSERT_TRUE(channel.Start());
  ASSERT_TRUE(status.WaitFor({1, 2}));
  channel.sendOk = false;
  FakeAudioFrame frame(640);
  ASSERT_TRUE(channel.SendAudio(&frame));
  EXPECT_TRUE(status.WaitFor({1, 2, 5, 1, 2}, 5000ms));
  EXPECT_EQ(allocator.TimesReleased(&frame), 1u);
}

TEST_F(AudioOutputTest, SendAudioRefusesWhatItCannotSend) {
  ScriptedChannel channel(&driver, &status, &formats);
  ASSERT_TRUE(channel.Start());
  ASSERT_TRUE(status.WaitFor({1, 2}));
  FakeAudioFrame empty(0), slow(640, 32000), good(640);
  EXPECT_FALSE(channel.SendAudio(nullptr));
  EXPECT_FALSE(channel.SendAudio(&empty)) << "no data";
  EXPECT_FALSE(channel.SendAudio(&slow)) << "32000 bit/s is not the channel's format";
  driver.allocator = nullptr;
  EXPECT_FALSE(channel.SendAudio(&good)) << "no frame allocator from the host";
  driver.allocator = &allocator;
  channel.Stop();
  EXPECT_FALSE(channel.SendAudio(&good)) << "stopped";
  EXPECT_EQ(allocator.Count(), 0u) << "refused frames stay the host's";
}

// A slow camera: every frame offered is taken, at most one waits, and each goes back to the
// allocator exactly once, sent or discarded.
TEST_F(AudioOutputTest, OneWaitingFrameAtMostAndEveryFrameReleasedOnce) {
  std::vector<FakeAudioFrame> frames(10, FakeAudioFrame(640));
  {
    ScriptedChannel channel(&driver, &status, &formats);
    channel.sendMs = 150;
    ASSERT_TRUE(channel.Start());
    ASSERT_TRUE(status.WaitFor({1, 2}));
    for (auto& f : frames) {
      EXPECT_TRUE(channel.SendAudio(&f));
      std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(400ms);
    EXPECT_LE(channel.sends.load(), 3);
    EXPECT_GE(channel.sends.load(), 2);
  }
  for (auto& f : frames) EXPECT_EQ(allocator.TimesReleased(&f), 1u);
}

TEST_F(AudioOutputTest, OutputChannelFormat) {
  CAudioOutputChannel channel(&driver, 0, 7, &status, &formats);
  struct Format final : ipcapture::IIPAudioFormat {
    void* ScalarDeletingDestructor(unsigned int) override { return this; }
    void SetFourCC(uint32_t v) override { tag = v; }
    void SetSampleRate(uint32_t v) override { rate = v; }
    void SetBitRate(uint32_t v) override { bitRate = v; }
    void SetStereo(bool v) override { stereo = v; }
    uint32_t tag = 0, rate = 0, bitRate = 0;
    bool stereo = true;
  } format;
  ASSERT_TRUE(channel.GetAudioFormat(&format));
  EXPECT_EQ(format.tag, Tag("711M"));
  EXPECT_EQ(format.rate, 8000u);
  EXPECT_EQ(format.bitRate, 64000u);
  EXPECT_FALSE(format.stereo);
  EXPECT_FALSE(channel.GetAudioFormat(nullptr));
}

// A camera reached over HTTPS only: the streaming connection has no TLS. One clear line, no
// retries, and the address without the credentials the streamer's URL would carry.
TEST_F(AudioOutputTest, HttpsOnlyCameraIsSaidOnceAndNotRetried) {
  struct Channel final : CAudioOutputChannel {
    using CAudioOutputChannel::CanConnect;
    using CAudioOutputChannel::CAudioOutputChannel;
    using CAudioOutputChannel::RefuseSecureTransport;
  };
  driver.info.address = "127.0.0.13";
  driver.info.port = 443;
  driver.info.user = "service";
  driver.info.password = "s3cret";
  Channel channel(&driver, 0, 7, &status, &formats);
  EXPECT_FALSE(channel.RefuseSecureTransport(false));
  EXPECT_TRUE(channel.CanConnect());
  EXPECT_TRUE(channel.RefuseSecureTransport(true));
  EXPECT_TRUE(channel.RefuseSecureTransport(true));
  EXPECT_FALSE(channel.CanConnect()) << "never retried";
  int lines = 0;
  for (const auto& l : driver.Lines()) {
    EXPECT_EQ(l.text.find("s3cret"), std::string::npos) << l.text;
    lines += l.level == kLogError &&
             l.text ==
                 "vantrel::CAudioOutputChannel::EnableAudio: Audio output to 127.0.0.13 requires HTTPS, "
                 "which the streaming connection does not support";
  }
  EXPECT_EQ(lines, 1);
}

// A camera that cannot be reached: the host only sees status 5 while the channel retries, so the
// log says why, and says it once for the whole run of failures.
TEST_F(AudioOutputTest, AnUnreachableCameraIsSaidOnceAcrossRetries) {
  struct Channel final : CAudioOutputChannel {
    using CAudioOutputChannel::CAudioOutputChannel;
    using CAudioOutputChannel::EnableAudio;
  };
  driver.info.address = "127.0.0.1";
  driver.info.port = 1;  // nothing listens: refused at once
  Channel channel(&driver, 0, 7, &status, &formats);
  EXPECT_FALSE(channel.EnableAudio());
  EXPECT_FALSE(channel.EnableAudio());
  EXPECT_FALSE(channel.EnableAudio());
  int lines = 0;
  for (const auto& l : driver.Lines())
    lines += l.level == kLogWarning &&
             l.text.rfind("vantrel::CAudioOutputChannel::EnableAudio: the camera 127.0.0.1 did not switch its "
                          "audio output on: ",
                          0) == 0;
  EXPECT_EQ(lines, 1);
}

// ---- the host-facing sender ----

class FakeOutput final : public IAudioOutputChannel {
 public:
  FakeOutput(std::vector<FakeOutput*>& deleted, std::vector<int>& deletedStops, bool starts)
      : deleted_(deleted), deletedStops_(deletedStops), starts_(starts) {}
  ~FakeOutput() override {
    deleted_.push_back(this);
    deletedStops_.push_back(stops);
  }
  bool Start() override { return starts_; }
  bool Stop() override {
    stops++;
    return stopResult;
  }
  uint32_t GetStatus() override { return 2; }
  bool GetAudioFormat(ipcapture::IIPAudioFormat*) override { return true; }
  bool SendAudio(ipcapture::IIPAudioFrame* frame) override {
    sent.push_back(frame);
    return true;
  }
  int stops = 0;
  bool stopResult = true;
  std::vector<ipcapture::IIPAudioFrame*> sent;

 private:
  std::vector<FakeOutput*>& deleted_;
  std::vector<int>& deletedStops_;
  bool starts_;
};

class FakeCreator final : public IAudioChannelCreator {
 public:
  IAudioInputChannel* CreateAudioInputChannel(uint32_t, uint32_t, void*, uint64_t) override {
    return nullptr;
  }
  IAudioOutputChannel* CreateAudioOutputChannel(uint32_t channel, uint32_t, void*, void*) override {
    auto* made = new FakeOutput(deleted, deletedStops, startFails.count(channel) == 0);
    created[channel] = made;
    return made;
  }
  std::map<uint32_t, FakeOutput*> created;
  std::vector<FakeOutput*> deleted;
  std::vector<int> deletedStops;  // how often each deleted channel was stopped first
  std::set<uint32_t> startFails;
};

TEST(IPAudioSender, ChannelsOpenOnceUpToTheMaximum) {
  FakeCreator creator;
  creator.startFails = {9};
  auto* sender = new CIPAudioSender(&creator, 2);
  ipcapture::IIPAudioSender* host = sender;
  EXPECT_TRUE(host->OpenChannel(1, 7, nullptr, nullptr));
  EXPECT_TRUE(host->OpenChannel(1, 7, nullptr, nullptr)) << "already open";
  EXPECT_EQ(creator.created.size(), 1u);
  EXPECT_FALSE(host->OpenChannel(9, 7, nullptr, nullptr)) << "does not start";
  EXPECT_EQ(creator.deleted.size(), 1u) << "a channel that did not start is stopped and deleted";
  EXPECT_EQ(creator.deletedStops, std::vector<int>({1}));
  EXPECT_TRUE(host->OpenChannel(0, 7, nullptr, nullptr));
  EXPECT_FALSE(host->OpenChannel(2, 7, nullptr, nullptr)) << "the maximum is open";
  EXPECT_EQ(host->GetChannelCount(), 2u);
  EXPECT_EQ(host->GetChannelStatus(1), 2u);
  EXPECT_EQ(host->GetChannelStatus(5), 0u) << "not open";

  FakeAudioFrame frame(640);
  frame.channel = 0x101;  // the low byte picks the channel
  EXPECT_TRUE(host->Send(&frame));
  EXPECT_EQ(creator.created[1]->sent.size(), 1u);
  frame.channel = 3;
  EXPECT_FALSE(host->Send(&frame));
  EXPECT_FALSE(host->Send(nullptr));
  EXPECT_FALSE(host->GetAudioFormat(3, nullptr));
  EXPECT_FALSE(host->Unsupported7());
  EXPECT_FALSE(host->Unsupported8());

  creator.created[1]->stopResult = false;
  EXPECT_FALSE(host->CloseChannel(1)) << "the stop's result";
  EXPECT_FALSE(host->CloseChannel(1)) << "not open any more";
  EXPECT_EQ(host->GetChannelCount(), 1u);
  host->ScalarDeletingDestructor(1);
  // The channel whose stop did not end its thread is deleted on the tear-down queue.
  EXPECT_TRUE(CTeardownQueue::Drain(5000));
  EXPECT_EQ(creator.deletedStops, std::vector<int>({1, 1, 1})) << "every channel stopped, then deleted";
}

// Real channels behind the sender, with scripted cameras.
class ScriptedCreator final : public IAudioChannelCreator {
 public:
  ScriptedCreator(IDriver* driver, ipcapture::IIPAudioFormatList* formats)
      : driver_(driver), formats_(formats) {}
  IAudioInputChannel* CreateAudioInputChannel(uint32_t, uint32_t, void*, uint64_t) override {
    return nullptr;
  }
  IAudioOutputChannel* CreateAudioOutputChannel(uint32_t channel, uint32_t, void* callback, void*) override {
    auto* made = new ScriptedChannel(driver_, static_cast<ipcapture::IIPAudioStatusCallback*>(callback),
                                     formats_, &deletions);
    made->enableBlockMs = enableBlockMs[channel];
    made->ignoresAbort = true;
    last = made;
    return made;
  }
  std::map<uint32_t, int> enableBlockMs;
  std::atomic<int> deletions{0};
  std::atomic<ScriptedChannel*> last{nullptr};

 private:
  IDriver* const driver_;
  ipcapture::IIPAudioFormatList* const formats_;
};

// CloseChannel from inside the channel's own status callback: no deadlock, nothing freed under
// the callback, no report after the close returned, the channel deleted later.
TEST_F(AudioOutputTest, CloseFromInsideTheStatusCallback) {
  ScriptedCreator creator(&driver, &formats);
  CIPAudioSender sender(&creator, 2);
  struct Closing final : ipcapture::IIPAudioStatusCallback {
    void* ScalarDeletingDestructor(unsigned int) override { return this; }
    void OnChannelStatus(uint32_t, uint32_t s) override {
      if (closed) late++;
      if (s != 2) return;
      result = sender->CloseChannel(0) ? 1 : 0;
      closed = true;
    }
    ipcapture::IIPAudioSender* sender = nullptr;
    std::atomic<int> result{-1}, late{0};
    std::atomic<bool> closed{false};
  } closing;
  closing.sender = &sender;
  ASSERT_TRUE(sender.OpenChannel(0, 7, &closing, &formats));
  for (int i = 0; i < 600 && !closing.closed; ++i) std::this_thread::sleep_for(5ms);
  ASSERT_TRUE(closing.closed) << "the close from the callback returned";
  EXPECT_EQ(closing.result.load(), 0) << "the thread was still running: not reported as ended";
  EXPECT_EQ(sender.GetChannelCount(), 0u) << "unlinked at once";
  EXPECT_TRUE(CTeardownQueue::Drain(10000));
  EXPECT_EQ(creator.deletions.load(), 1);
  EXPECT_EQ(closing.late.load(), 0);
}

// The first report ("connecting") comes from OpenChannel itself, on the host's thread: a close
// from there reaches the channel being opened, and nothing is reported after it returned.
TEST_F(AudioOutputTest, CloseFromTheReportMadeByTheOpen) {
  ScriptedCreator creator(&driver, &formats);
  CIPAudioSender sender(&creator, 2);
  struct Closing final : ipcapture::IIPAudioStatusCallback {
    void* ScalarDeletingDestructor(unsigned int) override { return this; }
    void OnChannelStatus(uint32_t, uint32_t) override {
      if (closed) late++;
      if (closed.exchange(true)) return;
      result = sender->CloseChannel(0) ? 1 : 0;
      returned = true;
    }
    ipcapture::IIPAudioSender* sender = nullptr;
    std::atomic<int> result{-1}, late{0};
    std::atomic<bool> closed{false}, returned{false};
  } closing;
  closing.sender = &sender;
  EXPECT_TRUE(sender.OpenChannel(0, 7, &closing, &formats));
  ASSERT_TRUE(closing.returned) << "the close was made from the open's own report";
  EXPECT_EQ(closing.result.load(), 0) << "the open was still on the stack: not reported as ended";
  EXPECT_EQ(sender.GetChannelCount(), 0u);
  EXPECT_EQ(sender.GetChannelStatus(0), 0u);
  EXPECT_FALSE(sender.CloseChannel(0)) << "already closed";
  std::this_thread::sleep_for(300ms);  // a connect that slipped through would report by now
  EXPECT_TRUE(CTeardownQueue::Drain(10000));
  EXPECT_EQ(creator.deletions.load(), 1);
  EXPECT_EQ(closing.late.load(), 0);
  // The channel number is free again.
  StatusRecorder again;
  ASSERT_TRUE(sender.OpenChannel(0, 7, &again, &formats));
  EXPECT_TRUE(again.WaitFor({1, 2}));
}

// One channel's close waits for its camera; the host's other channels do not wait with it.
TEST_F(AudioOutputTest, AClosingChannelDoesNotStallTheOthers) {
  ScriptedCreator creator(&driver, &formats);
  creator.enableBlockMs[0] = 3000;  // a camera that ignores the abort
  CIPAudioSender sender(&creator, 2);
  StatusRecorder other;
  ASSERT_TRUE(sender.OpenChannel(1, 7, &other, &formats));
  ASSERT_TRUE(other.WaitFor({1, 2}));
  ASSERT_TRUE(sender.OpenChannel(0, 7, &status, &formats));
  std::this_thread::sleep_for(100ms);
  std::atomic<bool> closed{false};
  std::thread closer([&] {
    sender.CloseChannel(0);
    closed = true;
  });
  std::this_thread::sleep_for(200ms);
  long long worst = 0;
  FakeAudioFrame frame(640);
  frame.channel = 1;
  for (int i = 0; i < 10 && !closed; ++i) {
    const auto begin = Clock::now();
    EXPECT_EQ(sender.GetChannelStatus(1), 2u);
    if (i == 0) {
      EXPECT_TRUE(sender.Send(&frame));
    }
    worst = std::max(worst, MsSince(begin));
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_FALSE(closed.load()) << "the close was still waiting meanwhile";
  closer.join();
  std::printf("other channel's calls during a close: worst %lld ms\n", worst);
  EXPECT_LT(worst, 500);
}

// A frame handed back to the host's allocator (one that gave way to a newer frame) is a call
// into the host: the sender's lock is not held across it.
TEST_F(AudioOutputTest, AFrameGivenBackDoesNotHoldTheSendersLock) {
  ScriptedCreator creator(&driver, &formats);
  CIPAudioSender sender(&creator, 1);
  ASSERT_TRUE(sender.OpenChannel(0, 7, &status, &formats));
  ASSERT_TRUE(status.WaitFor({1, 2}));
  FakeAudioFrame busy(640), waiting(640), newest(640);
  allocator.slow = &waiting;
  auto* channel = static_cast<ScriptedChannel*>(creator.last.load());
  channel->sendMs = 1500;
  ASSERT_TRUE(sender.Send(&busy));
  std::this_thread::sleep_for(100ms);  // the thread is in its send now
  ASSERT_TRUE(sender.Send(&waiting));
  std::thread host([&] { EXPECT_TRUE(sender.Send(&newest)); });  // pushes `waiting` out
  std::this_thread::sleep_for(200ms);
  const auto begin = Clock::now();
  EXPECT_EQ(sender.GetChannelStatus(0), 2u);
  const long long ms = MsSince(begin);
  host.join();
  EXPECT_LT(ms, 500) << "the status waited for the host's allocator";
  EXPECT_EQ(allocator.TimesReleased(&waiting), 1u);
}

}  // namespace
}  // namespace vantrel
