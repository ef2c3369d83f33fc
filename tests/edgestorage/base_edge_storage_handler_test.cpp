#include "edgestorage/base_edge_storage_handler.h"

#include <gtest/gtest.h>
#include <winsock2.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "edgestorage/edge_storage_task.h"
#include "foundation/time_value.h"
#include "support/fake_driver.h"
#include "support/loopback_listener.h"
#include "support/winsock_test.h"
#include "vantrel/ipcapture/video_capture.h"

namespace vantrel {
namespace {

using testing::FakeDriver;

constexpr uint64_t kMs = kFileTimeTicksPerMs;

class NullCallback final : public ipcapture::IIPVideoCallback {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  bool OnFrame(ipcapture::IIPFrame*) override { return true; }
  void OnMotionDataStopped(uint32_t) override {}
  void OnSignalLost() override {}
};

class FakeChannel final : public IEdgeMonitorChannel {
 public:
  FakeChannel(uint32_t number, ipcapture::IIPVideoCallback* callback)
      : number_(number), callback_(callback) {}
  uint32_t GetChannel() override { return number_; }
  uint32_t GetMonitorValue() override { return 0; }
  ipcapture::IIPVideoCallback* GetCallback() override { return callback_; }
  uint32_t GetMonitorValue2() override { return 0; }
  void SetEdgeMonitor(IEdgeStorageCallback* monitor) override { monitor_ = monitor; }
  IEdgeStorageCallback* monitor() const { return monitor_.load(); }

 private:
  const uint32_t number_;
  ipcapture::IIPVideoCallback* const callback_;
  std::atomic<IEdgeStorageCallback*> monitor_{nullptr};
};

struct TakenItem {
  uint32_t channel;
  uint64_t begin;
  uint64_t end;
};

// Replays nothing: records the items and answers ProcessTaskItem as told.
class FakeTask final : public IEdgeStorageTask {
 public:
  void TakeItem(uint32_t channel, uint64_t begin, uint64_t end) override {
    std::lock_guard guard(mutex);
    taken.push_back({channel, begin, end});
    taken_event.Set();
  }
  bool ProcessTaskItem(uint64_t* position) override {
    {
      std::lock_guard guard(mutex);
      runTimes.push_back(GetCurrentFileTime());
    }
    ++runs;
    if (duringRun) duringRun();
    if (position) *position = reportPosition.load();
    return done.load();
  }
  void AbandonChannel(uint32_t channel) override { abandoned.push_back(channel); }
  void ResumeChannel(uint32_t channel) override { resumed.push_back(channel); }
  bool LastRunAnswered() override { return answered.load(); }
  void Stop() override {}
  bool SyncronizeTime() override {
    if (syncDelayMs) Sleep(syncDelayMs);
    ++syncs;
    return syncResult.load();
  }
  std::vector<TakenItem> Taken() {
    std::lock_guard guard(mutex);
    return taken;
  }

  std::mutex mutex;
  std::vector<TakenItem> taken;
  CEvent taken_event;
  std::vector<uint32_t> abandoned;
  std::vector<uint32_t> resumed;
  std::vector<uint64_t> runTimes;  // guarded by mutex
  std::function<void()> duringRun;
  uint32_t syncDelayMs = 0;
  std::atomic<int> runs{0};
  std::atomic<int> syncs{0};
  std::atomic<bool> done{true};
  std::atomic<bool> syncResult{true};
  std::atomic<bool> answered{true};
  std::atomic<uint64_t> reportPosition{0};
};

class TestHandler final : public CBaseEdgeStorageHandler {
 public:
  TestHandler(IDriver* driver, FakeTask* task, uint32_t limit)
      : CBaseEdgeStorageHandler(driver, limit), task_(task) {}
  // The threads call GetTask: they must end while this part of the object still exists.
  ~TestHandler() override { StopEdgeStorageThreads(); }
  using CBaseEdgeStorageHandler::QueueItem;

 protected:
  IEdgeStorageTask* GetTask() override { return task_; }

