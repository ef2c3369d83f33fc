// Privacy zones: the host's percentages on the camera's grid, and the camera traffic of an apply
// (read back from the camera simulator).
#include "capabilities/privacy_zone_handler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "support/camsim_control.h"
#include "support/fake_driver.h"
#include "vantrel/ipcapture/privacy_zones.h"

namespace vantrel::testing {
namespace {

constexpr char kCamera[] = "127.0.0.12";

struct Rect {
  float x, y, w, h;
};

class TestZone final : public ipcapture::IIPZone {
 public:
  explicit TestZone(Rect r) : r_(r) {}
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  void Reserved1() override {}
  void Reserved2() override {}
  void Reserved3() override {}
  float GetX() override { return r_.x; }
  float GetY() override { return r_.y; }
  float GetWidth() override { return r_.w; }
  float GetHeight() override { return r_.h; }

 private:
  Rect r_;
};

class TestZoneList final : public ipcapture::IIPZoneList {
 public:
  explicit TestZoneList(const std::vector<Rect>& rects) {
    for (const Rect& r : rects) zones_.emplace_back(r);
  }
  void* ScalarDeletingDestructor(unsigned int) override { return this; }
  ipcapture::IIPZone* GetZone(uint32_t index) override {
    return index < zones_.size() ? &zones_[index] : nullptr;
  }

 private:
  std::vector<TestZone> zones_;
};

using State = CPrivacyZoneHandler::ZoneState;

TEST(PrivacyZoneGrid, HostPercentagesOnTheCameraGrid) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    bool ntsc;
    Rect rect;
    State wanted;
  } cases[] = {
      {false, {0, 0, 100, 100}, {1, 1, 1, 84, 58}},
      {true, {0, 0, 100, 100}, {1, 1, 1, 84, 54}},
      {false, {50, 10, 25, 20}, {1, 43, 7, 63, 18}},
      {true, {50, 10, 25, 20}, {1, 43, 6, 63, 17}},
      // Rectangles sticking out of the picture, or no number at all, end at its edges.
      {false, {-10, -5, 200, 300}, {1, 1, 1, 84, 58}},
      {false, {nan, nan, nan, nan}, {1, 1, 1, 1, 1}},
  };
  for (const auto& c : cases) {
    FakeDriver driver;
    driver.videoStandard = c.ntsc;
    CPrivacyZoneHandler handler(&driver, 1);
    EXPECT_EQ(handler.GetRange(), c.ntsc ? 54u : 58u);
    TestZoneList list({c.rect});
    handler.SetZones(&list);
    const State& w = handler.GetZone(0).wanted;
    EXPECT_EQ(w, c.wanted) << c.rect.x << "," << c.rect.y << " " << c.rect.w << "x" << c.rect.h << " -> "
                           << w.left << "," << w.top << "," << w.right << "," << w.bottom;
  }
}

// The host's list is its whole configuration: a shorter one releases the zones it no longer
// holds, a longer one adds zones, and no list at all changes nothing.
TEST(PrivacyZoneGrid, TheHostListIsTheWholeTruth) {
  FakeDriver driver;
  CPrivacyZoneHandler handler(&driver, 1);
  TestZoneList two({{50, 50, 10, 10}, {60, 60, 10, 10}});
  handler.SetZones(&two);
  EXPECT_EQ(handler.GetZone(1).wanted.enabled, 1);
  EXPECT_EQ(handler.GetZone(2).wanted, State{});
  TestZoneList four({{0, 0, 10, 10}, {10, 10, 10, 10}, {20, 20, 10, 10}, {30, 30, 10, 10}});
  handler.SetZones(&four);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(handler.GetZone(i).wanted.enabled, 1) << i;
  handler.SetZones(&two);
  EXPECT_EQ(handler.GetZone(0).wanted.left, 43u);
  EXPECT_EQ(handler.GetZone(2).wanted, State{});
  EXPECT_EQ(handler.GetZone(3).wanted, State{});
  handler.SetZones(nullptr);
  EXPECT_EQ(handler.GetZone(0).wanted.left, 43u);
}

class PrivacyZoneCamera : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(camsim_.Reset()) << "camsim is not running";
    driver_.info.address = kCamera;
    driver_.info.user = "service";
    driver_.info.password = "camsim";
  }
  // Payloads of the zone messages, "r" for a read and "w" for a write.
  std::vector<std::string> ZoneTraffic() {
    std::vector<std::string> out;
    for (const std::string& target : camsim_.Requests()) {
      if (target.find("command=0x09A5") == std::string::npos) continue;
      EXPECT_NE(target.find("command=0x09A5&type=P_OCTET&"), std::string::npos) << target;
      EXPECT_NE(target.find("&num=2&"), std::string::npos) << "line 1 is head number 2: " << target;
      const size_t p = target.find("payload=");
      std::string payload = target.substr(p + 8, target.find('&', p) - p - 8);
      out.push_back((target.find("&rnd=") != std::string::npos ? "w " : "r ") + payload);
    }
    return out;
  }

  CamsimControl camsim_{kCamera};
  FakeDriver driver_;
};

