// SPDX-License-Identifier: MIT
// The operating system's own backend, on any machine: CI and Wine (for the
// Windows build) have no bridge, a developer's may have one plugged in.
#include <gtest/gtest.h>

#include <corvane/ReportTrace.hpp>
#include <corvane/corvane.hpp>

namespace CorvaneTest {
namespace {

// With no bridge plugged in, discovery finds none and an exchange fails
// without sending anything; with one, the exchange reaches it.
TEST(SystemPlatform, DiscoveryAndOneExchangeThroughTheSystemBackend) {
    Corvane::SetPlatform(Corvane::MakeSystemPlatform());
    int reports = 0;
    Corvane::SetReportTrace([&reports](const Corvane::TracedReport&) { ++reports; });
    {
        Corvane::VrelUsbI2c bridge;
        const bool present = bridge.Settings->GetConnectionStatus();
        EXPECT_EQ(bridge.Management->GetDevCount() > 0, present);

        const std::int32_t result = bridge.Functions->ReadGpioPinValue(0);
        if (present && result == Corvane::REPORT_WRITE_FAILED) {
            Corvane::SetReportTrace({});
            Corvane::SetPlatform(nullptr);
            GTEST_SKIP() << "a bridge is plugged in but cannot be opened here";
        }
        if (present) {
            // Pin 0 reads as a level, or as no GPIO when designated otherwise.
            EXPECT_TRUE(result == 0 || result == 1 || result == Corvane::PIN_NOT_GPIO) << result;
            EXPECT_EQ(reports, 2);
        } else {
            EXPECT_EQ(result, Corvane::REPORT_WRITE_FAILED);
            EXPECT_EQ(reports, 0);
        }
    }
    Corvane::SetReportTrace({});
    Corvane::SetPlatform(nullptr);
}

}  // namespace
}  // namespace CorvaneTest