 private:
  FakeTask* const task_;
};

class EdgeStorageHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    driver.info.address = "10.1.2.3";
    driver.info.timeout = 1000;
    driver.info.signalTimeout = 60000;  // no outage unless a test shortens it
  }
  // Reports frames on `channel` every 20 ms until `until` returns true or `ms` pass.
  template <class Pred>
  bool FeedFrames(IEdgeStorageCallback* handler, uint32_t channel, uint32_t ms, Pred until) {
    for (uint32_t waited = 0; waited < ms; waited += 20) {
      if (until()) return true;
      handler->OnFrameSeen(channel, GetCurrentFileTime(), cameraLag ? GetCurrentFileTime() - cameraLag : 0);
      Sleep(20);
    }
    return until();
  }
  std::string ItemLine(uint32_t channel, uint64_t begin, uint64_t end, const char* what) {
    return "vantrel::CBaseEdgeStorageHandler: Work Item (address=\"10.1.2.3:80\" channel=\"" +
           std::to_string(channel) + "\" begin_time=\"" + FormatLocalTime(begin) + "\" end_time=\"" +
           FormatLocalTime(end) + "\") - Processing " + what;
  }

  FakeDriver driver;
  FakeTask task;
  NullCallback callback;
  uint64_t cameraLag = 0;  // FeedFrames: the camera's capture time lies this far before the host's
};

TEST_F(EdgeStorageHandlerTest, RegistrationsAreCountedAndTheLastOneRemovesTheChannel) {
  TestHandler handler(&driver, &task, 10);
  FakeChannel first(2, &callback), second(2, &callback), silent(3, nullptr), stranger(7, &callback);
  handler.RegisterChannel(&silent);
  EXPECT_EQ(handler.GetRegistrationCount(3), 0u) << "a channel without a host callback is not watched";
  EXPECT_EQ(silent.monitor(), nullptr);

  handler.RegisterChannel(&first);
  handler.RegisterChannel(&second);
  EXPECT_EQ(handler.GetRegistrationCount(2), 2u);
  EXPECT_EQ(first.monitor(), &handler);
  EXPECT_EQ(handler.GetChannelCallback(2), &callback);

  handler.UnregisterChannel(&stranger);  // never registered: nothing changes
  handler.UnregisterChannel(&first);
  EXPECT_EQ(handler.GetRegistrationCount(2), 1u);
  EXPECT_EQ(first.monitor(), nullptr);
  EXPECT_TRUE(task.abandoned.empty()) << "the channel is still watched through its second registration";
  handler.UnregisterChannel(&second);
  EXPECT_EQ(handler.GetRegistrationCount(2), 0u);
  EXPECT_EQ(handler.GetChannelCallback(2), nullptr);
  ASSERT_EQ(task.abandoned.size(), 1u);
  EXPECT_EQ(task.abandoned[0], 2u);
}

TEST_F(EdgeStorageHandlerTest, AnOutageQueuesOneItemPerReportingChannelFromItsLastToTheFirstNewFrame) {
  driver.info.signalTimeout = 300;
  task.done = true;
  TestHandler handler(&driver, &task, 10);
  FakeChannel video(0, &callback), never(1, &callback);
  handler.RegisterChannel(&video);
  handler.RegisterChannel(&never);

  // Frames flowing without a pause give no work.
  ASSERT_FALSE(FeedFrames(&handler, 0, 1000, [&] { return !task.Taken().empty(); }));
  const uint64_t last = GetCurrentFileTime();
  handler.OnFrameSeen(0, last, 0);
  handler.OnSignalLost(0);
  Sleep(900);  // silent for three signal time-outs
  const uint64_t back = GetCurrentFileTime();
  handler.OnFrameSeen(0, back, 0);
  ASSERT_TRUE(FeedFrames(&handler, 0, 5000, [&] { return task.runs.load() > 0; }));
  const std::vector<TakenItem> taken = task.Taken();
  ASSERT_EQ(taken.size(), 1u) << "channel 1 never reported a frame, so it has no gap";
  EXPECT_EQ(taken[0].channel, 0u);
  EXPECT_EQ(taken[0].begin, last);
  EXPECT_EQ(taken[0].end, back);
  Sleep(100);
  EXPECT_TRUE(driver.HasLine(kLogInfo, ItemLine(0, last, back, "started.")));
  EXPECT_TRUE(driver.HasLine(kLogInfo, ItemLine(0, last, back, "finished.")));
  EXPECT_GE(task.syncs.load(), 1);
}

