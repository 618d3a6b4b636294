// SPDX-License-Identifier: MIT
// For every public operation that exchanges reports: the device is unplugged,
// goes silent, or a wait fails, at each report position in turn. The
// operation must fail within the transport's time-outs, send nothing after
// the failure and leave the bridge's lock free, and the same library object
// must work once the device is back.
#include "common/PublicOperations.hpp"
#include "common/SimTest.hpp"

#include <functional>
#include <vector>

namespace CorvaneTest {
namespace {

using namespace std::chrono_literals;
using Corvane::VrelUsbI2c;
using Corvane::Sim::HostFault;

// Every operation that exchanges reports; a result counts as 0 unless negative.
struct Operation {
    const char* name;
    std::function<std::int32_t(VrelUsbI2c&)> run;
};

std::vector<Operation> Operations() {
    std::vector<Operation> operations;
    for (const PublicOperation& op : PublicOperations()) {
        if (op.exchanges == 0) continue;
        operations.push_back({op.name, [run = op.run](VrelUsbI2c& b) {
                                  UsualArguments arguments;
                                  const std::int64_t result = run(b, arguments);
                                  return result < 0 ? static_cast<std::int32_t>(result) : 0;
                              }});
    }
    return operations;
}

const char* FaultName(HostFault fault) {
    switch (fault) {
        case HostFault::Unplug:
            return "unplug";
        case HostFault::Silence:
            return "silence";
        case HostFault::FailWait:
            return "failed wait";
    }
    return "?";
}

using FaultPositionsTest = SimTest;

TEST_F(FaultPositionsTest, EveryOperationFailsCleanlyAtEveryReport) {
    std::size_t positions = 0;
    for (const Operation& op : Operations()) {
        SCOPED_TRACE(op.name);
        FreshWithTargets();
        const std::size_t start = host->TransferCount();
        const auto begin = host->Now();
        ASSERT_GE(op.run(*bridge), 0);
        const std::size_t transfers = host->TransferCount() - start;
        const auto normalTime = host->Now() - begin;
        ASSERT_GT(transfers, 0u);

        for (std::size_t k = 0; k < transfers; ++k) {
            for (HostFault fault : {HostFault::Unplug, HostFault::Silence, HostFault::FailWait}) {
                SCOPED_TRACE(testing::Message() << FaultName(fault) << " at report " << k);
                FreshWithTargets();
                const std::size_t base = host->TransferCount();
                host->InjectFault(base + k, fault);
                const auto t0 = host->Now();
                const std::int32_t result = op.run(*bridge);
                // A device that goes silent at the last report, a write with
                // no answer (the reset), does not fail the operation.
                const bool mayPass = fault == HostFault::Silence && k + 1 == transfers;
                if (!mayPass) {
                    EXPECT_LT(result, 0);
                }
                EXPECT_LE(host->Now() - t0, normalTime + 1000ms);
                // Silence shows at the read after a silenced write.
                const std::size_t failedAt = fault == HostFault::Silence ? k + 1 : k;
                EXPECT_LE(host->TransferCount() - base, failedAt + 1) << "sent after the failure";
                EXPECT_EQ(host->LockOwnerOf(device), Corvane::Sim::LockOwner::Nobody);

                host->ClearFaults();
                std::int32_t again = op.run(*bridge);
                // After a reset that went through, the old channels fail once.
                if (result >= 0 && again < 0) again = op.run(*bridge);
                EXPECT_GE(again, 0) << "the same object must work again";
                ++positions;
            }
        }
    }
    RecordProperty("fault_positions", static_cast<int>(positions));
    EXPECT_GT(positions, 0u);
}

TEST_F(FaultPositionsTest, ManyConstructionsAndPassesLeaveResourcesFlat) {
    Connect();
    auto second = Plug();
    ASSERT_TRUE(bridge->Settings->GetConnectionStatus());
    const std::size_t channels = host->OpenChannelCount();
    for (int i = 0; i < 10000; ++i) {
        VrelUsbI2c object;
        if (i % 3 == 0) host->Unplug(second);
        object.Settings->GetConnectionStatus();
        if (i % 3 == 0) host->Plug(second);
        object.Settings->GetConnectionStatus();
    }
    EXPECT_EQ(host->OpenChannelCount(), channels);
}

}  // namespace
}  // namespace CorvaneTest
