// SPDX-License-Identifier: MIT
// I2C writes and reads against the virtual chip: the reports byte for byte,
// the pauses, the budgets and every result code.
#include "BusTestSupport.hpp"
#include "functions/BusTransfer.hpp"

#include <functional>

namespace CorvaneTest {
namespace {

using Corvane::BusTransfer;

constexpr std::uint8_t kMissing = 0x60;  // nothing at 7-bit 0x30

Report SpeedRequest(std::uint8_t divider, std::uint8_t cancel = 0x00) {
    return Bytes({0x10, 0x00, cancel, 0x20, divider});
}

std::vector<std::uint32_t> Repeat(std::uint32_t ms, std::size_t n) {
    return std::vector<std::uint32_t>(n, ms);
}

std::vector<std::uint32_t> Join(std::vector<std::uint32_t> a, const std::vector<std::uint32_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class I2cTransferTest : public BusTest {
  protected:
    std::int32_t WriteBytes(std::size_t n, std::uint8_t address = kEepromWrite,
                            std::uint32_t speed = k100k) {
        const auto data = Pattern(n);
        return DevFunctions::int_WriteI2cData(address, data.data(), static_cast<std::uint32_t>(n),
                                              speed);
    }
};

TEST(BusTiming, DividerAndBaseDelay) {
    struct Row {
        std::uint32_t speed;
        std::uint8_t divider;
        std::uint32_t delayMs;
    };
    const Row rows[] = {
        {100'000, 117, 13}, {400'000, 27, 3},  {1'000'000, 9, 1}, {46'333, 255, 28},
        {4'000'000, 0, 0},  {1'320'000, 6, 1}, {1'320'001, 6, 0},
    };
    for (const Row& row : rows) {
        const auto timing = BusTransfer::TimingFor(row.speed);
        ASSERT_TRUE(timing) << row.speed;
        EXPECT_EQ(timing->divider, row.divider) << row.speed;
        EXPECT_EQ(timing->delayMs, row.delayMs) << row.speed;
    }
}

TEST_F(I2cTransferTest, SpeedWhoseDividerDoesNotFitIsRefusedBeforeAnythingIsSent) {
    // Below 46,333 Hz and above 4 MHz the divider leaves its byte (46,332 Hz
    // would wrap to the divider of 4 MHz); 4 * speed wraps to 0 at 2^30.
    std::uint8_t buffer[4] = {};
    for (std::uint32_t speed : {0u, 10'000u, 46'332u, 4'000'001u, 5'000'000u, 12'000'001u,
                                0x40000000u, 0x40000001u, 0xFFFFFFFFu}) {
        EXPECT_EQ(DevFunctions::int_WriteI2cData(kEepromWrite, buffer, 4, speed), -204) << speed;
        EXPECT_EQ(DevFunctions::int_ReadI2cData(kEepromRead, buffer, 4, speed), -204) << speed;
        EXPECT_EQ(DevFunctions::int_SmbWriteBlock(kSmbusAddress, buffer, 4, speed, 1), -204)
            << speed;
        EXPECT_EQ(DevFunctions::int_SmbReadBlock(kSmbusAddress, buffer, 4, speed, 1, 0), -204)
            << speed;
    }
    // The count is checked first.
    EXPECT_EQ(DevFunctions::int_WriteI2cData(kEepromWrite, buffer, 0x10000, 0), -203);
    EXPECT_TRUE(host->Trace().empty());
}

TEST_F(I2cTransferTest, WriteOfNothingSendsOneEmptyChunk) {
    std::uint8_t none = 0x77;
    EXPECT_EQ(DevFunctions::int_WriteI2cData(kEepromWrite, &none, 0, k100k), 0);
    const std::vector<Report> expected = {SpeedRequest(117), Bytes({0x90, 0, 0, 0xA0}),
                                          StatusPoll()};
    EXPECT_EQ(Sent(), expected);
    EXPECT_EQ(host->Sleeps(), Repeat(13, 1));
}

TEST_F(I2cTransferTest, SixtyOneBytesTravelAsSixtyAndOne) {
    const auto data = Pattern(61);
    EXPECT_EQ(DevFunctions::int_WriteI2cData(kEepromWrite, data.data(), 61, k400k), 0);
    const auto chunks = SentWith(0x90);
    ASSERT_EQ(chunks.size(), 2u);
    Report first = Bytes({0x90, 61, 0, 0xA0});
    std::copy(data.begin(), data.begin() + 60, first.begin() + 4);
    EXPECT_EQ(chunks[0], first);
    EXPECT_EQ(chunks[1], Bytes({0x90, 61, 0, 0xA0, data[60]}));
    EXPECT_EQ(Sent().front(), SpeedRequest(27));
    // D after each accepted chunk, nothing between answered polls.
    EXPECT_EQ(host->Sleeps(), Repeat(3, 2));
}

TEST_F(I2cTransferTest, CountAbove65535IsRefusedBeforeAnythingIsSent) {
    std::uint8_t buffer[1] = {};
    EXPECT_EQ(DevFunctions::int_WriteI2cData(kEepromWrite, buffer, 65536, k100k), -203);
    EXPECT_EQ(DevFunctions::int_ReadI2cData(kEepromRead, buffer, 65536, k100k), -203);
    EXPECT_EQ(DevFunctions::int_WriteI2cData(kEepromWrite, nullptr, 0xFFFFFFFF, k100k), -203);
    EXPECT_TRUE(host->Trace().empty());
}

TEST_F(I2cTransferTest, MissingBufferIsFoundAfterTheSpeedSetUp) {
    EXPECT_EQ(DevFunctions::int_WriteI2cData(kEepromWrite, nullptr, 4, k100k), -202);
    EXPECT_EQ(DevFunctions::int_ReadI2cData(kEepromRead, nullptr, 0, k100k), -202);
    EXPECT_EQ(Codes(), (std::vector<std::uint8_t>{0x10, 0x10}));
}

TEST_F(I2cTransferTest, SpeedNotTakenIsAskedOnceMoreWithACancel) {
    // A block read cut off while the engine holds the bus for its repeated START.
    std::uint8_t buffer[2] = {};
    device->EditResponses(0x10, [](Report&) {});
    device->EditResponses(0x10, [](Report& r) { r[8] = 0x00; });
    EXPECT_EQ(DevFunctions::int_SmbReadBlock(kSmbusAddress, buffer, 2, k100k, 0, 0x01), -11);
    EXPECT_EQ(device->I2cEngineState(), 0x45);
    Forget();
    EXPECT_EQ(WriteBytes(1), 0);
    const auto sent = Sent();
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[0], SpeedRequest(117));
    EXPECT_EQ(sent[1], SpeedRequest(117, 0x10));
    EXPECT_EQ(sent[2][0], 0x90);
    const auto answers = AnswersTo(0x10);
    EXPECT_EQ(answers[0][3], 0x21);  // not taken
    EXPECT_EQ(answers[1][2], 0x10);  // the left-over transfer was cancelled
}

TEST_F(I2cTransferTest, RefusedSpeedRequest) {
    auto refuse = [](Report& r) { r[1] = 0x01; };
    auto notTaken = [](Report& r) { r[3] = 0x00; };
    std::uint8_t buffer[4] = {};
    using Op = std::function<std::int32_t()>;
    struct Row {
        const char* name;
        Op op;
        std::int32_t firstRefused;
        std::int32_t secondRefused;
    };
    const Row rows[] = {
        {"write", [&] { return DevFunctions::int_WriteI2cData(kEepromWrite, buffer, 4, k100k); },
         -22, -22},
        {"read", [&] { return DevFunctions::int_ReadI2cData(kEepromRead, buffer, 4, k100k); }, -22,
         -22},
        {"smb write",
         [&] { return DevFunctions::int_SmbWriteBlock(kSmbusAddress, buffer, 4, k100k, 0); }, -8,
         -22},
        {"smb read",
         [&] { return DevFunctions::int_SmbReadBlock(kSmbusAddress, buffer, 4, k100k, 0, 1); }, -8,
         -22},
    };
    for (const Row& row : rows) {
        device->EditResponses(0x10, refuse);
        Forget();
        EXPECT_EQ(row.op(), row.firstRefused) << row.name;
        EXPECT_EQ(Codes(), std::vector<std::uint8_t>{0x10}) << row.name;

        device->EditResponses(0x10, notTaken);
        device->EditResponses(0x10, refuse);
        Forget();
        EXPECT_EQ(row.op(), row.secondRefused) << row.name;
        EXPECT_EQ(Codes(), (std::vector<std::uint8_t>{0x10, 0x10})) << row.name;
    }
}

TEST_F(I2cTransferTest, ChunkRefusedWith0x21IsRetriedAfterHalfTheDelay) {
    device->RefuseI2cChunks(3, 0x21);
    EXPECT_EQ(WriteBytes(1), 0);
    const auto chunks = SentWith(0x90);
    ASSERT_EQ(chunks.size(), 4u);
    for (const Report& chunk : chunks) EXPECT_EQ(chunk, chunks.front());
    EXPECT_EQ(host->Sleeps(), Join(Repeat(6, 3), {13}));
    EXPECT_EQ(eeprom->AddressCounter(), 0u);  // only the first address byte arrived
}

TEST_F(I2cTransferTest, WriteErrorStateInARefusedChunkEndsTheWrite) {
    for (int code : {0x12, 0x17, 0x23, 0x25, 0x44, 0x52, 0x62}) {
        const auto state = static_cast<std::uint8_t>(code);
        device->RefuseI2cChunks(1, state);
        Forget();
        EXPECT_EQ(WriteBytes(100), state == 0x25 ? -23 : -18) << int{state};
        EXPECT_EQ(Codes(), (std::vector<std::uint8_t>{0x10, 0x90})) << int{state};
        EXPECT_TRUE(host->Sleeps().empty());
    }
}

TEST_F(I2cTransferTest, ChunkRefusalBudgetIsFifty) {
    device->RefuseI2cChunks(49);
    EXPECT_EQ(WriteBytes(10), 0);
    EXPECT_EQ(Count(0x90), 50u);

    device->RefuseI2cChunks(50);
    Forget();
    EXPECT_EQ(WriteBytes(10), -19);
    EXPECT_EQ(Count(0x90), 50u);
    EXPECT_EQ(Sent().back()[0], 0x90);  // nothing follows the failure
    EXPECT_EQ(host->Sleeps(), Repeat(6, 50));
}

TEST_F(I2cTransferTest, StatusPollErrorStates) {
    struct Row {
        std::uint8_t state;
        std::int32_t i2c;
        std::int32_t smbus;
    };
    const Row rows[] = {{0x12, -18, -18}, {0x17, -18, -18}, {0x21, -18, -18}, {0x23, -18, -18},
                        {0x25, -23, -23}, {0x44, -18, -18}, {0x52, -18, -18}, {0x62, -18, -18}};
    const auto data = Pattern(8);
    for (const Row& row : rows) {
        device->FailNextI2cTransfer(row.state);
        Forget();
        EXPECT_EQ(DevFunctions::int_WriteI2cData(kEepromWrite, data.data(), 8, k100k), row.i2c)
            << int{row.state};
        EXPECT_EQ(AnswersTo(0x10).back()[8], row.state);
        device->FailNextI2cTransfer(row.state);
        EXPECT_EQ(DevFunctions::int_SmbWriteBlock(kEepromWrite, data.data(), 8, k100k, 1),
                  row.smbus)
            << int{row.state};
    }
}

TEST_F(I2cTransferTest, NobodyAtTheAddress) {
    EXPECT_EQ(WriteBytes(1, kMissing), -23);
    auto answer = AnswersTo(0x10).back();
    EXPECT_EQ(answer[20] & 0x40, 0x40);
    EXPECT_EQ(answer[8], 0x25);
    // The next transfer's speed request finds the engine clean, and the
    // failed one refuses its later chunks with its state.
    Forget();
    EXPECT_EQ(WriteBytes(130, kMissing), -23);
    EXPECT_EQ(Codes(), (std::vector<std::uint8_t>{0x10, 0x90, 0x90}));
    EXPECT_EQ(AnswersTo(0x10).front()[3], 0x20);
    answer = AnswersTo(0x90).back();
    EXPECT_EQ(answer[1], 0x01);
    EXPECT_EQ(answer[2], 0x25);

    std::uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(DevFunctions::int_ReadI2cData(kMissing | 1, buffer, 4, k100k), -23);
    answer = AnswersTo(0x40).back();
    EXPECT_EQ(answer[2], 0x25);
    EXPECT_EQ(answer[3], 0);  // nothing to deliver
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(WriteBytes(1), 0);
}

TEST_F(I2cTransferTest, WriteFailedFlagEndsEveryWriteEvenWithTheEngineIdle) {
    device->EditResponses(
        0x10, [](Report& r) { r[20] |= 0x40; }, 1000);
    const auto data = Pattern(3);
    EXPECT_EQ(DevFunctions::int_WriteI2cData(kEepromWrite, data.data(), 3, k100k), -23);
    EXPECT_EQ(DevFunctions::int_SmbWriteBlock(kEepromWrite, data.data(), 3, k100k, 0), -23);
    EXPECT_EQ(AnswersTo(0x10).back()[8], 0x00);
}

TEST_F(I2cTransferTest, RefusedPollIsPaidForButStillRead) {
    device->RefuseI2cStatusPolls(1);
    EXPECT_EQ(WriteBytes(1), 0);
    // The refused answer already shows the engine idle.
    EXPECT_EQ(Count(0x10), 2u);
    EXPECT_EQ(host->Sleeps(), (std::vector<std::uint32_t>{13, 6}));
}

TEST_F(I2cTransferTest, FiftyRefusedPollsExhaustTheBudget) {
    device->StretchI2cClock(true);
    device->RefuseI2cStatusPolls(50);
    EXPECT_EQ(WriteBytes(1), -19);
    EXPECT_EQ(Count(0x10), 1u + 50u);
    EXPECT_EQ(host->Sleeps(), Join({13}, Repeat(6, 50)));
}

TEST_F(I2cTransferTest, PollThatNeverSettlesGivesUpAfter5000Answers) {
    device->StretchI2cClock(true);
    EXPECT_EQ(WriteBytes(1), -19);
    EXPECT_EQ(Count(0x10), 1u + BusTransfer::kMaxUnsettledPolls);
    EXPECT_EQ(AnswersTo(0x10).back()[8], 0x41);
    EXPECT_EQ(host->Sleeps(), Repeat(13, 1));  // answered polls follow each other at once
}

TEST_F(I2cTransferTest, TransportFailuresInEachStep) {
    std::uint8_t buffer[70] = {};
    struct Row {
        const char* name;
        std::function<void()> fault;
        bool read;
        std::int32_t expected;
    };
    const Row rows[] = {
        {"speed write", [&] { device->TimeOutWrites(1); }, false, -4},
        {"speed answer", [&] { device->DropResponses(0x10); }, false, -5},
        {"chunk answer", [&] { device->DropResponses(0x90); }, false, -5},
        {"read command answer", [&] { device->DropResponses(0x91); }, true, -5},
        {"get-data answer", [&] { device->DropResponses(0x40); }, true, -5},
    };
    for (const Row& row : rows) {
        row.fault();
        const std::int32_t rc =
            row.read ? DevFunctions::int_ReadI2cData(kEepromRead, buffer, 70, k100k)
                     : DevFunctions::int_WriteI2cData(kEepromWrite, buffer, 70, k100k);
        EXPECT_EQ(rc, row.expected) << row.name;
    }
}

TEST_F(I2cTransferTest, StopReturnsTheCancellationStatus) {
    EXPECT_EQ(DevFunctions::int_StopI2cDataTransfer(), 0x11);  // nothing to cancel
    EXPECT_EQ(Sent(), std::vector<Report>{Bytes({0x10, 0x00, 0x10})});

    device->FailNextI2cTransfer(0x62);
    EXPECT_EQ(WriteBytes(1), -18);
    EXPECT_EQ(device->I2cEngineState(), 0x62);
    EXPECT_EQ(DevFunctions::int_StopI2cDataTransfer(), 0x10);
    EXPECT_EQ(device->I2cEngineState(), 0x00);

    // A read cut off while the engine holds the bus for its repeated START.
    std::uint8_t buffer[2] = {};
    device->EditResponses(0x10, [](Report&) {});
    device->EditResponses(0x10, [](Report& r) { r[8] = 0x00; });
    EXPECT_EQ(DevFunctions::int_SmbReadBlock(kSmbusAddress, buffer, 2, k100k, 0, 0x01), -11);
    EXPECT_EQ(device->I2cEngineState(), 0x45);
    EXPECT_EQ(DevFunctions::int_StopI2cDataTransfer(), 0x10);
    EXPECT_EQ(device->I2cEngineState(), 0x00);

    // The status command's own failures pass through.
    device->EditResponses(0x10, [](Report& r) { r[1] = 0x07; });
    EXPECT_EQ(DevFunctions::int_StopI2cDataTransfer(), 7);
    device->EditResponses(0x10, [](Report& r) { r[0] = 0x11; });
    EXPECT_EQ(DevFunctions::int_StopI2cDataTransfer(), -6);
}

// ---- reads ------------------------------------------------------------------------

TEST_F(I2cTransferTest, ReadReportsAndPauses) {
    eeprom->Contents() = Pattern(32768);
    ASSERT_EQ(EepromWrite(0x0100, {}), 0);
    Forget();
    std::vector<std::uint8_t> buffer(130);
    EXPECT_EQ(DevFunctions::int_ReadI2cData(kEepromRead, buffer.data(), 130, k400k), 0);
    const std::vector<Report> expected = {SpeedRequest(27), Bytes({0x91, 130, 0, 0xA1}),
                                          Bytes({0x40}), Bytes({0x40}), Bytes({0x40})};
    EXPECT_EQ(Sent(), expected);
    EXPECT_EQ(host->Sleeps(), Repeat(3, 3));
    const auto answers = AnswersTo(0x40);
    EXPECT_EQ(answers[0][3], 60);
    EXPECT_EQ(answers[2][3], 10);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), eeprom->Contents().begin() + 0x100));
}