TEST_F(EdgeStorageHandlerTest, AGapRunsBetweenTheCamerasCaptureTimesOfItsEdgeFramesWhenKnown) {
  driver.info.signalTimeout = 300;
  TestHandler handler(&driver, &task, 10);
  FakeChannel video(0, &callback);
  handler.RegisterChannel(&video);
  cameraLag = 40 * kMs;  // the host's frame times come a little after the camera's
  ASSERT_FALSE(FeedFrames(&handler, 0, 400, [&] { return !task.Taken().empty(); }));
  const uint64_t last = GetCurrentFileTime();
  handler.OnFrameSeen(0, last, last - cameraLag);
  handler.OnSignalLost(0);
  Sleep(900);
  const uint64_t back = GetCurrentFileTime();
  handler.OnFrameSeen(0, back, back - cameraLag);
  ASSERT_TRUE(FeedFrames(&handler, 0, 5000, [&] { return task.runs.load() > 0; }));
  const std::vector<TakenItem> taken = task.Taken();
  ASSERT_EQ(taken.size(), 1u);
  // The recorded copies of both edge frames carry these times: neither is replayed again.
  EXPECT_EQ(taken[0].begin, last - cameraLag);
  EXPECT_EQ(taken[0].end, back - cameraLag);
}

TEST_F(EdgeStorageHandlerTest, TheQueueKeepsOnlyTheNewestItemsBeyondItsLimit) {
  task.done = true;
  TestHandler handler(&driver, &task, 4);
  FakeChannel video(0, &callback);
  handler.RegisterChannel(&video);
  const uint64_t t0 = GetCurrentFileTime();
  // The first item holds the queue thread until a frame is reported; the rest pile up.
  ASSERT_TRUE(handler.QueueItem(0, t0, t0 + 10 * kMs));
  ASSERT_TRUE(task.taken_event.Wait(5000));
  for (uint64_t i = 1; i <= 20; ++i) handler.QueueItem(0, t0 + i * 100 * kMs, t0 + i * 100 * kMs + 10 * kMs);
  EXPECT_EQ(handler.GetQueuedCount(), 4u);
  EXPECT_FALSE(handler.QueueItem(0, 0, t0)) << "an item without a begin is never queued";
  EXPECT_FALSE(handler.QueueItem(0, t0, t0)) << "nor one that ends where it begins";
  ASSERT_TRUE(FeedFrames(&handler, 0, 10000, [&] { return task.Taken().size() == 5; }));
  const std::vector<TakenItem> taken = task.Taken();
  for (size_t i = 1; i < taken.size(); ++i) EXPECT_EQ(taken[i].begin, t0 + (16 + i) * 100 * kMs);
  // Every gap pushed out is reported, the oldest first.
  std::vector<std::string> dropped;
  {
    std::lock_guard<std::mutex> guard(driver.mutex);
    for (const auto& line : driver.lines)
      if (line.text.find("- Dropped, the work queue is full (4 items)") != std::string::npos) {
        EXPECT_EQ(line.level, 2u);
        dropped.push_back(line.text);
      }
  }
  ASSERT_EQ(dropped.size(), 16u);
  EXPECT_NE(dropped.front().find("begin_time=\"" + FormatLocalTime(t0 + 100 * kMs) + "\""), std::string::npos)
      << dropped.front();
}

TEST_F(EdgeStorageHandlerTest, AnItemOfAStoppedChannelIsParkedAfterWhatWasReplayedAndResumesWithIt) {
  task.done = false;  // the replay never completes: only the channel's stop ends it
  TestHandler handler(&driver, &task, 10);
  FakeChannel video(5, &callback), again(5, &callback);
  handler.RegisterChannel(&video);
  const uint64_t begin = GetCurrentFileTime() - 20000 * kMs, end = begin + 15000 * kMs;
  task.reportPosition = begin + 4000 * kMs;
  handler.QueueItem(5, begin, end);
  ASSERT_TRUE(FeedFrames(&handler, 5, 5000, [&] { return task.runs.load() > 0; }));
  handler.UnregisterChannel(&video);
  for (int i = 0; i < 100 && handler.GetPendingCount() == 0; ++i) Sleep(20);
  ASSERT_EQ(handler.GetPendingCount(), 1u);
  EXPECT_TRUE(driver.HasLine(
      kLogInfo,
      "vantrel::CBaseEdgeStorageHandler::ProcessEdgeStorageTaskItem: Unable to process interval (start: " +
          FormatLocalTime(begin) + ", end " + FormatLocalTime(end) +
          "), device 10.1.2.3:80 (channel 5) - channel was stopped. Task will be processed later"));
  EXPECT_TRUE(driver.HasLine(kLogInfo, ItemLine(5, begin, end, "finished.")));

  task.done = true;
  handler.RegisterChannel(&again);
  EXPECT_EQ(handler.GetPendingCount(), 0u);
  ASSERT_TRUE(FeedFrames(&handler, 5, 5000, [&] { return task.Taken().size() == 2; }));
  const TakenItem resumed = task.Taken()[1];
  EXPECT_EQ(resumed.begin, begin + 4000 * kMs) << "frames already replayed are not replayed twice";
  EXPECT_EQ(resumed.end, end);
  handler.UnregisterChannel(&again);
}

