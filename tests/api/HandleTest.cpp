// SPDX-License-Identifier: MIT
// Bridge handles on two and three virtual bridges: each handle's bytes reach
// its own chip whatever other handles, library objects and selections do in
// between; an unplugged bridge fails its handle's calls instead of sending
// them elsewhere, and the handle works again once the bridge is back.
#include "common/Recorder.hpp"
#include "common/SimTest.hpp"

#include <corvane/corvane.h>
#include <corvane/BridgeHandle.hpp>
#include <corvane/I2cBus.hpp>
#include <corvane/sim/Eeprom.hpp>
#include <corvane/sim/SmbusDevice.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <thread>

namespace CorvaneTest {
namespace {

using Corvane::BRIDGE_NOT_FOUND;
using Corvane::BRIDGE_UNPLUGGED;
using Corvane::BridgeChoice;
using Corvane::BridgeHandle;
using Corvane::I2cBus;
using Corvane::VrelUsbI2c;

constexpr std::uint8_t kTarget = 0x20;

BridgeChoice Index(std::int32_t index) {
    BridgeChoice choice;
    choice.index = index;
    return choice;
}

BridgeChoice Serial(const std::u16string& serial) {
    BridgeChoice choice;
    choice.serial = Narrow(serial);
    return choice;
}

class HandleTest : public SimTest {
  public:
    void SetUp() override {
        SimTest::SetUp();
        host->SetReportTime(std::chrono::microseconds(0));
        for (std::size_t i = 0; i < chips.size(); ++i) {
            chips[i] = std::make_shared<VirtualDevice>();
            recorders[i] = std::make_shared<Recorder>();
            chips[i]->AttachTarget(kTarget, recorders[i]);
        }
    }

    std::shared_ptr<BridgeHandle> Open(const BridgeChoice& choice) {
        std::shared_ptr<BridgeHandle> handle;
        EXPECT_EQ(BridgeHandle::Open(choice, handle), 0);
        return handle;
    }

    std::u16string SerialOf(std::size_t chip) const { return chips[chip]->Flash().serialNumber; }

    // Writes a fresh marker byte through `bus`: the chip that received it
    // (-1 for none) and the call's result.
    std::pair<int, std::int32_t> Mark(I2cBus& bus) {
        const auto marker = static_cast<std::uint8_t>(++markers_);
        const std::int32_t result = bus.WriteByte(kTarget, marker);
        int receiver = -1;
        for (std::size_t i = 0; i < recorders.size(); ++i) {
            const auto& written = recorders[i]->written;
            if (std::count(written.begin(), written.end(), marker) > 0) {
                EXPECT_EQ(receiver, -1) << "two chips got marker " << int{marker};
                receiver = static_cast<int>(i);
            }
        }
        return {receiver, result};
    }

    std::array<std::shared_ptr<VirtualDevice>, 3> chips;
    std::array<std::shared_ptr<Recorder>, 3> recorders;

