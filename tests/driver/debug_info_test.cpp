#include "driver/debug_info.h"

#include <gtest/gtest.h>

#include "driver/host_version.h"
#include "driver/owned_sub_object.h"

namespace vantrel {
namespace {

TEST(MapLogLevel, ByHostCoreVersion) {
  struct Case {
    HostVersion version;
    uint32_t level;
    uint8_t delivered;
  };
  const Case cases[] = {
      {{5, 11, 9, 9}, 1, 1},   {{5, 11, 9, 9}, 2, 2},
      {{5, 11, 9, 9}, 3, 2},   {{5, 11, 9, 9}, 100, 2},
      {{4, 99, 0, 0}, 3, 2},   {{5, 12, 0, 0}, 3, 3},
      {{5, 12, 0, 0}, 100, 3}, {{6, 2, 65535, 65535}, 100, 3},
      {{6, 2, 0, 0}, 1, 1},    {{6, 3, 0, 0}, 100, 100},
      {{6, 3, 0, 0}, 3, 3},    {{7, 0, 0, 0}, 100, 100},
      {{5, 13, 0, 0}, 100, 3}, {{6, 0, 0, 0}, 2, 2},
      {{6, 3, 0, 0}, 300, 44},  // passed on as 8 bits
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MapLogLevel(c.level, c.version), c.delivered)
        << c.version.major << "." << c.version.minor << " level " << c.level;
  }
  EXPECT_EQ(MapLogLevel(100, HostVersion{}), 3) << "default version is 5.12";
}

TEST(CDebugInfo, EmptyTextIsNullAndTextIsCopied) {
  CDebugInfo empty(3, "");
  EXPECT_EQ(empty.GetLevel(), 3);
  EXPECT_EQ(empty.GetText(), nullptr);

  std::string text = "vantrel::X::Y: 100% done";
  CDebugInfo info(1, text);
  text.assign("changed");
  ASSERT_NE(info.GetText(), nullptr);
  EXPECT_STREQ(info.GetText(), "vantrel::X::Y: 100% done");

  auto* heap = new CDebugInfo(2, "x");
  EXPECT_EQ(heap->ScalarDeletingDestructor(1), heap);  // frees it (checked by the sanitizers)
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatLogText(format, args);
  va_end(args);
  return text;
}

TEST(FormatLogText, FormatsAnyLength) {
  EXPECT_EQ(Format("%s: %u", "vantrel::A::B", 7u), "vantrel::A::B: 7");
  EXPECT_EQ(Format("%s", ""), "");
  EXPECT_EQ(Format(nullptr), "");
  const std::string longText(5000, 'x');
  EXPECT_EQ(Format("%s!", longText.c_str()), longText + "!");
}

// Sub-object ownership: the interface pointers must be the adjusted ones of the concrete object,
// the object must be destroyed exactly once, and stopped before its destruction when asked.
struct IFirst {
  virtual ~IFirst() = default;
  int first = 1;
};
struct ISecond {
  virtual ~ISecond() = default;
  int second = 2;
};
struct Both : IFirst, ISecond {
  explicit Both(std::vector<std::string>* log) : log_(log) {}
  ~Both() override { log_->push_back("destroyed"); }
  void Stop() { log_->push_back("stopped"); }
  std::vector<std::string>* log_;
};

TEST(TOwnedSubObject, HandsOutEachInterfaceAndDestroysOnce) {
  std::vector<std::string> log;
  {
    TOwnedSubObject<IFirst, ISecond> holder;
    EXPECT_FALSE(holder);
    EXPECT_EQ(holder.Get<ISecond>(), nullptr);
    auto* object = new Both(&log);
    holder.Reset(object);
    ASSERT_TRUE(holder);
    EXPECT_EQ(holder.Get<IFirst>(), static_cast<IFirst*>(object));
    EXPECT_EQ(holder.Get<ISecond>(), static_cast<ISecond*>(object));
    EXPECT_EQ(holder.Get<ISecond>()->second, 2);
    holder.Stop();                 // not a stoppable object: nothing happens
    holder.Reset(new Both(&log));  // replacing destroys the first
    EXPECT_EQ(log, (std::vector<std::string>{"destroyed"}));
    holder.Reset();
    holder.Reset();
    EXPECT_FALSE(holder);
  }
  EXPECT_EQ(log.size(), 2u);

  log.clear();
  {
    TOwnedSubObject<IFirst> holder;
    holder.ResetStoppable(new Both(&log));
    holder.Stop();
  }
  EXPECT_EQ(log, (std::vector<std::string>{"stopped", "destroyed"}));
}

}  // namespace
}  // namespace vantrel