TEST_F(EdgeStorageHandlerTest, AClockTheCameraRefusesIsNotAskedForOnEveryFrame) {
  task.syncResult = false;
  TestHandler handler(&driver, &task, 10);
  FakeChannel video(0, &callback);
  handler.RegisterChannel(&video);
  for (int i = 0; i < 50; ++i) handler.OnFrameSeen(0, GetCurrentFileTime() + i, 0);
  for (int i = 0; i < 100 && task.syncs.load() == 0; ++i) Sleep(20);
  Sleep(200);
  EXPECT_EQ(task.syncs.load(), 1);
}

TEST_F(EdgeStorageHandlerTest, TheClockIsSetOffTheFrameThread) {
  task.syncDelayMs = 2000;  // a camera that answers only at its time-out
  TestHandler handler(&driver, &task, 10);
  FakeChannel video(0, &callback);
  handler.RegisterChannel(&video);
  const uint64_t before = GetCurrentFileTime();
  for (int i = 0; i < 20; ++i) handler.OnFrameSeen(0, GetCurrentFileTime() + i, 0);
  EXPECT_LT(GetCurrentFileTime() - before, 500 * kMs) << "a live frame waited for the camera's clock";
  for (int i = 0; i < 200 && task.syncs.load() == 0; ++i) Sleep(20);
  EXPECT_EQ(task.syncs.load(), 1);
}

TEST_F(EdgeStorageHandlerTest, AReplayThatNeverFinishesIsRetriedAfterGrowingPausesAndThenGivenUp) {
  task.done = false;
  TestHandler handler(&driver, &task, 10);
  handler.SetRetryPolicy(4, 150, 600);
  FakeChannel video(0, &callback);
  handler.RegisterChannel(&video);
  const uint64_t begin = GetCurrentFileTime() - 20000 * kMs, end = begin + 15000 * kMs;
  task.reportPosition = begin + 3000 * kMs;
  handler.QueueItem(0, begin, end);
  // Live frames all along: each one sets the alive event, which must not mean "try again now".
  const std::string givenUp =
      "vantrel::CBaseEdgeStorageHandler::ProcessEdgeStorageTaskItem: Recorded interval (start: " +
      FormatLocalTime(begin + 3000 * kMs) + ", end: " + FormatLocalTime(end) +
      "), device 10.1.2.3:80 (channel 0) was given up after 4 failed replays";
  ASSERT_TRUE(FeedFrames(&handler, 0, 8000, [&] { return driver.HasLine(kLogWarning, givenUp); }));
  EXPECT_TRUE(driver.HasLine(kLogInfo, ItemLine(0, begin, end, "finished.")));
  FeedFrames(&handler, 0, 600, [] { return false; });
  EXPECT_EQ(task.runs.load(), 4);
  std::vector<uint64_t> times;
  {
    std::lock_guard guard(task.mutex);
    times = task.runTimes;
  }
  ASSERT_EQ(times.size(), 4u);
  // 150, 300, 600 ms apart (Wine's timers are coarse: generous margins below, none above).
  const uint64_t pauses[] = {150, 300, 600};
  for (size_t i = 1; i < times.size(); ++i)
    EXPECT_GE(times[i] - times[i - 1], (pauses[i - 1] - 30) * kMs) << "pause " << i;
  handler.UnregisterChannel(&video);
}

TEST_F(EdgeStorageHandlerTest, RunsThatCannotReachTheCameraAreRetriedWithoutGivingUp) {
  task.done = false;
  task.answered = false;  // the camera's network is down: no HTTP answer at all
  TestHandler handler(&driver, &task, 10);
  handler.SetRetryPolicy(2, 50, 100);
  FakeChannel video(0, &callback);
  handler.RegisterChannel(&video);
  const uint64_t now = GetCurrentFileTime();
  handler.QueueItem(0, now - 9000 * kMs, now - 1000 * kMs);
  ASSERT_TRUE(FeedFrames(&handler, 0, 5000, [&] { return task.runs.load() >= 5; }));
  for (const auto& line : driver.Lines())
    EXPECT_EQ(line.text.find("given up"), std::string::npos) << line.text;
  task.answered = true;  // the camera answers, and still cannot replay: now the runs count
  ASSERT_TRUE(FeedFrames(&handler, 0, 5000, [&] {
    for (const auto& line : driver.Lines())
      if (line.text.find("was given up after 2 failed replays") != std::string::npos) return true;
    return false;
  }));
  handler.UnregisterChannel(&video);
}