TEST_F(I2cTransferTest, NoMoreDataEndsTheRead) {
    // Nothing more to deliver is success, unless the target did not
    // acknowledge: the state is tested before the count.
    for (const auto& [state, expected] : {std::pair{0x00, 0}, std::pair{0x25, -23}}) {
        device->EditResponses(0x40, [state = state](Report& r) {
            r[3] = 0;
            r[2] = static_cast<std::uint8_t>(state);
        });
        Forget();
        std::vector<std::uint8_t> buffer(10, 0xEE);
        EXPECT_EQ(DevFunctions::int_ReadI2cData(kEepromRead, buffer.data(), 10, k100k), expected);
        EXPECT_EQ(Count(0x40), 1u);
        EXPECT_EQ(buffer, std::vector<std::uint8_t>(10, 0xEE));
    }
}

TEST_F(I2cTransferTest, DataBudgetEndsAReadOfSmallAnswers) {
    // (100 / 60 + 1) * 3 = 6 answers with data.
    device->EditResponses(
        0x40, [](Report& r) { r[3] = 10; }, 100);
    std::vector<std::uint8_t> buffer(100, 0xEE);
    EXPECT_EQ(DevFunctions::int_ReadI2cData(kEepromRead, buffer.data(), 100, k100k), 0);
    EXPECT_EQ(Count(0x40), 6u);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin() + 60, buffer.end()),
              std::vector<std::uint8_t>(40, 0xEE));
}

