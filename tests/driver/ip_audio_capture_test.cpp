// CIPAudioCapture: the channel table the host opens and closes audio channels through: one
// channel per number, the host's limit, clean-up of a channel that fails to start, and what
// close, status and destruction do to the channels.
#include "driver/ip_audio_capture.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "audio/audio_input_channel.h"
#include "driver/channel_creators.h"
#include "foundation/teardown_queue.h"

namespace vantrel {
namespace {

struct ChannelLog {
  int created = 0, started = 0, stopped = 0, deleted = 0;
};

class FakeInputChannel final : public IAudioInputChannel {
 public:
  FakeInputChannel(ChannelLog& log, bool startResult, bool stopResult, uint32_t status)
      : log_(log), startResult_(startResult), stopResult_(stopResult), status_(status) {}
  ~FakeInputChannel() override { ++log_.deleted; }
  bool Start() override {
    ++log_.started;
    return startResult_;
  }
  bool Stop() override {
    ++log_.stopped;
    return stopResult_;
  }
  uint32_t GetStatus() override { return status_; }

 private:
  ChannelLog& log_;
  bool startResult_, stopResult_;
  uint32_t status_;
};

class FakeCreator final : public IAudioChannelCreator {
 public:
  IAudioInputChannel* CreateAudioInputChannel(uint32_t channel, uint32_t parameter, void* callback,
                                              uint64_t context) override {
    calls.push_back({channel, parameter, callback, context});
    if (failCreate) return nullptr;
    ++log.created;
    return new FakeInputChannel(log, startResult, stopResult, 2);
  }
  IAudioOutputChannel* CreateAudioOutputChannel(uint32_t, uint32_t, void*, void*) override { return nullptr; }

  struct Call {
    uint32_t channel, parameter;
    void* callback;
    uint64_t context;
  };
  std::vector<Call> calls;
  ChannelLog log;
  bool failCreate = false, startResult = true, stopResult = true;
};

TEST(IPAudioCapture, OpensEachChannelOnceUpToTheLimit) {
  FakeCreator creator;
  auto* capture = new CIPAudioCapture(&creator, 2);
  auto* callback = reinterpret_cast<ipcapture::IIPAudioCallback*>(&creator);
  EXPECT_TRUE(capture->OpenChannel(0, 5, callback, 0x123456789ull));
  ASSERT_EQ(creator.calls.size(), 1u);
  EXPECT_EQ(creator.calls[0].channel, 0u);
  EXPECT_EQ(creator.calls[0].parameter, 5u);
  EXPECT_EQ(creator.calls[0].callback, static_cast<void*>(callback));
  EXPECT_EQ(creator.calls[0].context, 0x123456789ull);
  EXPECT_TRUE(capture->OpenChannel(0, 5, callback, 0));  // already open: no second channel
  EXPECT_EQ(creator.log.created, 1);
  EXPECT_TRUE(capture->OpenChannel(1, 6, callback, 0));
  EXPECT_FALSE(capture->OpenChannel(2, 7, callback, 0));  // the host declared two
  EXPECT_EQ(creator.log.created, 2);
  EXPECT_EQ(capture->GetChannelCount(), 2u);
  EXPECT_EQ(capture->GetChannelStatus(1), 2u);
  EXPECT_EQ(capture->GetChannelStatus(2), 0u);

  EXPECT_TRUE(capture->CloseChannel(1));
  EXPECT_FALSE(capture->CloseChannel(1));
  EXPECT_EQ(creator.log.stopped, 1);
  EXPECT_EQ(creator.log.deleted, 1);
  EXPECT_TRUE(capture->OpenChannel(2, 7, callback, 0));  // room again

  // The host's delete (slot 0 with the free flag) stops and deletes what is still open.
  capture->ScalarDeletingDestructor(1);
  EXPECT_EQ(creator.log.stopped, 3);
  EXPECT_EQ(creator.log.deleted, 3);
}

TEST(IPAudioCapture, FailuresLeaveNothingBehind) {
  struct Case {
    const char* name;
    bool failCreate, startResult, stopResult;
    bool opened;
    int stopped, deleted;
  };
  const Case cases[] = {
      {"creator makes nothing", true, true, true, false, 0, 0},
      {"start fails", false, false, true, false, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeCreator creator;
    creator.failCreate = c.failCreate;
    creator.startResult = c.startResult;
    CIPAudioCapture capture(&creator, 4);
    EXPECT_EQ(capture.OpenChannel(3, 0, nullptr, 0), c.opened);
    EXPECT_EQ(capture.GetChannelCount(), 0u);
    EXPECT_EQ(creator.log.stopped, c.stopped);
    EXPECT_EQ(creator.log.deleted, c.deleted);
  }
  // Close reports the channel's stop result; a channel that could not stop yet (closed from
  // inside its own callback) is deleted later, on the tear-down queue.
  FakeCreator creator;
  creator.stopResult = false;
  CIPAudioCapture capture(&creator, 1);
  ASSERT_TRUE(capture.OpenChannel(0, 0, nullptr, 0));
  EXPECT_FALSE(capture.CloseChannel(0));
  EXPECT_EQ(capture.GetChannelCount(), 0u);
  EXPECT_TRUE(CTeardownQueue::Drain(5000));
  EXPECT_EQ(creator.log.deleted, 1);
  EXPECT_FALSE(capture.Reserved5());
  EXPECT_FALSE(capture.Reserved6());
}

}  // namespace
}  // namespace vantrel