TEST_F(EdgeStorageHandlerTest, ARunCutShortByTheChannelsRestartIsRetriedAtOnceAndNotCounted) {
  task.done = false;
  TestHandler handler(&driver, &task, 10);
  handler.SetRetryPolicy(1, 5000, 5000);  // a counted failure would give the item up at once
  FakeChannel video(0, &callback), again(0, &callback);
  handler.RegisterChannel(&video);
  task.duringRun = [&] {
    if (task.runs.load() != 1) {
      task.done = true;
      return;
    }
    // StopChannel and StartChannel of the host, while the replay runs.
    handler.UnregisterChannel(&video);
    handler.RegisterChannel(&again);
  };
  const uint64_t now = GetCurrentFileTime();
  handler.QueueItem(0, now - 9000 * kMs, now - 1000 * kMs);
  ASSERT_TRUE(FeedFrames(&handler, 0, 3000, [&] { return task.runs.load() >= 2; }))
      << "the restarted channel's item was not replayed again";
  EXPECT_EQ(task.Taken().size(), 1u) << "the item went on; it was not parked and queued anew";
  ASSERT_EQ(task.resumed.size(), 2u);  // the first registration and the restart
  EXPECT_EQ(task.resumed[1], 0u);
  Sleep(100);
  for (const auto& line : driver.Lines())
    EXPECT_EQ(line.text.find("given up"), std::string::npos) << line.text;
  handler.UnregisterChannel(&again);
}

// Counts calls and can hold one inside the host's OnFrame.
class BlockingCallback final : public ipcapture::IIPVideoCallback {
 public:
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  bool OnFrame(ipcapture::IIPFrame*) override {
    ++calls;
    entered.Set();
    if (inside) inside();
    Sleep(holdMs);
    ++returned;
    return true;
  }
  void OnMotionDataStopped(uint32_t) override {}
  void OnSignalLost() override {}
  std::atomic<int> calls{0};
  std::atomic<int> returned{0};
  uint32_t holdMs = 0;
  std::function<void()> inside;
  CEvent entered;
};

TEST_F(EdgeStorageHandlerTest, UnregisteringWaitsForAReplayedFrameInDeliveryAndBlocksLaterOnes) {
  BlockingCallback host;
  host.holdMs = 800;
  TestHandler handler(&driver, &task, 10);
  FakeChannel video(0, &host);
  handler.RegisterChannel(&video);
  auto* frame = reinterpret_cast<ipcapture::IIPFrame*>(&host);  // never touched by this callback
  std::thread replay([&] { handler.DeliverReplayedFrame(0, frame); });
  ASSERT_TRUE(host.entered.Wait(5000));
  handler.UnregisterChannel(&video);  // StopChannel
  EXPECT_EQ(host.returned.load(), 1) << "the stop returned while a replayed frame was still with the host";
  replay.join();
  EXPECT_FALSE(handler.DeliverReplayedFrame(0, frame));
  EXPECT_EQ(host.calls.load(), 1);

  // StopChannel from inside the replayed frame's own callback returns instead of waiting for it.
  FakeChannel again(0, &host);
  handler.RegisterChannel(&again);
  host.holdMs = 0;
  host.inside = [&] { handler.UnregisterChannel(&again); };
  EXPECT_TRUE(handler.DeliverReplayedFrame(0, frame));
  EXPECT_EQ(handler.GetRegistrationCount(0), 0u);
  EXPECT_FALSE(handler.DeliverReplayedFrame(0, frame));
}

// The replay task's abandon state, without a camera.
class AbandonProbe final : public CBaseEdgeStorageTask {
 public:
  using CBaseEdgeStorageTask::BeginRun;
  using CBaseEdgeStorageTask::CBaseEdgeStorageTask;
  using CBaseEdgeStorageTask::IsAbandoned;
  bool ProcessTaskItem(uint64_t*) override { return false; }
  bool SyncronizeTime() override { return true; }
  bool LastRunAnswered() override { return true; }

 protected:
  bool IsCurrentFrameKey() override { return true; }
};

