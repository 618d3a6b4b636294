// SPDX-License-Identifier: MIT
// The ready targets of the virtual I2C bus, driven as a bus master would.
#include <gtest/gtest.h>

#include <corvane/sim.hpp>

#include <stdexcept>
#include <vector>

namespace CorvaneTest {
namespace {

using Corvane::Sim::Eeprom;
using Corvane::Sim::I2cTarget;
using Corvane::Sim::SmbusDevice;

// START, the bytes, STOP (or no STOP for a repeated START next).
bool WriteTransfer(I2cTarget& target, const std::vector<std::uint8_t>& bytes, bool stop = true) {
    bool acked = target.Start(false);
    for (std::uint8_t b : bytes) acked = acked && target.WriteByte(b);
    if (stop) target.Stop();
    return acked;
}

std::uint8_t Pec(const std::vector<std::uint8_t>& bytes) {
    std::uint8_t crc = 0;
    for (std::uint8_t b : bytes) crc = SmbusDevice::PecStep(crc, b);
    return crc;
}

std::vector<std::uint8_t> ReadTransfer(I2cTarget& target, std::size_t n) {
    EXPECT_TRUE(target.Start(true));
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < n; ++i) bytes.push_back(target.ReadByte());
    target.Stop();
    return bytes;
}

TEST(EepromTarget, PageWriteWrapsAndIsStoredAtStop) {
    Eeprom eeprom(256, 8);
    EXPECT_EQ(eeprom.Contents(), std::vector<std::uint8_t>(256, 0xFF));
    ASSERT_TRUE(eeprom.Start(false));
    for (std::uint8_t b : std::vector<std::uint8_t>{0x00, 0x06, 10, 11, 12}) {
        ASSERT_TRUE(eeprom.WriteByte(b));
    }
    EXPECT_EQ(eeprom.Contents()[6], 0xFF);  // latched, not stored yet
    eeprom.Stop();
    EXPECT_EQ(eeprom.Contents()[6], 10);
    EXPECT_EQ(eeprom.Contents()[7], 11);
    EXPECT_EQ(eeprom.Contents()[0], 12);
    EXPECT_EQ(eeprom.AddressCounter(), 1u);
}

TEST(EepromTarget, RepeatedStartReadsWithoutStoring) {
    Eeprom eeprom(1024, 32);
    for (std::size_t i = 0; i < 1024; ++i) eeprom.Contents()[i] = static_cast<std::uint8_t>(i);
    // Random read: address, repeated START, then sequential bytes.
    ASSERT_TRUE(WriteTransfer(eeprom, {0x01, 0xFE}, false));
    EXPECT_EQ(ReadTransfer(eeprom, 3), (std::vector<std::uint8_t>{0xFE, 0xFF, 0x00}));
    // An address beyond the memory wraps; the last byte is followed by the first.
    ASSERT_TRUE(WriteTransfer(eeprom, {0xFF, 0xFF}, false));
    EXPECT_EQ(ReadTransfer(eeprom, 2), (std::vector<std::uint8_t>{0xFF, 0x00}));
    // Data bytes followed by a repeated START are dropped.
    ASSERT_TRUE(WriteTransfer(eeprom, {0x00, 0x10, 0xAA}, false));
    ReadTransfer(eeprom, 1);
    EXPECT_EQ(eeprom.Contents()[0x10], 0x10);
}

TEST(EepromTarget, OddSizesKeepTheCounterInside) {
    Eeprom eeprom(100, 64);
    ASSERT_TRUE(WriteTransfer(eeprom, {0x00, 99, 1, 2}));
    EXPECT_EQ(eeprom.Contents()[99], 1);
    EXPECT_EQ(eeprom.Contents()[64], 2);  // the short last page wraps to its start
    EXPECT_LT(eeprom.AddressCounter(), 100u);
}

TEST(EepromTarget, RejectsImpossibleGeometry) {
    EXPECT_THROW(Eeprom(0, 1), std::invalid_argument);
    EXPECT_THROW(Eeprom(65537, 64), std::invalid_argument);
    EXPECT_THROW(Eeprom(256, 0), std::invalid_argument);
    EXPECT_THROW(Eeprom(256, 512), std::invalid_argument);
}

TEST(SmbusDeviceTarget, BlockReadWithCountAndPec) {
    SmbusDevice battery(0x0B);
    battery.EnablePec(true);
    battery.EnableByteCount(true);
    battery.SetRegister(0x20, {'a', 'b'});
    ASSERT_TRUE(WriteTransfer(battery, {0x20}, false));
    const auto bytes = ReadTransfer(battery, 5);
    std::uint8_t pec = Pec({0x16, 0x20, 0x17, 0x02, 'a', 'b'});
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{2, 'a', 'b', pec, 0xFF}));
    // A read without an index reads the register last selected; its PEC covers
    // only the read's own address byte.
    const auto again = ReadTransfer(battery, 4);
    EXPECT_EQ(again[3], Pec({0x17, 0x02, 'a', 'b'}));
}

TEST(SmbusDeviceTarget, BlockWritesAreRecordedAndCheckedForPec) {
    SmbusDevice device(0x0B);
    ASSERT_TRUE(WriteTransfer(device, {0x05, 1, 2, 3}));
    EXPECT_EQ(device.Register(0x05), (std::vector<std::uint8_t>{1, 2, 3}));

    device.EnablePec(true);
    std::uint8_t pec = Pec({0x16, 0x06, 9});
    ASSERT_TRUE(WriteTransfer(device, {0x06, 9, pec}));
    ASSERT_TRUE(WriteTransfer(device, {0x06, 8, static_cast<std::uint8_t>(pec ^ 1)}));
    ASSERT_EQ(device.Writes().size(), 3u);
    EXPECT_TRUE(device.Writes()[1].pecGood);
    EXPECT_FALSE(device.Writes()[2].pecGood);
    EXPECT_EQ(device.Writes()[2].data, std::vector<std::uint8_t>{8});
    EXPECT_EQ(device.Register(0x06), std::vector<std::uint8_t>{9});
    EXPECT_EQ(device.PecErrors(), 1u);

    // With byte counts a wrong PEC is not acknowledged, and neither is a
    // byte after the PEC.
    device.EnableByteCount(true);
    pec = Pec({0x16, 0x07, 0x01, 4});
    EXPECT_TRUE(WriteTransfer(device, {0x07, 0x01, 4, pec}));
    EXPECT_EQ(device.Register(0x07), std::vector<std::uint8_t>{4});
    EXPECT_FALSE(WriteTransfer(device, {0x07, 0x01, 5, static_cast<std::uint8_t>(pec ^ 1)}));
    EXPECT_FALSE(WriteTransfer(device, {0x07, 0x01, 4, pec, 0x00}));
    EXPECT_EQ(device.Register(0x07), std::vector<std::uint8_t>{4});
}

}  // namespace
}  // namespace CorvaneTest
