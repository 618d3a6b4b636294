// SPDX-License-Identifier: MIT
// The bus transfers through VrelUsbI2c::Functions: the caller's arrays.
#include "common/SimTest.hpp"

#include <corvane/sim/Eeprom.hpp>

#include <stdexcept>
#include <vector>

namespace CorvaneTest {
namespace {

class BusFacetTest : public ConnectedTest {
  protected:
    void SetUp() override {
        ConnectedTest::SetUp();
        eeprom = std::make_shared<Corvane::Sim::Eeprom>(4096, 32);
        for (std::size_t i = 0; i < eeprom->Contents().size(); ++i) {
            eeprom->Contents()[i] = static_cast<std::uint8_t>(i * 7 + 3);
        }
        device->AttachTarget(0x50, eeprom);
    }
    Corvane::DevFunctions_M& F() { return *bridge->Functions; }
    std::shared_ptr<Corvane::Sim::Eeprom> eeprom;
};

TEST_F(BusFacetTest, CountBeyondTheArrayIsRefusedBeforeSending) {
    std::vector<std::uint8_t> buffer(10);
    EXPECT_EQ(F().WriteI2cData(0xA0, buffer, 11, 100000), Corvane::INVALID_ARG_3);
    EXPECT_EQ(F().ReadI2cData(0xA1, buffer, 11, 100000), Corvane::INVALID_ARG_3);
    EXPECT_EQ(F().SmbWriteBlock(0xA0, buffer, 11, 100000, 0), Corvane::INVALID_ARG_3);
    EXPECT_EQ(F().SmbReadBlock(0xA0, buffer, 11, 100000, 1, 0), Corvane::INVALID_ARG_3);
    EXPECT_EQ(F().WriteI2cData(0xA0, buffer, 0x10000, 100000), Corvane::INVALID_ARG_3);
    EXPECT_TRUE(host->Trace().empty());
}

TEST_F(BusFacetTest, MissingOrEmptyArraysRaiseBeforeSending) {
    std::vector<std::uint8_t> empty;
    std::span<std::uint8_t> none;
    EXPECT_THROW(F().WriteI2cData(0xA0, std::span<const std::uint8_t>(), 0, 100000),
                 std::invalid_argument);
    EXPECT_THROW(F().ReadI2cData(0xA1, none, 0, 100000), std::invalid_argument);
    std::uint8_t one = 0;
    EXPECT_THROW(F().WriteI2cData(0xA0, std::span<const std::uint8_t>(&one, 0), 0, 100000),
                 std::out_of_range);
    EXPECT_THROW(F().SmbWriteBlock(0xA0, std::span<const std::uint8_t>(&one, 0), 0, 100000, 0),
                 std::out_of_range);
    EXPECT_THROW(F().SmbReadBlock(0xA0, std::span<std::uint8_t>(&one, 0), 0, 100000, 0, 0),
                 std::out_of_range);
    EXPECT_TRUE(host->Trace().empty());
    // A zero-byte write with a non-empty array is fine.
    EXPECT_EQ(F().WriteI2cData(0xA0, std::span<const std::uint8_t>(&one, 1), 0, 100000), 0);
}

TEST_F(BusFacetTest, EepromRoundTripThroughTheFacet) {
    std::vector<std::uint8_t> write = {0x01, 0x00};
    for (int i = 0; i < 32; ++i) write.push_back(static_cast<std::uint8_t>(0xC0 + i));
    const std::vector<std::uint8_t> before = write;
    ASSERT_EQ(F().WriteI2cData(0xA0, write, static_cast<std::uint32_t>(write.size()), 400000), 0);
    EXPECT_EQ(write, before);
    // Acknowledge polling until the write cycle is over.
    const std::vector<std::uint8_t> address = {0x01, 0x00};
    int polls = 0;
    while (F().WriteI2cData(0xA0, address, 2, 400000) != 0 && ++polls < 100) {
    }
    std::vector<std::uint8_t> read(32, 0xEE);
    ASSERT_EQ(F().ReadI2cData(0xA1, read, 32, 400000), 0);
    EXPECT_TRUE(std::equal(read.begin(), read.end(), before.begin() + 2));
}

TEST_F(BusFacetTest, ReadFailingPartWayKeepsTheBytesReceived) {
    const std::vector<std::uint8_t> address = {0x00, 0x00};
    ASSERT_EQ(F().WriteI2cData(0xA0, address, 2, 1000000), 0);
    int dataAnswers = 0;
    device->EditResponses(
        0x40,
        [&](Report& a) {
            if (a[3] >= 1 && a[3] <= 60 && ++dataAnswers == 3) a[1] = 0x01;
        },
        1000);
    std::vector<std::uint8_t> read(200, 0xEE);
    EXPECT_EQ(F().ReadI2cData(0xA1, read, 200, 1000000), Corvane::GET_DATA_REJECTED);
    EXPECT_TRUE(std::equal(read.begin(), read.begin() + 120, eeprom->Contents().begin()));
    EXPECT_TRUE(
        std::all_of(read.begin() + 120, read.end(), [](std::uint8_t b) { return b == 0xEE; }));
}

}  // namespace
}  // namespace CorvaneTest
