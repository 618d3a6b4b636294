// SPDX-License-Identifier: MIT
// Data round trips through the library, the virtual chip's I2C engine and the
// ready targets, and the engine's timing as the library meets it.
#include <chrono>
#include <ostream>

#include "BusTestSupport.hpp"

namespace CorvaneTest {
namespace {

using namespace std::chrono_literals;

struct SpeedRow {
    std::uint32_t speed;
    std::uint8_t divider;
};

void PrintTo(const SpeedRow& row, std::ostream* os) {
    *os << row.speed << " Hz";
}

class RoundTripTest : public BusTest, public ::testing::WithParamInterface<SpeedRow> {};

TEST_P(RoundTripTest, EepromFullLengthWriteAndRead) {
    const std::uint32_t speed = GetParam().speed;
    auto big = std::make_shared<Eeprom>(65536, 65536);
    device->AttachTarget(0x51, big);
    constexpr std::uint8_t kWrite = 0xA2;

    // Two address bytes and 65,533 data bytes: the longest write there is.
    std::vector<std::uint8_t> bytes = Pattern(65535, speed);
    bytes[0] = 0x00;
    bytes[1] = 0x00;
    const auto started = host->Now();
    ASSERT_EQ(DevFunctions::int_WriteI2cData(kWrite, bytes.data(), 65535, speed), 0);
    EXPECT_EQ(device->I2cSpeedDivider(), GetParam().divider);
    EXPECT_EQ(Count(0x90), 1093u);
    EXPECT_TRUE(std::equal(bytes.begin() + 2, bytes.end(), big->Contents().begin()));
    // The bus time alone: 65,536 bytes of 9 bits.
    const auto busTime = std::chrono::microseconds(65536LL * 9 * 1'000'000 / speed);
    EXPECT_GE(host->Now() - started, busTime);

    big->Contents()[65533] = 0x5A;
    big->Contents()[65534] = 0xA5;
    const std::uint8_t origin[] = {0x00, 0x00};
    ASSERT_EQ(DevFunctions::int_WriteI2cData(kWrite, origin, 2, speed), 0);
    std::vector<std::uint8_t> back(65535);
    ASSERT_EQ(DevFunctions::int_ReadI2cData(kWrite | 1, back.data(), 65535, speed), 0);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), big->Contents().begin()));
}

TEST_P(RoundTripTest, SmbusFullLengthBlocks) {
    const std::uint32_t speed = GetParam().speed;
    // Reads: 65,535 bytes without PEC, 65,534 and the PEC with it.
    smbus->SetRegister(0x20, Pattern(65535, 2));
    std::vector<std::uint8_t> back(65535);
    ASSERT_EQ(DevFunctions::int_SmbReadBlock(kSmbusAddress, back.data(), 65535, speed, 0, 0x20), 0);
    EXPECT_EQ(back, Pattern(65535, 2));

    smbus->EnablePec(true);
    smbus->SetRegister(0x21, Pattern(65534, 3));
    back.assign(65534, 0);
    ASSERT_EQ(DevFunctions::int_SmbReadBlock(kSmbusAddress, back.data(), 65534, speed, 1, 0x21), 0);
    EXPECT_EQ(back, Pattern(65534, 3));

    // Writes: the register index is the first data byte.
    auto block = Pattern(65534, 4);
    block[0] = 0x22;
    ASSERT_EQ(DevFunctions::int_SmbWriteBlock(kSmbusAddress, block.data(), 65534, speed, 1), 0);
    ASSERT_EQ(smbus->Writes().size(), 1u);
    EXPECT_TRUE(smbus->Writes()[0].pecGood);
    EXPECT_EQ(smbus->Register(0x22), std::vector<std::uint8_t>(block.begin() + 1, block.end()));

    smbus->EnablePec(false);
    block = Pattern(65535, 5);
    block[0] = 0x23;
    ASSERT_EQ(DevFunctions::int_SmbWriteBlock(kSmbusAddress, block.data(), 65535, speed, 0), 0);
    EXPECT_EQ(smbus->Register(0x23), std::vector<std::uint8_t>(block.begin() + 1, block.end()));
}

TEST_P(RoundTripTest, SmbusBlocksWithByteCounts) {
    const std::uint32_t speed = GetParam().speed;
    smbus->EnablePec(true);
    smbus->EnableByteCount(true);
    const std::vector<std::uint8_t> block = {0x30, 4, 'C', 'o', 'r', 'v'};
    ASSERT_EQ(DevFunctions::int_SmbWriteBlock(kSmbusAddress, block.data(), 6, speed, 1), 0);
    EXPECT_EQ(smbus->Register(0x30), (std::vector<std::uint8_t>{'C', 'o', 'r', 'v'}));

    std::vector<std::uint8_t> back(5);
    ASSERT_EQ(DevFunctions::int_SmbReadBlock(kSmbusAddress, back.data(), 5, speed, 1, 0x30), 0);
    EXPECT_EQ(back, (std::vector<std::uint8_t>{4, 'C', 'o', 'r', 'v'}));
}