TEST_F(I2cTransferTest, OfferOfMoreThanIsLeftStoresNothing) {
    device->OfferExtraI2cBytes(5);
    std::vector<std::uint8_t> buffer(5, 0xEE);
    EXPECT_EQ(DevFunctions::int_ReadI2cData(kEepromRead, buffer.data(), 5, k100k), -27);
    EXPECT_EQ(AnswersTo(0x40).back()[3], 10);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(5, 0xEE));
}

TEST_F(I2cTransferTest, ReadOfNothing) {
    std::uint8_t buffer[1] = {0xEE};
    EXPECT_EQ(DevFunctions::int_ReadI2cData(kEepromRead, buffer, 0, k100k), 0);
    const std::vector<Report> expected = {SpeedRequest(117), Bytes({0x91, 0, 0, 0xA1}),
                                          Bytes({0x40})};
    EXPECT_EQ(Sent(), expected);

    device->EditResponses(0x40, [](Report& r) { r[3] = 1; });
    EXPECT_EQ(DevFunctions::int_ReadI2cData(kEepromRead, buffer, 0, k100k), -27);
    EXPECT_EQ(buffer[0], 0xEE);
}

TEST_F(I2cTransferTest, NotReadyAnswersAreWaitedOutFiftyTimes) {
    std::uint8_t buffer[10] = {};
    device->DelayI2cReadData(50);
    EXPECT_EQ(DevFunctions::int_ReadI2cData(kEepromRead, buffer, 10, k100k), 0);
    EXPECT_EQ(Count(0x40), 51u);
    EXPECT_EQ(host->Sleeps(), Join({13}, Repeat(6, 50)));

    device->DelayI2cReadData(51);
    Forget();
    EXPECT_EQ(DevFunctions::int_ReadI2cData(kEepromRead, buffer, 10, k100k), -26);
    EXPECT_EQ(Count(0x40), 51u);
}

TEST_F(I2cTransferTest, RefusedReadCommands) {
    std::uint8_t buffer[10] = {};
    device->EditResponses(0x91, [](Report& r) { r[1] = 0x01; });
    EXPECT_EQ(DevFunctions::int_ReadI2cData(kEepromRead, buffer, 10, k100k), -24);
    EXPECT_EQ(Codes(), (std::vector<std::uint8_t>{0x10, 0x91}));

    device->EditResponses(0x40, [](Report& r) { r[1] = 0x01; });
    Forget();
    EXPECT_EQ(DevFunctions::int_ReadI2cData(kEepromRead, buffer, 10, k100k), -25);
    EXPECT_EQ(Count(0x40), 1u);
}

}  // namespace
}  // namespace CorvaneTest
