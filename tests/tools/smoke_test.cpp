#include <gtest/gtest.h>
#include <thread>
#include "support/fake_driver.h"
TEST(Smoke, Runs) { vantrel::testing::FakeDriver d; d.Log(3, "%s: %d", "x", 5); EXPECT_TRUE(d.HasLine(3, "x: 5")); std::thread t([]{}); t.join(); }