INSTANTIATE_TEST_SUITE_P(Speeds, RoundTripTest,
                         ::testing::Values(SpeedRow{k100k, 117}, SpeedRow{k400k, 27},
                                           SpeedRow{k1M, 9}),
                         [](const auto& info) { return std::to_string(info.param.speed); });

class VirtualBusTest : public BusTest {};

TEST_F(VirtualBusTest, EepromPageWriteWrapsWithinThePage) {
    auto small = std::make_shared<Eeprom>(256, 8);
    device->AttachTarget(0x52, small);
    const std::uint8_t write[] = {0x00, 0x06, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    ASSERT_EQ(DevFunctions::int_WriteI2cData(0xA4, write, sizeof write, k400k), 0);
    const std::vector<std::uint8_t> page(small->Contents().begin(), small->Contents().begin() + 9);
    EXPECT_EQ(page, (std::vector<std::uint8_t>{2, 3, 4, 5, 6, 7, 8, 9, 0xFF}));
}

TEST_F(VirtualBusTest, EepromRandomAndSequentialReads) {
    eeprom->Contents() = Pattern(32768, 7);
    const std::uint8_t nearEnd[] = {0x7F, 0xFE};
    ASSERT_EQ(DevFunctions::int_WriteI2cData(kEepromWrite, nearEnd, 2, k1M), 0);
    std::uint8_t back[4] = {};
    ASSERT_EQ(DevFunctions::int_ReadI2cData(kEepromRead, back, 4, k1M), 0);
    const auto& m = eeprom->Contents();
    EXPECT_EQ(std::vector<std::uint8_t>(back, back + 4),
              (std::vector<std::uint8_t>{m[32766], m[32767], m[0], m[1]}));
    // The next read goes on where the last one stopped.
    ASSERT_EQ(DevFunctions::int_ReadI2cData(kEepromRead, back, 2, k1M), 0);
    EXPECT_EQ(back[0], m[2]);
    EXPECT_EQ(back[1], m[3]);
}

TEST_F(VirtualBusTest, SmbusDeviceChecksThePecOfWrites) {
    smbus->EnablePec(true);
    smbus->SetRegister(0x10, {1, 2});
    // Written as plain I2C with a wrong last byte: taken, flagged, not stored.
    const std::uint8_t bad[] = {0x10, 7, 8, 0x00};
    EXPECT_EQ(DevFunctions::int_WriteI2cData(kSmbusAddress, bad, 4, k100k), 0);
    EXPECT_EQ(smbus->PecErrors(), 1u);
    EXPECT_FALSE(smbus->Writes().back().pecGood);
    EXPECT_EQ(smbus->Register(0x10), (std::vector<std::uint8_t>{1, 2}));

    // With byte counts the device knows where the PEC is and refuses it.
    smbus->EnableByteCount(true);
    const std::uint8_t counted[] = {0x10, 2, 7, 8, 0x00};
    // The refused PEC is the last byte: the engine ends idle, and only the
    // write-failed flag tells, for plain and block writes alike.
    for (const bool block : {false, true}) {
        const std::int32_t rc =
            block ? DevFunctions::int_SmbWriteBlock(kSmbusAddress, counted, 5, k100k, 0)
                  : DevFunctions::int_WriteI2cData(kSmbusAddress, counted, 5, k100k);
        EXPECT_EQ(rc, -23) << block;
        EXPECT_EQ(AnswersTo(0x10).back()[8], 0x00);
        EXPECT_EQ(AnswersTo(0x10).back()[20], 0x40);
    }
    EXPECT_EQ(smbus->PecErrors(), 3u);
    EXPECT_EQ(smbus->Register(0x10), (std::vector<std::uint8_t>{1, 2}));
}

TEST_F(VirtualBusTest, EepromWriteCycleIsWaitedOutByPollingForTheAcknowledge) {
    // Zero-length writes probe the address until the page is stored.
    host->SetReportTime(100us);
    struct Row {
        std::chrono::microseconds cycle;
        bool nacked;
    };
    for (const Row row : {Row{0us, false}, Row{5000us, true}, Row{20000us, true}}) {
        eeprom->SetWriteCycle(row.cycle);
        ASSERT_EQ(EepromWrite(0x0040, {1, 2, 3}, k1M), 0);
        const auto stored = host->Now();
        const std::uint8_t none = 0;
        int nacks = 0;
        std::int32_t rc = -23;
        while (rc == -23 && nacks < 100) {
            rc = DevFunctions::int_WriteI2cData(kEepromWrite, &none, 0, k1M);
            nacks += rc == -23 ? 1 : 0;
        }
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(nacks > 0, row.nacked) << row.cycle.count();
        if (row.nacked) {
            EXPECT_GE(host->Now() - stored, row.cycle - 2ms) << row.cycle.count();
        }
        EXPECT_EQ(eeprom->Contents()[0x41], 2);
    }
}

TEST_F(VirtualBusTest, ClockStretchedPerByteSlowsTheTransferDown) {
    eeprom->SetWriteCycle(0us);
    const auto data = Pattern(58);
    std::vector<std::chrono::microseconds> took;
    for (const auto stretch : {0us, 250us}) {
        eeprom->SetClockStretch(stretch);
        const auto started = host->Now();
        ASSERT_EQ(EepromWrite(0x0100, data, k1M), 0);
        ASSERT_EQ(EepromWrite(0x0100, {}, k1M), 0);
        std::vector<std::uint8_t> back(58);
        ASSERT_EQ(DevFunctions::int_ReadI2cData(kEepromRead, back.data(), 58, k1M), 0);
        EXPECT_EQ(back, data);
        took.push_back(host->Now() - started);
    }
    // 61 and 3 bytes written, the address and 58 bytes read: 123 stretches,
    // less what hides in the pauses the library takes anyway.
    EXPECT_GE(took[1] - took[0], 100 * 250us);
}

TEST_F(VirtualBusTest, FastBusMeetsAFasterHost) {
    // At 4 MHz D is 0, and with quick reports the library outruns the bus:
    // chunks are refused while the engine is busy, get-data answers come back
    // "not ready", and status polls find the engine still writing the
    // register index. The data arrive all the same. (A report takes at least
    // a millisecond on real USB; 2 us keeps the not-ready streaks within
    // the library's budget of 50.)
    host->SetReportTime(2us);
    constexpr std::uint32_t k4M = 4'000'000;
    auto big = std::make_shared<Eeprom>(65536, 65536);
    device->AttachTarget(0x51, big);
    std::vector<std::uint8_t> bytes = Pattern(602, 9);
    bytes[0] = 0x02;
    bytes[1] = 0x00;
    ASSERT_EQ(DevFunctions::int_WriteI2cData(0xA2, bytes.data(), 602, k4M), 0);
    std::size_t refused = 0;
    for (const Report& r : AnswersTo(0x90)) refused += r[1] != 0 ? 1 : 0;
    EXPECT_GT(refused, 0u);
    EXPECT_TRUE(std::equal(bytes.begin() + 2, bytes.end(), big->Contents().begin() + 0x200));

    smbus->SetRegister(0x40, Pattern(600, 10));
    Forget();
    std::vector<std::uint8_t> back(600);
    ASSERT_EQ(DevFunctions::int_SmbReadBlock(kSmbusAddress, back.data(), 600, k4M, 0, 0x40), 0);
    EXPECT_EQ(back, Pattern(600, 10));
    std::size_t notReady = 0;
    for (const Report& r : AnswersTo(0x40)) notReady += r[3] > 60 ? 1 : 0;
    EXPECT_GT(notReady, 0u);
    bool sawBusy = false;
    for (const Report& r : AnswersTo(0x10)) sawBusy = sawBusy || r[8] == 0x41;
    EXPECT_TRUE(sawBusy);
    EXPECT_EQ(AnswersTo(0x10).back()[8], 0x45);
}

TEST_F(VirtualBusTest, DataAreReadyOnlyAfterTheirBusTime) {
    // 4 MHz: 2.25 us a byte, so address and 60 bytes take 137.25 us. With
    // 20 us a report and no pause, get-data requests reach the chip 40, 80,
    // 120 and 160 us after the read began.
    host->SetReportTime(20us);
    std::vector<std::uint8_t> back(60);
    ASSERT_EQ(DevFunctions::int_ReadI2cData(kEepromRead, back.data(), 60, 4'000'000), 0);
    std::vector<int> counts;
    for (const Report& r : AnswersTo(0x40)) counts.push_back(r[3]);
    EXPECT_EQ(counts, (std::vector<int>{0x7F, 0x7F, 0x7F, 60}));
}

}  // namespace
}  // namespace CorvaneTest
