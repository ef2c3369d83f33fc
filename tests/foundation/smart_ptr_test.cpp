#include "foundation/smart_ptr.h"

#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

namespace vantrel {
namespace {

class Base {
 public:
  explicit Base(int* deletions) : deletions_(deletions) {}
  virtual ~Base() { ++*deletions_; }

 private:
  int* deletions_;
};

// Deleting through TSmartPtr<Base> must reach this destructor.
class Derived : public Base {
 public:
  Derived(int* deletions, int* derivedDeletions) : Base(deletions), derivedDeletions_(derivedDeletions) {}
  ~Derived() override { ++*derivedDeletions_; }

 private:
  int* derivedDeletions_;
};

TEST(SmartPtrTest, SharingAndReleaseCounts) {
  int deletions = 0, derivedDeletions = 0;
  TSmartPtr<Base> first(new Derived(&deletions, &derivedDeletions));
  EXPECT_EQ(first.GetRefCount(), 1);
  {
    TSmartPtr<Base> second(first);
    TSmartPtr<Base> third;
    third = second;
    EXPECT_EQ(first.GetRefCount(), 3);
    EXPECT_EQ(third.Get(), first.Get());
    second.Release();
    EXPECT_TRUE(second.IsEmpty());
    EXPECT_EQ(first.GetRefCount(), 2);
    EXPECT_EQ(deletions, 0);
  }
  EXPECT_EQ(first.GetRefCount(), 1);
  EXPECT_EQ(deletions, 0);
  first.Release();
  EXPECT_EQ(deletions, 1);
  EXPECT_EQ(derivedDeletions, 1);
  first.Release();  // releasing an empty holder again changes nothing
  EXPECT_EQ(deletions, 1);
}

TEST(SmartPtrTest, CopyOfEmptyHolderIsEmpty) {
  TSmartPtr<Base> empty;
  TSmartPtr<Base> copy(empty);
  EXPECT_FALSE(copy);
  EXPECT_EQ(copy.GetRefCount(), 0);
}

TEST(SmartPtrTest, AssignmentNeverDeletesTheObjectItKeeps) {
  int deletions = 0, otherDeletions = 0;  // outlive every holder below
  TSmartPtr<Base> only(new Base(&deletions));
  TSmartPtr<Base>& alias = only;
  only = alias;  // self-assignment of the last holder
  ASSERT_TRUE(only);
  EXPECT_EQ(only.GetRefCount(), 1);
  EXPECT_EQ(deletions, 0);

  TSmartPtr<Base> other(only);
  other = only;  // same object already shared
  EXPECT_EQ(only.GetRefCount(), 2);

  only.Reset(only.Get());  // re-taking the held object must not delete it
  EXPECT_EQ(deletions, 0);
  EXPECT_EQ(only.GetRefCount(), 2);

  other.Reset(new Base(&otherDeletions));
  EXPECT_EQ(only.GetRefCount(), 1);
  only = other;  // the old object's last holder moves on
  EXPECT_EQ(deletions, 1);
  EXPECT_EQ(only.GetRefCount(), 2);
  TSmartPtr<Base> moved(std::move(only));
  EXPECT_FALSE(only);
  EXPECT_EQ(moved.GetRefCount(), 2);
}

TEST(SmartPtrTest, ConcurrentCopiesDeleteExactlyOnce) {
  int deletions = 0;
  {
    TSmartPtr<Base> shared(new Base(&deletions));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([shared] {
        for (int i = 0; i < 20000; ++i) {
          TSmartPtr<Base> copy(shared);
          TSmartPtr<Base> another;
          another = copy;
        }
      });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(shared.GetRefCount(), 1);
    EXPECT_EQ(deletions, 0);
  }
  EXPECT_EQ(deletions, 1);
}

}  // namespace
}  // namespace vantrel
