// SPDX-License-Identifier: MIT
// SMBus block transfers and the PEC, against the virtual chip.
#include <string>

#include "BusTestSupport.hpp"
#include "functions/BusTransfer.hpp"

namespace CorvaneTest {
namespace {

using Corvane::BusTransfer;

std::uint8_t LibraryPec(const std::vector<std::uint8_t>& bytes) {
    std::uint8_t crc = 0;
    for (std::uint8_t b : bytes) crc = DevFunctions::CRC_Update(b, crc);
    return crc;
}

// The SMBus device model computes its PEC bit by bit, on its own.
std::uint8_t ModelPec(const std::vector<std::uint8_t>& bytes) {
    std::uint8_t crc = 0;
    for (std::uint8_t b : bytes) crc = SmbusDevice::PecStep(crc, b);
    return crc;
}

TEST(Pec, CheckValueAndExamples) {
    const std::string digits = "123456789";
    EXPECT_EQ(LibraryPec({digits.begin(), digits.end()}), 0xF4);
    EXPECT_EQ(ModelPec({digits.begin(), digits.end()}), 0xF4);
    EXPECT_EQ(LibraryPec({0xA0, 0x10, 0x20, 0x30}), 0x63);
    EXPECT_EQ(LibraryPec({0xA0, 0x05, 0xA1, 0x01, 0x02}), 0x85);
}

TEST(Pec, TableStepAgreesWithBitwiseStepEverywhere) {
    for (int crc = 0; crc < 256; ++crc) {
        for (int b = 0; b < 256; ++b) {
            const auto c = static_cast<std::uint8_t>(crc);
            const auto v = static_cast<std::uint8_t>(b);
            ASSERT_EQ(DevFunctions::CRC_Update(v, c), SmbusDevice::PecStep(c, v))
                << crc << " " << b;
        }
    }
}

class SmbusTransferTest : public BusTest {
  protected:
    // An SMBus device at 7-bit 0x50 (address byte 0xA0), as in the examples.
    std::shared_ptr<SmbusDevice> DeviceAtA0() {
        auto target = std::make_shared<SmbusDevice>(0x50);
        device->AttachTarget(0x50, target);
        return target;
    }
};

TEST_F(SmbusTransferTest, BlockWriteWithPec) {
    const std::uint8_t data[] = {0x10, 0x20, 0x30};
    EXPECT_EQ(DevFunctions::int_SmbWriteBlock(0xA0, data, 3, k100k, 1), 0);
    const std::vector<Report> chunks = {Bytes({0x90, 0x04, 0x00, 0xA0, 0x10, 0x20, 0x30, 0x63})};
    EXPECT_EQ(SentWith(0x90), chunks);
}

TEST_F(SmbusTransferTest, BlockReadWithPec) {
    auto target = DeviceAtA0();
    target->EnablePec(true);
    target->SetRegister(0x05, {0x01, 0x02});
    std::uint8_t buffer[2] = {};
    EXPECT_EQ(DevFunctions::int_SmbReadBlock(0xA0, buffer, 2, k100k, 1, 0x05), 0);
    EXPECT_EQ(buffer[0], 0x01);
    EXPECT_EQ(buffer[1], 0x02);

    const auto sent = Sent();
    ASSERT_GE(sent.size(), 5u);
    EXPECT_EQ(sent[0], Bytes({0x10, 0, 0, 0x20, 117}));
    EXPECT_EQ(sent[1], Bytes({0x94, 0x01, 0x00, 0xA0, 0x05}));
    std::size_t i = 2;
    while (sent[i] == StatusPoll()) ++i;
    EXPECT_EQ(AnswersTo(0x10).back()[8], 0x45);
    EXPECT_EQ(sent[i], Bytes({0x93, 0x03, 0x00, 0xA1}));
    EXPECT_EQ(sent[i + 1], Bytes({0x40}));
    const Report answer = AnswersTo(0x40).front();
    EXPECT_EQ(answer[3], 3);
    EXPECT_EQ(answer[6], 0x85);  // the PEC
    // D after the register chunk and before the get-data.
    EXPECT_EQ(host->Sleeps(), (std::vector<std::uint32_t>{13, 13}));
}

TEST_F(SmbusTransferTest, WrongPecLeavesTheDataInTheBuffer) {
    auto target = DeviceAtA0();
    target->EnablePec(true);
    target->SetRegister(0x05, {0x01, 0x02});
    device->CorruptI2cReadTail();
    std::uint8_t buffer[2] = {};
    EXPECT_EQ(DevFunctions::int_SmbReadBlock(0xA0, buffer, 2, k100k, 1, 0x05), -12);
    EXPECT_EQ(AnswersTo(0x40).front()[6], 0x85 ^ 0xFF);
    EXPECT_EQ(buffer[0], 0x01);
    EXPECT_EQ(buffer[1], 0x02);
}

TEST_F(SmbusTransferTest, CountLimits) {
    std::uint8_t byte = 0;
    EXPECT_EQ(DevFunctions::int_SmbWriteBlock(kSmbusAddress, &byte, 65535, k100k, 1), -203);
    EXPECT_EQ(DevFunctions::int_SmbReadBlock(kSmbusAddress, &byte, 65535, k100k, 7, 0), -203);
    EXPECT_EQ(DevFunctions::int_SmbWriteBlock(kSmbusAddress, &byte, 65536, k100k, 0), -203);
    EXPECT_EQ(DevFunctions::int_SmbReadBlock(kSmbusAddress, &byte, 65536, k100k, 0, 0), -203);
    EXPECT_TRUE(host->Trace().empty());
}

TEST_F(SmbusTransferTest, MissingBufferIsRefusedBeforeAnythingIsSent) {
    EXPECT_EQ(DevFunctions::int_SmbWriteBlock(kSmbusAddress, nullptr, 3, k100k, 1), -202);
    EXPECT_EQ(DevFunctions::int_SmbReadBlock(kSmbusAddress, nullptr, 3, k100k, 1, 0), -202);
    EXPECT_TRUE(host->Trace().empty());
    // With no bytes to move no buffer is needed.
    smbus->EnablePec(true);
    EXPECT_EQ(DevFunctions::int_SmbWriteBlock(kSmbusAddress, nullptr, 0, k100k, 1), 0);
    EXPECT_EQ(DevFunctions::int_SmbReadBlock(kSmbusAddress, nullptr, 0, k100k, 1, 0x30), 0);
}

TEST_F(SmbusTransferTest, PecTravelsAloneWhenTheDataFillTheChunk) {
    smbus->EnablePec(true);
    auto data = Pattern(60);
    data[0] = 0x42;  // register index
    EXPECT_EQ(DevFunctions::int_SmbWriteBlock(kSmbusAddress, data.data(), 60, k400k, 1), 0);
    std::vector<std::uint8_t> covered{kSmbusAddress};
    covered.insert(covered.end(), data.begin(), data.end());
    const auto chunks = SentWith(0x90);
    ASSERT_EQ(chunks.size(), 2u);
    Report first = Bytes({0x90, 61, 0, kSmbusAddress});
    std::copy(data.begin(), data.end(), first.begin() + 4);
    EXPECT_EQ(chunks[0], first);
    EXPECT_EQ(chunks[1], Bytes({0x90, 61, 0, kSmbusAddress, ModelPec(covered)}));
    ASSERT_EQ(smbus->Writes().size(), 1u);
    EXPECT_TRUE(smbus->Writes()[0].pecGood);
    EXPECT_EQ(smbus->Register(0x42), std::vector<std::uint8_t>(data.begin() + 1, data.end()));
}

TEST_F(SmbusTransferTest, EmptyBlockWrite) {
    std::uint8_t none = 0;
    EXPECT_EQ(DevFunctions::int_SmbWriteBlock(kSmbusAddress, &none, 0, k100k, 0), 0);
    EXPECT_EQ(SentWith(0x90), std::vector<Report>{Bytes({0x90, 0, 0, kSmbusAddress})});
    Forget();
    EXPECT_EQ(DevFunctions::int_SmbWriteBlock(kSmbusAddress, &none, 0, k100k, 1), 0);
    EXPECT_EQ(SentWith(0x90),
              std::vector<Report>{Bytes({0x90, 1, 0, kSmbusAddress, ModelPec({kSmbusAddress})})});
}

TEST_F(SmbusTransferTest, PecOnlyRead) {
    auto target = DeviceAtA0();
    target->EnablePec(true);
    std::uint8_t buffer[1] = {0xEE};
    EXPECT_EQ(DevFunctions::int_SmbReadBlock(0xA0, buffer, 0, k100k, 1, 0x07), 0);
    EXPECT_EQ(SentWith(0x93), std::vector<Report>{Bytes({0x93, 1, 0, 0xA1})});
    EXPECT_EQ(AnswersTo(0x40).front()[4], ModelPec({0xA0, 0x07, 0xA1}));
    EXPECT_EQ(buffer[0], 0xEE);
}

TEST_F(SmbusTransferTest, PecReadThatEndsEarlyIsAMismatch) {
    smbus->EnablePec(true);
    smbus->SetRegister(0x01, Pattern(5));
    std::vector<std::uint8_t> buffer(5);
    // No bytes at all.
    device->EditResponses(0x40, [](Report& r) { r[3] = 0; });
    EXPECT_EQ(DevFunctions::int_SmbReadBlock(kSmbusAddress, buffer.data(), 5, k100k, 1, 0x01), -12);
    // (6 / 60 + 1) * 3 = 3 answers of one byte each: the PEC never comes.
    device->EditResponses(
        0x40, [](Report& r) { r[3] = 1; }, 3);
    Forget();
    EXPECT_EQ(DevFunctions::int_SmbReadBlock(kSmbusAddress, buffer.data(), 5, k100k, 1, 0x01), -12);
    EXPECT_EQ(Count(0x40), 3u);
    // Without PEC the same short read succeeds.
    device->EditResponses(0x40, [](Report& r) { r[3] = 0; });
    EXPECT_EQ(DevFunctions::int_SmbReadBlock(kSmbusAddress, buffer.data(), 5, k100k, 0, 0x01), 0);
}

TEST_F(SmbusTransferTest, RestartWaitOutcomes) {
    std::uint8_t buffer[4] = {};
    auto read = [&] {
        return DevFunctions::int_SmbReadBlock(kSmbusAddress, buffer, 4, k100k, 0, 0x01);
    };
    // The engine went idle instead of waiting for the repeated START.
    device->EditResponses(0x10, [](Report&) {});
    device->EditResponses(0x10, [](Report& r) { r[8] = 0x00; });
    EXPECT_EQ(read(), -11);
    EXPECT_EQ(Codes(), (std::vector<std::uint8_t>{0x10, 0x94, 0x10}));

    device->FailNextI2cTransfer(0x21);
    Forget();
    EXPECT_EQ(read(), -18);
    EXPECT_EQ(Count(0x93), 0u);

    device->RefuseI2cChunks(1, 0x44);
    Forget();
    EXPECT_EQ(read(), -18);
    EXPECT_EQ(Count(0x94), 1u);
    EXPECT_EQ(Codes().back(), 0x94);

    device->RefuseI2cChunks(50);
    Forget();
    EXPECT_EQ(read(), -19);
    EXPECT_EQ(Count(0x94), 50u);

    device->EditResponses(0x93, [](Report& r) { r[1] = 0x01; });
    Forget();
    EXPECT_EQ(read(), -24);
    EXPECT_EQ(Codes().back(), 0x93);
}

TEST_F(SmbusTransferTest, RestartWaitGivesUpOnAnEngineThatNeverGetsThere) {
    std::uint8_t buffer[4] = {};
    device->StretchI2cClock(true);
    EXPECT_EQ(DevFunctions::int_SmbReadBlock(kSmbusAddress, buffer, 4, k100k, 0, 0x01), -19);
    EXPECT_EQ(Count(0x10), 1u + BusTransfer::kMaxUnsettledPolls);
    EXPECT_EQ(Count(0x93), 0u);

    device->RefuseI2cStatusPolls(50);
    Forget();
    EXPECT_EQ(DevFunctions::int_SmbReadBlock(kSmbusAddress, buffer, 4, k100k, 0, 0x01), -19);
    EXPECT_EQ(Count(0x10), 2u + 50u);  // speed request, its repeat with a cancel, 50 polls
}

TEST_F(SmbusTransferTest, BlockReadFailuresOfTheDataPhase) {
    smbus->SetRegister(0x01, Pattern(5));
    std::vector<std::uint8_t> buffer(5, 0xEE);
    auto read = [&] {
        return DevFunctions::int_SmbReadBlock(kSmbusAddress, buffer.data(), 5, k100k, 0, 0x01);
    };
    device->EditResponses(0x40, [](Report& r) { r[1] = 0x02; });
    EXPECT_EQ(read(), -25);
    device->OfferExtraI2cBytes(1);
    EXPECT_EQ(read(), -27);
    device->DelayI2cReadData(51);
    EXPECT_EQ(read(), -26);
    device->EditResponses(0x40, [](Report& r) {
        r[2] = 0x25;
        r[3] = 0x7F;
    });
    EXPECT_EQ(read(), -23);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(5, 0xEE));
    EXPECT_EQ(read(), 0);
    EXPECT_EQ(buffer, Pattern(5));
}

}  // namespace
}  // namespace CorvaneTest
