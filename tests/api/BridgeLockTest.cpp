// SPDX-License-Identifier: MIT
// The bridge's inter-process lock as the simulated host sees it: every
// operation holds it from its first report to its last and lets go however
// it ends; another program's hold makes it wait on the virtual clock up to
// the busy time-out, and fail with BRIDGE_BUSY, sending nothing, past it.
#include "common/PublicOperations.hpp"
#include "common/SimTest.hpp"

#include <functional>
#include <stdexcept>

namespace CorvaneTest {
namespace {

using namespace std::chrono_literals;
using Corvane::BRIDGE_BUSY;
using Corvane::Sim::LockOwner;

constexpr const char* kHolder = "corvane-i2cdev (pid 4242)";

class BridgeLockTest : public SimTest {
  protected:
    void TearDown() override {
        Corvane::SetBusyTimeout(Corvane::kDefaultBusyTimeoutMs);
        SimTest::TearDown();
    }

    // Every report of the trace crossed under the library's lock.
    void ExpectAllLocked() const {
        const auto trace = host->Trace();
        EXPECT_FALSE(trace.empty());
        for (std::size_t i = 0; i < trace.size(); ++i) {
            EXPECT_TRUE(trace[i].locked) << "report " << i << " of " << trace.size();
        }
    }
};

TEST_F(BridgeLockTest, EveryOperationHoldsTheLockOnceFromFirstToLastReport) {
    for (const PublicOperation& op : PublicOperations()) {
        if (op.exchanges == 0) continue;
        SCOPED_TRACE(op.name);
        FreshWithTargets();
        const std::size_t takes = host->LockTakeCount();
        UsualArguments arguments;
        ASSERT_GE(op.run(*bridge, arguments), 0);
        ExpectAllLocked();
        EXPECT_EQ(host->LockTakeCount() - takes, 1u);
        EXPECT_EQ(host->LockOwnerOf(device), LockOwner::Nobody);
    }
}

// Failures that leave the device connected (the fault-position test covers
// unplugging, silence and failed waits at every report of every operation).
struct FailingCase {
    const char* name;
    std::function<void(VirtualDevice&)> arrange;
    std::function<std::int64_t(Corvane::VrelUsbI2c&)> run;
    std::int64_t expected;
};

TEST_F(BridgeLockTest, FailuresReleaseTheLock) {
    const std::vector<std::uint8_t> data(100, 0x5A);
    std::vector<std::uint8_t> in(8);
    const auto write = [&](std::uint8_t address) {
        return [&, address](Corvane::VrelUsbI2c& b) -> std::int64_t {
            return b.Functions->WriteI2cData(address, data, 100, 100000);
        };
    };
    const std::vector<FailingCase> cases = {
        {"NACK", [](VirtualDevice&) {},
         [&](Corvane::VrelUsbI2c& b) -> std::int64_t {
             return b.Functions->ReadI2cData(0x60 << 1 | 1, in, 8, 100000);
         },
         Corvane::I2C_NOT_ACKNOWLEDGED},
        {"refused chunks", [](VirtualDevice& d) { d.RefuseI2cChunks(50); }, write(0x50 << 1),
         Corvane::I2C_RETRIES_EXHAUSTED},
        {"engine error", [](VirtualDevice& d) { d.FailNextI2cTransfer(0x12); }, write(0x50 << 1),
         Corvane::I2C_STATE_ERROR},
        {"refused speed", [](VirtualDevice& d) { d.RefuseCommands(0x10, 1); }, write(0x50 << 1),
         Corvane::SPEED_CMD_FAILED},
        {"refused read", [](VirtualDevice& d) { d.RefuseCommands(0x91, 1); },
         [&](Corvane::VrelUsbI2c& b) -> std::int64_t {
             return b.Functions->ReadI2cData(0x50 << 1 | 1, in, 8, 100000);
         },
         Corvane::READ_CMD_REJECTED},
        {"refused settings write", [](VirtualDevice& d) { d.RefuseCommands(0xB1, 3); },
         [](Corvane::VrelUsbI2c& b) -> std::int64_t {
             return b.Settings->SetUsbCurrentRequirement(200);
         },
         3},
        {"no answer", [](VirtualDevice& d) { d.DropResponses(0x10); }, write(0x50 << 1),
         Corvane::REPORT_READ_FAILED},
        {"write timed out", [](VirtualDevice& d) { d.TimeOutWrites(); }, write(0x50 << 1),
         Corvane::REPORT_WRITE_FAILED},
    };
    for (const FailingCase& c : cases) {
        SCOPED_TRACE(c.name);
        FreshWithTargets();
        c.arrange(*device);
        EXPECT_EQ(c.run(*bridge), c.expected);
        EXPECT_EQ(host->LockOwnerOf(device), LockOwner::Nobody);
        // The next operation takes it again, on a new connection where the
        // failure dropped the old one.
        const std::size_t takes = host->LockTakeCount();
        host->ClearTrace();
        EXPECT_EQ(bridge->Functions->WriteI2cData(0x50 << 1, data, 100, 100000), 0);
        ExpectAllLocked();
        EXPECT_EQ(host->LockTakeCount() - takes, 1u);
    }
}

struct BusyCase {
    const char* name;
    std::function<std::int64_t(Corvane::VrelUsbI2c&)> run;
};

std::vector<BusyCase> BusyCases() {
    return {
        {"write",
         [](Corvane::VrelUsbI2c& b) -> std::int64_t {
             return b.Functions->WriteI2cData(0xA0, std::vector<std::uint8_t>{0, 0, 7}, 3, 400000);
         }},
        {"read",
         [](Corvane::VrelUsbI2c& b) -> std::int64_t {
             std::vector<std::uint8_t> in(4);
             return b.Functions->ReadI2cData(0xA1, in, 4, 400000);
         }},
        {"SMBus block read",
         [](Corvane::VrelUsbI2c& b) -> std::int64_t {
             std::vector<std::uint8_t> in(4);
             return b.Functions->SmbReadBlock(0x16, in, 4, 100000, 1, 0x20);
         }},
        {"settings read-modify-write",
         [](Corvane::VrelUsbI2c& b) -> std::int64_t {
             return b.Settings->SetGpPinDirection(Corvane::DllConstants::BOTH, 1, 0);
         }},
        {"value getter", [](Corvane::VrelUsbI2c& b) { return b.Settings->GetUsbVid(); }},
        {"reset",
         [](Corvane::VrelUsbI2c& b) -> std::int64_t { return b.Functions->ResetDevice(); }},
    };
}

TEST_F(BridgeLockTest, AnotherProgramsHoldMakesOperationsWaitUpToTheBusyTimeout) {
    EXPECT_EQ(Corvane::GetBusyTimeout(), Corvane::kDefaultBusyTimeoutMs);
    Corvane::SetBusyTimeout(3000);
    // The holder lets go at the last moment the wait allows (the operation
    // succeeds), a microsecond later, or never (BRIDGE_BUSY).
    const struct {
        std::optional<std::chrono::microseconds> hold;
        bool succeeds;
    } holds[] = {{3000ms, true}, {3000ms + 1us, false}, {std::nullopt, false}};
    for (const BusyCase& c : BusyCases()) {
        for (const auto& hold : holds) {
            SCOPED_TRACE(testing::Message() << c.name << ", held for "
                                            << (hold.hold ? hold.hold->count() : -1) << " us");
            FreshWithTargets();
            ASSERT_TRUE(host->HoldLock(device, kHolder, hold.hold));
            const auto start = host->Now();
            const std::int64_t result = c.run(*bridge);
            if (hold.succeeds) {
                EXPECT_GE(result, 0);
                EXPECT_GT(host->Now() - start, 3000ms);
                ExpectAllLocked();
                EXPECT_EQ(host->LockOwnerOf(device), LockOwner::Nobody);
            } else {
                EXPECT_EQ(result, BRIDGE_BUSY);
                EXPECT_EQ(host->Now() - start, 3000ms);
                EXPECT_TRUE(host->Trace().empty()) << "sent while busy";
                EXPECT_EQ(Corvane::LastBusyHolder(), kHolder);
                EXPECT_EQ(host->LockOwnerOf(device), LockOwner::OtherProgram);
            }
        }
    }
}

TEST_F(BridgeLockTest, ABusyTimeoutOfZeroTriesOnce) {
    Connect();
    Corvane::SetBusyTimeout(0);
    ASSERT_TRUE(host->HoldLock(device, kHolder));
    const auto start = host->Now();
    std::vector<std::uint16_t> adc(5);
    EXPECT_EQ(bridge->Functions->GetAdcData(adc), BRIDGE_BUSY);
    EXPECT_EQ(host->Now(), start);
    host->ReleaseLock(device);
    EXPECT_EQ(bridge->Functions->GetAdcData(adc), 0);
}

}  // namespace
}  // namespace CorvaneTest