TEST_F(EdgeStorageHandlerTest, TheTasksAbandonStateEndsTheRunButNotTheChannelsLaterRuns) {
  AbandonProbe probe(&driver);
  const uint64_t now = GetCurrentFileTime();
  probe.TakeItem(3, now - 5000 * kMs, now);
  EXPECT_FALSE(probe.IsAbandoned());
  probe.AbandonChannel(4);
  EXPECT_FALSE(probe.IsAbandoned()) << "another channel's stop";
  probe.AbandonChannel(3);
  probe.ResumeChannel(3);  // restarted before the run noticed
  EXPECT_TRUE(probe.IsAbandoned()) << "the run that met the restart still ends";
  probe.BeginRun();
  EXPECT_FALSE(probe.IsAbandoned()) << "the next run replays again";
  probe.Stop();
  probe.ResumeChannel(3);
  probe.BeginRun();
  EXPECT_TRUE(probe.IsAbandoned()) << "a stopped task stays stopped until its next item";
}

TEST_F(EdgeStorageHandlerTest, DestroyingTheHandlerEndsAnItemInProgress) {
  task.done = false;
  auto handler = std::make_unique<TestHandler>(&driver, &task, 10);
  FakeChannel video(0, &callback);
  handler->RegisterChannel(&video);
  const uint64_t now = GetCurrentFileTime();
  handler->QueueItem(0, now - 5000 * kMs, now);
  ASSERT_TRUE(task.taken_event.Wait(5000));
  const uint64_t before = GetCurrentFileTime();
  handler.reset();
  EXPECT_LT(GetCurrentFileTime() - before, 3000 * kMs);
  EXPECT_TRUE(driver.HasLine(kLogInfo, ItemLine(0, now - 5000 * kMs, now, "finished.")));
}

// A camera that accepts connections and never answers: the kernel completes the handshakes of
// the listening socket, nobody reads.
class SilentCamera {
 public:
  SilentCamera() { socket_ = ::vantrel::testing::ListenOnLoopback(16, port); }
  ~SilentCamera() { closesocket(socket_); }
  uint16_t port = 0;

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

class EdgeStorageTaskStopTest : public testing::WinsockTest {};

// Closing the request handle ends a blocked WinHTTP call at once on Windows; Wine's synchronous
// WinHTTP notices only at the time-out. So a stop costs at most one device time-out here, and
// nothing the task would have asked the camera after it.
TEST_F(EdgeStorageTaskStopTest, AStopAbortsTheRequestsInFlightAndEveryLaterOne) {
  using namespace std::chrono;
  constexpr uint32_t kTimeoutMs = 4000;
  SilentCamera camera;
  FakeDriver driver;
  driver.info.port = camera.port;
  driver.info.timeout = kTimeoutMs;
  driver.info.signalTimeout = kTimeoutMs;
  CEdgeStorageTask task(&driver);
  const uint64_t now = GetCurrentFileTime();
  task.TakeItem(0, now - 5000 * kMs, now);
  auto runItem = [&] {
    return std::async(std::launch::async, [&] {
      uint64_t position = 0;
      return task.ProcessTaskItem(&position);
    });
  };
  auto replay = runItem();
  auto clock = std::async(std::launch::async, [&] { return task.SyncronizeTime(); });
  std::this_thread::sleep_for(500ms);  // both requests are waiting on the camera now
  auto stopped = steady_clock::now();
  task.Stop();
  ASSERT_EQ(replay.wait_for(20s), std::future_status::ready);
  ASSERT_EQ(clock.wait_for(20s), std::future_status::ready);
  const auto inFlight = duration_cast<milliseconds>(steady_clock::now() - stopped).count();
  EXPECT_LT(inFlight, kTimeoutMs + 2000) << "the stop let the task go on to further requests";
  EXPECT_FALSE(replay.get()) << "an aborted item is not done";
  EXPECT_FALSE(clock.get());

  // After the stop nothing waits on the camera again: not the next run, not the clock.
  stopped = steady_clock::now();
  replay = runItem();
  clock = std::async(std::launch::async, [&] { return task.SyncronizeTime(); });
  ASSERT_EQ(replay.wait_for(20s), std::future_status::ready);
  ASSERT_EQ(clock.wait_for(20s), std::future_status::ready);
  const auto after = duration_cast<milliseconds>(steady_clock::now() - stopped).count();
  std::printf("FIGURES edge task stop: requests in flight %lld ms, later runs %lld ms\n",
              static_cast<long long>(inFlight), static_cast<long long>(after));
  EXPECT_LT(after, 1000);
  EXPECT_FALSE(replay.get());
  EXPECT_FALSE(clock.get());
}

}  // namespace
}  // namespace vantrel
