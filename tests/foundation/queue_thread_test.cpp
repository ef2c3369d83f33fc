#include "foundation/queue_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "foundation/event.h"
#include "foundation/output_handler.h"
#include "support/fake_driver.h"

namespace vantrel {
namespace {

// Records what happened to every item, so tests can tell processed from dropped.
struct Journal {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<int> processed;
  std::vector<int> deleted;

  void Add(std::vector<int>& list, int id) {
    {
      std::lock_guard<std::mutex> guard(mutex);
      list.push_back(id);
    }
    changed.notify_all();
  }
  bool WaitProcessed(size_t count) {
    std::unique_lock<std::mutex> guard(mutex);
    return changed.wait_for(guard, std::chrono::seconds(5), [&] { return processed.size() >= count; });
  }
  std::vector<int> Processed() {
    std::lock_guard<std::mutex> guard(mutex);
    return processed;
  }
  std::vector<int> Deleted() {
    std::lock_guard<std::mutex> guard(mutex);
    return deleted;
  }
};

class Item {
 public:
  Item(Journal& journal, int id) : journal_(journal), id_(id) {}
  virtual ~Item() { journal_.Add(journal_.deleted, id_); }
  int id() const { return id_; }

 private:
  Journal& journal_;
  int id_;
};

class RecordingQueue : public CQueueThread<Item> {
 public:
  explicit RecordingQueue(Journal& journal) : CQueueThread<Item>(nullptr), journal_(journal) {}
  ~RecordingQueue() override { StopQueueThread(2000); }

  bool Post(int id, uint32_t limit) { return PostItem(new Item(journal_, id), limit); }

  CManualEvent gate{};  // ProcessItem of item `gatedId` waits on it
  CManualEvent inGatedItem{};
  int gatedId = -1;
  int throwingId = -1;

 protected:
  void ProcessItem(Item* item) override {
    if (item->id() == gatedId) {
      inGatedItem.Set();
      gate.Wait(5000);
    }
    journal_.Add(journal_.processed, item->id());
    if (item->id() == throwingId) throw std::runtime_error("queued work failed");
  }

