#include "foundation/time_value.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "foundation/text_conversion.h"

namespace vantrel {
namespace {

TEST(TimeValueTest, StopwatchStartsAtZero) {
  CTime time;
  // The clock may tick between the two readings, but not by much.
  EXPECT_LT(time.ElapsedMs(), 1000u);
  EXPECT_NE(time.GetStart(), 0u);
  time.Restart();
  EXPECT_LT(time.ElapsedMs(), 1000u);
}

TEST(TimeValueTest, ElapsedMsSinceEdges) {
  const uint64_t now = GetCurrentFileTime();
  ASSERT_GT(now, kFileTimeOf2000);
  EXPECT_EQ(ElapsedMsSince(now + 10 * kFileTimeTicksPerSecond), 0u);  // start in the future
  EXPECT_EQ(ElapsedMsSince(UINT64_MAX), 0u);
  uint32_t tenSeconds = ElapsedMsSince(now - 10 * kFileTimeTicksPerSecond);
  EXPECT_GE(tenSeconds, 10000u);
  EXPECT_LT(tenSeconds, 15000u);
  // Beyond 49.7 days the span no longer fits: it saturates instead of wrapping to a small value.
  EXPECT_EQ(ElapsedMsSince(now - 50ull * 86400 * kFileTimeTicksPerSecond), 0xFFFFFFFFu);
  EXPECT_EQ(ElapsedMsSince(0), 0xFFFFFFFFu);
}

TEST(TimeValueTest, SystemTimeConversions) {
  SYSTEMTIME millennium{};
  millennium.wYear = 2000;
  millennium.wMonth = 1;
  millennium.wDay = 1;
  EXPECT_EQ(SystemTimeToFileTimeValue(millennium), kFileTimeOf2000);

  SYSTEMTIME back{};
  ASSERT_TRUE(FileTimeToSystemTimeValue(kFileTimeOf2000 + 1234 * kFileTimeTicksPerMs, back));
  EXPECT_EQ(back.wYear, 2000);
  EXPECT_EQ(back.wSecond, 1);
  EXPECT_EQ(back.wMilliseconds, 234);

  SYSTEMTIME invalid = millennium;
  invalid.wMonth = 13;
  EXPECT_EQ(SystemTimeToFileTimeValue(invalid), 0u);
  EXPECT_FALSE(FileTimeToSystemTimeValue(0x8000000000000000ull, back));

  EXPECT_EQ(SecondsSince2000ToFileTime(86400), kFileTimeOf2000 + 86400 * kFileTimeTicksPerSecond);
  EXPECT_EQ(FileTimeToSecondsSince2000(kFileTimeOf2000 - 1), 0u);
}

TEST(TimeValueTest, FormatLocalTime) {
  EXPECT_EQ(FormatLocalTime(0), "");
  EXPECT_EQ(FormatLocalTime(0x8000000000000000ull), "");
  // Local time depends on the zone; check the shape and the parts a zone cannot move.
  std::string text = FormatLocalTime(kFileTimeOf2000 + 6 * 3600 * kFileTimeTicksPerSecond + 7);
  const std::string shape = "dddd/dd/dd dd:dd:dd.ddd";
  ASSERT_EQ(text.size(), shape.size()) << text;
  for (size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == 'd')
      EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(text[i]))) << text;
    else
      EXPECT_EQ(text[i], shape[i]) << text;
  }
  EXPECT_EQ(text.substr(0, 8), "2000/01/");
  EXPECT_EQ(text.substr(16), ":00.000");
}

TEST(TextConversionTest, RoundTripsAndEmptyCases) {
  const std::string utf8 =
      "Kamera \xC3\xBC"
      "ber Tor \xE2\x82\xAC";  // "Kamera über Tor €"
  std::wstring wide = Utf8ToWide(utf8);
  EXPECT_EQ(wide, L"Kamera \u00FCber Tor \u20AC");
  EXPECT_EQ(WideToUtf8(wide), utf8);
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(WideToUtf8(L""), "");
  // Text with an embedded NUL keeps its full length.
  EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)).size(), 3u);
}

}  // namespace
}  // namespace vantrel