  private:
    int markers_ = 0;
};

// What the other users of the library do between two writes of the handles.
struct Step {
    const char* name;
    std::function<void(HandleTest&)> act;
};

TEST_F(HandleTest, EachHandleReachesItsOwnBridgeThroughEveryInterleaving) {
    host->Plug(chips[0]);
    host->Plug(chips[1]);
    // Chip 1 as a C++ program picks it, chip 0 as a handle opened on it.
    VrelUsbI2c mine;
    mine.Settings->GetConnectionStatus();
    ASSERT_EQ(mine.Management->SelectDev(1), 0);
    I2cBus a(mine);
    I2cBus b(Open(Index(0)));
    std::optional<I2cBus> c;  // chip 2, by serial, once it is plugged
    std::unique_ptr<VrelUsbI2c> object;
    std::array<bool, 3> plugged{true, true, false};
    auto plug = [&](std::size_t chip, std::optional<std::size_t> at) {
        host->Plug(chips[chip], at);
        plugged[chip] = true;
    };
    auto unplug = [&](std::size_t chip) {
        host->Unplug(chips[chip]);
        plugged[chip] = false;
    };

    const Step steps[] = {
        {"nothing", [](HandleTest&) {}},
        {"a new library object", [&](HandleTest&) { object = std::make_unique<VrelUsbI2c>(); }},
        {"it searches and selects bridge 0",
         [&](HandleTest&) {
             object->Settings->GetConnectionStatus();
             object->Management->SelectDev(0);
         }},
        {"it selects bridge 1 without searching",
         [&](HandleTest&) { object->Management->SelectDev(1); }},
        {"a library object for other IDs searches",
         [&](HandleTest&) { VrelUsbI2c(0x1234, 0x5678).Settings->GetConnectionStatus(); }},
        {"a C handle is made and asked for its connection",
         [&](HandleTest&) {
             corvane_bridge* handle = nullptr;
             ASSERT_EQ(corvane_bridge_new(0x3A7C, 0x01D5, &handle), 0);
             EXPECT_EQ(corvane_get_connection_status(handle), 1);
             corvane_bridge_free(handle);
         }},
        {"a third bridge is plugged in front, a handle opened on it by serial",
         [&](HandleTest& t) {
             plug(2, 0);
             c.emplace(t.Open(Serial(t.SerialOf(2))));
         }},
        {"bridge 1 is unplugged", [&](HandleTest&) { unplug(1); }},
        {"a new library object searches",
         [&](HandleTest&) { VrelUsbI2c().Settings->GetConnectionStatus(); }},
        {"bridge 1 is back in front", [&](HandleTest&) { plug(1, 0); }},
        {"bridge 0 is unplugged", [&](HandleTest&) { unplug(0); }},
        {"bridge 0 is back at the end", [&](HandleTest&) { plug(0, std::nullopt); }},
        {"all three are unplugged",
         [&](HandleTest&) {
             for (std::size_t chip = 0; chip < 3; ++chip) unplug(chip);
         }},
        {"they are back in reverse order",
         [&](HandleTest&) {
             for (std::size_t chip = 3; chip-- > 0;) plug(chip, std::nullopt);
         }},
        {"the object selects the first bridge and searches",
         [&](HandleTest&) {
             object->Management->SelectDev(0);
             object->Settings->GetConnectionStatus();
         }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.act(*this);
        // Each order of the handles' calls, after the same step.
        for (int order = 0; order < 2; ++order) {
            std::vector<std::pair<I2cBus*, std::size_t>> buses{{&a, 1}, {&b, 0}};
            if (c) buses.emplace_back(&*c, 2);
            if (order == 1) std::reverse(buses.begin(), buses.end());
            for (auto [bus, chip] : buses) {
                const auto [receiver, result] = Mark(*bus);
                if (plugged[chip]) {
                    EXPECT_EQ(result, 0) << "chip " << chip;
                    EXPECT_EQ(receiver, static_cast<int>(chip));
                } else {
                    EXPECT_EQ(result, BRIDGE_UNPLUGGED) << "chip " << chip;
                    EXPECT_EQ(receiver, -1);
                }
            }
        }
    }
}

// A hidraw number is another bridge's once its own bridge is gone: a handle
// opened by serial never follows the number to another chip, one opened by
// path does (as a path names a node), and both come back with their bridge.
TEST_F(HandleTest, SerialHandlesFollowTheirChipNotItsPath) {
    host->Plug(chips[0]);
    host->Plug(chips[1]);
    const std::string path0 = Narrow(chips[0]->Path());
    I2cBus bySerial(Open(Serial(SerialOf(0))));
    BridgeChoice atPath;
    atPath.path = path0;
    I2cBus byPath(Open(atPath));

    host->Unplug(chips[0]);
    chips[0]->SetPath(u"/dev/hidraw7");
    host->Unplug(chips[1]);
    chips[1]->SetPath(chips[0]->Path() == u"/dev/hidraw7" ? Corvane::Utf8ToUtf16(path0) : u"");
    host->Plug(chips[1]);
    EXPECT_EQ(Mark(bySerial), std::make_pair(-1, BRIDGE_UNPLUGGED));
    EXPECT_EQ(Mark(byPath), std::make_pair(1, 0));
    host->Plug(chips[0]);
    EXPECT_EQ(Mark(bySerial), std::make_pair(0, 0));
    EXPECT_EQ(bySerial.Bridge()->Path(), "/dev/hidraw7");
}

TEST_F(HandleTest, OpeningRefusesWhatIsNotThere) {
    host->Plug(chips[0]);
    host->Plug(chips[1]);
    std::shared_ptr<BridgeHandle> handle;
    EXPECT_EQ(BridgeHandle::Open(Index(1), handle), 0);
    EXPECT_EQ(BridgeHandle::Open(Index(2), handle), BRIDGE_NOT_FOUND);
    EXPECT_EQ(BridgeHandle::Open(Index(-1), handle), Corvane::DEVICE_INDEX_ERROR);
    EXPECT_EQ(BridgeHandle::Open(Serial(u"CVS999999"), handle), BRIDGE_NOT_FOUND);
    BridgeChoice other = Index(0);
    other.vendorId = 0x1234;
    EXPECT_EQ(BridgeHandle::Open(other, handle), BRIDGE_NOT_FOUND);
    // A failed open leaves the handle it was given alone.
    EXPECT_EQ(handle->Path(), Narrow(chips[1]->Path()));
}

// Handles for other IDs in the same process: the library searches for each
// handle's IDs before its calls.
TEST_F(HandleTest, HandlesForOtherIdsWorkSideBySide) {
    auto other = std::make_shared<VirtualDevice>(0x1234, 0x5678);
    auto otherRecorder = std::make_shared<Recorder>();
    other->AttachTarget(kTarget, otherRecorder);
    host->Plug(chips[0]);
    host->Plug(other);
    BridgeChoice choice;
    choice.vendorId = 0x1234;
    choice.productId = 0x5678;
    I2cBus foreign(Open(choice));
    I2cBus ours(Open(Index(0)));
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(foreign.WriteByte(kTarget, 0xA0), 0);
        EXPECT_EQ(Mark(ours), std::make_pair(0, 0));
    }
    EXPECT_EQ(otherRecorder->written, std::vector<std::uint8_t>(3, 0xA0));
}

// Four threads, each with its own bridge and EEPROM, and a fifth making and
// dropping library objects and C handles: every EEPROM holds exactly what its
// thread wrote (ThreadSanitizer checks the rest).
TEST_F(HandleTest, ThreadsOnTheirOwnBridges) {
    constexpr int kBridges = 4;
    constexpr int kRounds = 12;
    std::vector<std::shared_ptr<VirtualDevice>> bridges;
    std::vector<std::shared_ptr<Corvane::Sim::Eeprom>> eeproms;
    for (int i = 0; i < kBridges; ++i) {
        bridges.push_back(std::make_shared<VirtualDevice>());
        eeproms.push_back(std::make_shared<Corvane::Sim::Eeprom>(256, 16));
        bridges.back()->AttachTarget(0x50, eeproms.back());
        host->Plug(bridges.back());
    }
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::thread churn([&] {
        while (!done) {
            VrelUsbI2c object;
            object.Settings->GetConnectionStatus();
            corvane_bridge* handle = nullptr;
            if (corvane_bridge_new(0x3A7C, 0x01D5, &handle) == 0) {
                corvane_select_dev(handle, 3);
                corvane_read_gpio_pin_value(handle, 0);
                corvane_bridge_free(handle);
            }
        }
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < kBridges; ++t) {
        threads.emplace_back([&, t] {
            I2cBus bus(Open(Serial(bridges[static_cast<std::size_t>(t)]->Flash().serialNumber)),
                       1'000'000);
            for (int round = 0; round < kRounds; ++round) {
                const auto offset = static_cast<std::uint8_t>(round * 16);
                std::array<std::uint8_t, 18> page{0, offset};
                std::fill(page.begin() + 2, page.end(), static_cast<std::uint8_t>(t * 16 + round));
                if (bus.Write(0x50, page) != 0) ++failures;
                std::int32_t polled = Corvane::I2C_NOT_ACKNOWLEDGED;
                for (int poll = 0; poll < 200 && polled == Corvane::I2C_NOT_ACKNOWLEDGED; ++poll) {
                    polled = bus.Quick(0x50);
                }
                std::array<std::uint8_t, 16> back{};
                if (polled != 0 || bus.WriteRead(0x50, std::span(page).first(2), back) != 16 ||
                    !std::equal(back.begin(), back.end(), page.begin() + 2)) {
                    ++failures;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    done = true;
    churn.join();
    EXPECT_EQ(failures.load(), 0);
    for (int t = 0; t < kBridges; ++t) {
        for (int round = 0; round < kRounds; ++round) {
            const auto& memory = eeproms[static_cast<std::size_t>(t)]->Contents();
            const std::vector<std::uint8_t> page(memory.begin() + round * 16,
                                                 memory.begin() + round * 16 + 16);
            EXPECT_EQ(page,
                      std::vector<std::uint8_t>(16, static_cast<std::uint8_t>(t * 16 + round)))
                << "bridge " << t << " round " << round;
        }
    }
}

}  // namespace
}  // namespace CorvaneTest
