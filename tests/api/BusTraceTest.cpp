// SPDX-License-Identifier: MIT
// The decoded bus trace against what the virtual bus carried: each bus call's
// transfers, with refusals, resends and missing acknowledges on the way.
#include <corvane/BusTrace.hpp>
#include <corvane/sim/Eeprom.hpp>

#include <functional>
#include <numeric>

#include "common/SimTest.hpp"

namespace CorvaneTest {
namespace {

using Corvane::BusTransaction;
using Outcome = BusTransaction::Outcome;
using Bytes_ = std::vector<std::uint8_t>;

constexpr std::uint8_t kEeprom = 0x50;
constexpr std::uint8_t kNobody = 0x51;

struct Expected {
    std::uint8_t address;
    bool read;
    bool repeatedStart;
    bool stop;
    Bytes_ data;
    Outcome outcome;
    std::uint32_t length;  // the data's size when 0
};

struct Case {
    const char* name;
    std::function<void(VirtualDevice&)> fault;
    std::function<void(Corvane::I2cBus&)> call;
    std::vector<Expected> transfers;
};

Bytes_ Counting(std::size_t n, std::uint8_t first = 0) {
    Bytes_ bytes(n);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

class BusTraceTest : public SimTest, public ::testing::WithParamInterface<Case> {};

TEST_P(BusTraceTest, DecodesWhatTheBusCarried) {
    Connect();
    auto eeprom = std::make_shared<Corvane::Sim::Eeprom>(4096, 32);
    std::copy_n(Counting(256).begin(), 256, eeprom->Contents().begin());
    device->AttachTarget(kEeprom, eeprom);
    GetParam().fault(*device);
    Corvane::BusTraceDecoder decoder;
    Corvane::SetReportTrace([&decoder](const Corvane::TracedReport& r) { decoder.Take(r); });
    Corvane::I2cBus bus(*bridge);
    GetParam().call(bus);
    Corvane::SetReportTrace({});

    const std::vector<BusTransaction> got = decoder.Finish();
    ASSERT_EQ(got.size(), GetParam().transfers.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        const Expected& want = GetParam().transfers[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].address, want.address);
        EXPECT_EQ(got[i].read, want.read);
        EXPECT_EQ(got[i].repeatedStart, want.repeatedStart);
        EXPECT_EQ(got[i].stop, want.stop);
        EXPECT_EQ(got[i].data, want.data);
        EXPECT_EQ(got[i].outcome, want.outcome);
        EXPECT_EQ(got[i].length, want.length ? want.length : want.data.size());
    }
    EXPECT_TRUE(decoder.Finish().empty());
}

void None(VirtualDevice&) {}

const Case kCases[] = {
    {"RandomRead",
     None,
     [](Corvane::I2cBus& bus) {
         Bytes_ in(3);
         bus.WriteRead(kEeprom, Bytes_{0x00, 0x10}, in);
     },
     {{kEeprom, false, false, false, {0x00, 0x10}, Outcome::Done, 0},
      {kEeprom, true, true, true, {0x10, 0x11, 0x12}, Outcome::Done, 0}}},
    {"WriteInTwoChunks",
     None,
     [](Corvane::I2cBus& bus) {
         Bytes_ bytes = Counting(68, 0x80);
         bytes.insert(bytes.begin(), {0x02, 0x00});
         bus.Write(kEeprom, bytes);
     },
     {{kEeprom, false, false, true,
       [] {
           Bytes_ bytes = Counting(68, 0x80);
           bytes.insert(bytes.begin(), {0x02, 0x00});
           return bytes;
       }(),
       Outcome::Done, 0}}},
    {"ReadInTwoChunks",
     None,
     [](Corvane::I2cBus& bus) {
         bus.Write(kEeprom, Bytes_{0x00, 0x20});
         Bytes_ in(100);
         bus.Read(kEeprom, in);
     },
     {{kEeprom, false, false, true, {0x00, 0x20}, Outcome::Done, 0},
      {kEeprom, true, false, true, Counting(100, 0x20), Outcome::Done, 0}}},
    {"RefusedChunkCountsOnce",
     [](VirtualDevice& d) { d.RefuseI2cChunks(2); },
     [](Corvane::I2cBus& bus) { bus.WriteByteData(kEeprom, 0x00, 0x42); },
     {{kEeprom, false, false, true, {0x00, 0x42}, Outcome::Done, 0}}},
    {"DelayedDataCountsOnce",
     [](VirtualDevice& d) { d.DelayI2cReadData(3); },
     [](Corvane::I2cBus& bus) { bus.ReadByte(kEeprom); },
     {{kEeprom, true, false, true, {0x00}, Outcome::Done, 0}}},
    {"ReadNotAcknowledged",
     None,
     [](Corvane::I2cBus& bus) { bus.ReadByte(kNobody); },
     {{kNobody, true, false, true, {}, Outcome::NotAcknowledged, 1}}},
    {"WriteNotAcknowledged",
     None,
     [](Corvane::I2cBus& bus) { bus.WriteByte(kNobody, 7); },
     {{kNobody, false, false, true, {7}, Outcome::NotAcknowledged, 0}}},
    {"QuickToNobody",
     None,
     [](Corvane::I2cBus& bus) { bus.Quick(kNobody); },
     {{kNobody, false, false, true, {}, Outcome::NotAcknowledged, 0}}},
    {"WriteFailsInTheEngine",
     [](VirtualDevice& d) { d.FailNextI2cTransfer(0x44); },
     [](Corvane::I2cBus& bus) { bus.WriteByteData(kEeprom, 0x00, 0x42); },
     {{kEeprom, false, false, true, {0x00, 0x42}, Outcome::Failed, 0}}},
    {"ReadEndedEarly",
     [](VirtualDevice& d) { d.EndNextI2cReadEarly(); },
     [](Corvane::I2cBus& bus) {
         Bytes_ in(4);
         bus.Read(kEeprom, in);
     },
     {{kEeprom, true, false, true, {0x00, 0x01, 0x02}, Outcome::Failed, 4}}},
};

INSTANTIATE_TEST_SUITE_P(Cases, BusTraceTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace CorvaneTest