TEST_F(PrivacyZoneCamera, OnlyDifferingZonesAreWritten) {
  CPrivacyZoneHandler handler(&driver_, 1);
  TestZoneList list({{0, 0, 100, 100}, {50, 10, 25, 20}});
  handler.SetZones(&list);
  handler.ApplyZones();
  const std::vector<std::string> traffic = ZoneTraffic();
  ASSERT_EQ(traffic.size(), 30u) << "every zone read, zones 0 and 1 written";
  EXPECT_EQ(traffic[0], "r 0x810004030001");
  EXPECT_EQ(traffic[19], "r 0x810004033401");
  const std::vector<std::string> writes(traffic.begin() + 20, traffic.end());
  EXPECT_EQ(writes,
            (std::vector<std::string>{"w 0x8100040300030001", "w 0x8100040301030001", "w 0x8100040302030001",
                                      "w 0x8100040303030054", "w 0x810004030403003A", "w 0x8100040310030001",
                                      "w 0x810004031103002B", "w 0x8100040312030007", "w 0x810004031303003F",
                                      "w 0x8100040314030012"}));

  // A new handler reads the camera's zones back; with the same wish nothing is written again.
  CPrivacyZoneHandler again(&driver_, 1);
  again.SetZones(&list);
  camsim_.ClearLog();
  again.ApplyZones();
  EXPECT_EQ(ZoneTraffic().size(), 20u);
  EXPECT_EQ(again.GetZone(0).camera, handler.GetZone(0).wanted);
  EXPECT_EQ(again.GetZone(1).camera, handler.GetZone(1).wanted);
  EXPECT_EQ(again.GetZone(2).camera, State{});
  EXPECT_TRUE(driver_.Lines().empty());
}

TEST_F(PrivacyZoneCamera, AShorterListReleasesOnlyTheZonesItDropped) {
  CPrivacyZoneHandler handler(&driver_, 1);
  TestZoneList three({{0, 0, 100, 100}, {50, 10, 25, 20}, {10, 10, 10, 10}});
  handler.SetZones(&three);
  handler.ApplyZones();
  // A fresh handler (a channel restart) knows nothing yet: it leaves the camera's zones alone.
  CPrivacyZoneHandler fresh(&driver_, 1);
  camsim_.ClearLog();
  fresh.ApplyZones();
  EXPECT_EQ(ZoneTraffic().size(), 20u) << "reads only";
  // The host now hands one zone: zones 1 and 2 are switched off with their rectangles kept.
  TestZoneList one({{0, 0, 100, 100}});
  fresh.SetZones(&one);
  camsim_.ClearLog();
  fresh.ApplyZones();
  const std::vector<std::string> traffic = ZoneTraffic();
  ASSERT_EQ(traffic.size(), 30u);
  EXPECT_EQ(std::vector<std::string>(traffic.begin() + 20, traffic.end()),
            (std::vector<std::string>{"w 0x8100040310030000", "w 0x810004031103002B", "w 0x8100040312030007",
                                      "w 0x810004031303003F", "w 0x8100040314030012", "w 0x8100040320030000",
                                      "w 0x8100040321030009", "w 0x8100040322030007", "w 0x8100040323030012",
                                      "w 0x810004032403000C"}));
  CPrivacyZoneHandler check(&driver_, 1);
  check.ApplyZones();
  EXPECT_EQ(check.GetZone(0).camera.enabled, 1);
  EXPECT_EQ(check.GetZone(1).camera.enabled, 0);
  EXPECT_EQ(check.GetZone(2).camera.enabled, 0);
}

TEST_F(PrivacyZoneCamera, AShortReplyEndsTheReadOfThatPass) {
  ASSERT_TRUE(
      camsim_.Fault("kind=body&status=200&content_type=text/"
                    "xml&match=payload%3D0x810004031001&text=%3Crcp%3E%3Cresult%3E%3Cstr%3E00%2001%2002%3C/"
                    "str%3E%3C/result%3E%3C/rcp%3E"));
  CPrivacyZoneHandler handler(&driver_, 1);
  handler.ApplyZones();
  EXPECT_EQ(ZoneTraffic().size(), 6u) << "zone 0 read, zone 1 fails at its first field";
  EXPECT_TRUE(driver_.HasLine(kLogWarning, "Can't receive privacy zone 2 info, device: 127.0.0.12:80 "));
}

TEST_F(PrivacyZoneCamera, AFailedWriteStopsTheApply) {
  ASSERT_TRUE(camsim_.Set("rcp_error=0x09A5&code=10"));
  CPrivacyZoneHandler handler(&driver_, 1);
  TestZoneList list({{0, 0, 10, 10}, {10, 10, 10, 10}});
  handler.SetZones(&list);
  handler.ApplyZones();
  EXPECT_TRUE(driver_.HasLine(kLogWarning, "Can't receive privacy zone 1 info, device: 127.0.0.12:80 "));
  EXPECT_TRUE(driver_.HasLine(kLogWarning, "Can't set privacy zone 1 info, device: 127.0.0.12:80 "));
  EXPECT_EQ(ZoneTraffic().size(), 2u) << "one failed read, one failed write";
}

}  // namespace
}  // namespace vantrel::testing