 private:
  Journal& journal_;
};

TEST(QueueThreadTest, LimitDropsOldestItems) {
  struct Case {
    uint32_t limit;
    int posts;
    std::vector<int> kept;
  };
  const Case cases[] = {
      {0, 5, {1, 2, 3, 4, 5}}, {3, 3, {1, 2, 3}},
      {3, 4, {2, 3, 4}},  // a full queue of 3 loses its oldest before the append
      {3, 6, {4, 5, 6}},       {1, 4, {4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "limit " << c.limit << ", posts " << c.posts);
    Journal journal;
    {
      RecordingQueue queue(journal);
      // Not started yet: items stay queued, so what the limit kept can be seen afterwards.
      for (int id = 1; id <= c.posts; ++id) EXPECT_TRUE(queue.Post(id, c.limit));
      EXPECT_EQ(queue.GetQueuedCount(), c.kept.size());
      ASSERT_TRUE(queue.StartQueueThread("limits"));
      ASSERT_TRUE(journal.WaitProcessed(c.kept.size()));
      EXPECT_EQ(journal.Processed(), c.kept);
    }
    EXPECT_EQ(journal.Deleted().size(), static_cast<size_t>(c.posts));
  }
}

TEST(QueueThreadTest, ItemsPostedWhileBusyAreDrainedInOrder) {
  Journal journal;
  RecordingQueue queue(journal);
  queue.gatedId = 1;
  ASSERT_TRUE(queue.StartQueueThread("drain"));
  ASSERT_TRUE(queue.Post(1, 0));
  ASSERT_TRUE(queue.inGatedItem.Wait(5000));
  // Five posts collapse into one pending wake of the auto-reset event.
  for (int id = 2; id <= 6; ++id) ASSERT_TRUE(queue.Post(id, 0));
  queue.gate.Set();
  ASSERT_TRUE(journal.WaitProcessed(6));
  EXPECT_EQ(journal.Processed(), (std::vector<int>{1, 2, 3, 4, 5, 6}));
}

TEST(QueueThreadTest, StoppedQueueRefusesAndDeletesItems) {
  Journal journal;
  RecordingQueue queue(journal);
  queue.gatedId = 1;
  ASSERT_TRUE(queue.StartQueueThread("stop"));
  ASSERT_TRUE(queue.Post(1, 0));
  ASSERT_TRUE(queue.inGatedItem.Wait(5000));
  ASSERT_TRUE(queue.Post(2, 0));
  ASSERT_TRUE(queue.Post(3, 0));
  queue.gate.Set();
  EXPECT_TRUE(queue.StopQueueThread(5000));
  EXPECT_FALSE(queue.IsRunning());
  EXPECT_FALSE(queue.Post(4, 0));
  EXPECT_EQ(queue.GetQueuedCount(), 0u);
  // Whatever was not processed is deleted, never leaked.
  auto deleted = journal.Deleted();
  EXPECT_EQ(deleted.size(), 4u);
  EXPECT_EQ(deleted.back(), 4);
  EXPECT_FALSE(queue.PostItem(nullptr, 0));

  // A restart accepts items again.
  const size_t processedBefore = journal.Processed().size();
  ASSERT_TRUE(queue.StartQueueThread("stop"));
  ASSERT_TRUE(queue.Post(5, 0));
  ASSERT_TRUE(journal.WaitProcessed(processedBefore + 1));
  EXPECT_EQ(journal.Processed().back(), 5);
}

TEST(QueueThreadTest, ThrowingItemIsDeletedAndTheLoopGoesOn) {
  Journal journal;
  RecordingQueue queue(journal);
  queue.throwingId = 1;
  ASSERT_TRUE(queue.StartQueueThread("throw"));
  ASSERT_TRUE(queue.Post(1, 0));
  ASSERT_TRUE(queue.Post(2, 0));
  ASSERT_TRUE(journal.WaitProcessed(2));
  EXPECT_TRUE(queue.IsRunning());
  EXPECT_TRUE(queue.StopQueueThread(5000));
  EXPECT_EQ(journal.Deleted(), (std::vector<int>{1, 2}));
}

TEST(QueueThreadTest, DestructionDeletesUnprocessedItems) {
  Journal journal;
  {
    RecordingQueue queue(journal);
    for (int id = 1; id <= 3; ++id) queue.Post(id, 0);
  }
  EXPECT_TRUE(journal.Processed().empty());
  EXPECT_EQ(journal.Deleted().size(), 3u);
}

// Output switching: an item carrying an index and a state reaches the owner's member.
class OutputItem {
 public:
  OutputItem(uint32_t i, uint32_t s) : index(i), state(s) {}
  virtual ~OutputItem() = default;
  uint32_t index;
  uint32_t state;
};

class OutputOwner {
 public:
  void Switch(uint32_t index, uint32_t state) {
    {
      std::lock_guard<std::mutex> guard(mutex);
      calls.emplace_back(index, state);
    }
    changed.notify_all();
  }
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<uint32_t, uint32_t>> calls;
};

TEST(OutputHandlerTest, PassesBothFieldsToTheBoundMember) {
  OutputOwner owner;
  TOutputHandler<OutputOwner, OutputItem> handler(nullptr);
  handler.Bind(&owner, &OutputOwner::Switch);
  ASSERT_TRUE(handler.StartQueueThread("outputs"));
  ASSERT_TRUE(handler.PostItem(new OutputItem(2, 1), 0));
  ASSERT_TRUE(handler.PostItem(new OutputItem(0, 0), 0));
  std::unique_lock<std::mutex> guard(owner.mutex);
  ASSERT_TRUE(
      owner.changed.wait_for(guard, std::chrono::seconds(5), [&] { return owner.calls.size() == 2; }));
  EXPECT_EQ(owner.calls[0], std::make_pair(2u, 1u));
  EXPECT_EQ(owner.calls[1], std::make_pair(0u, 0u));
}

}  // namespace
}  // namespace vantrel
