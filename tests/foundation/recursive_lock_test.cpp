#include "foundation/recursive_lock.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "foundation/event.h"

namespace vantrel {
namespace {

TEST(RecursiveLockTest, ContendedCounterStaysExact) {
  CRecursiveLock lock;
  long counter = 0;  // deliberately not atomic: only the lock keeps increments from being lost
  constexpr int kThreads = 6;
  constexpr int kRounds = 15000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        lock.Lock();
        // Every other round re-enters, so the recursive path runs under contention too.
        if ((i + t) % 2 == 0) lock.Lock();
        long seen = counter;
        if (i % 1000 == 0) std::this_thread::yield();
        counter = seen + 1;
        if ((i + t) % 2 == 0) lock.Unlock();
        lock.Unlock();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter, long{kThreads} * kRounds);
}

TEST(RecursiveLockTest, OtherThreadWaitsUntilTheLastUnlock) {
  CRecursiveLock lock;
  CManualEvent acquired;
  lock.Lock();
  lock.Lock();
  lock.Lock();
  std::thread other([&] {
    lock.Lock();
    acquired.Set();
    lock.Unlock();
  });
  EXPECT_FALSE(acquired.Wait(100));
  lock.Unlock();
  lock.Unlock();
  EXPECT_FALSE(acquired.Wait(100));
  lock.Unlock();
  EXPECT_TRUE(acquired.Wait(5000));
  other.join();
}

TEST(RecursiveLockTest, UnlockFromNonOwnerIsIgnored) {
  CRecursiveLock lock;
  CManualEvent acquired;
  lock.Lock();
  std::thread stray([&] { lock.Unlock(); });
  stray.join();
  std::thread other([&] {
    lock.Lock();
    acquired.Set();
    lock.Unlock();
  });
  EXPECT_FALSE(acquired.Wait(100));
  lock.Unlock();
  EXPECT_TRUE(acquired.Wait(5000));
  other.join();
  // An unlock of a free lock must not leave it in a state the next owner trips over.
  lock.Unlock();
  CScopedLock guard(lock);
}

}  // namespace
}  // namespace vantrel
