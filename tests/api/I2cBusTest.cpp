// SPDX-License-Identifier: MIT
// The I2cBus layer against the virtual chip: every call with PEC off and on,
// under every bus fault, checked on the reports sent and the targets' state.
#include "common/SimTest.hpp"

#include <corvane/I2cBus.hpp>
#include <corvane/sim/Eeprom.hpp>
#include <corvane/sim/SmbusDevice.hpp>

#include <array>
#include <atomic>
#include <cerrno>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

namespace CorvaneTest {
namespace {

using Corvane::I2cBus;
using Corvane::Sim::Eeprom;
using Corvane::Sim::I2cTarget;
using Corvane::Sim::SmbusDevice;
using Bytes_ = std::vector<std::uint8_t>;

constexpr std::uint8_t kEeprom = 0x50;
constexpr std::uint8_t kRegs = 0x0B;

// Passes everything on to `inner` unless told to refuse the address or the
// data bytes.
class Faulty : public I2cTarget {
  public:
    explicit Faulty(std::shared_ptr<I2cTarget> inner) : inner_(std::move(inner)) {}
    bool nackAddress = false;
    bool nackData = false;
    bool Start(bool read) override { return inner_->Start(read) && !nackAddress; }
    bool WriteByte(std::uint8_t value) override { return inner_->WriteByte(value) && !nackData; }
    std::uint8_t ReadByte() override { return inner_->ReadByte(); }
    void Stop() override { inner_->Stop(); }

  private:
    std::shared_ptr<I2cTarget> inner_;
};

struct Targets {
    std::shared_ptr<Eeprom> eeprom = std::make_shared<Eeprom>(4096, 32);
    std::shared_ptr<SmbusDevice> regs = std::make_shared<SmbusDevice>(kRegs);
};

// One bus command the call must send, before any PEC: a write (0x90, 0x94)
// with its bytes, or a read (0x91, 0x93) of `readCount` bytes.
struct Wire {
    std::uint8_t code;
    std::uint8_t address;
    Bytes_ bytes;
    std::uint32_t readCount = 0;
    bool Reads() const { return code == 0x91 || code == 0x93; }
};

struct Call {
    const char* name;
    // Runs the call; a read call reads into `in`, as long as `got`.
    std::function<std::int32_t(I2cBus&, std::span<std::uint8_t> in)> run;
    std::int32_t result;
    std::vector<Wire> wire;
    bool pecApplies;                                 // the call carries a PEC when it is on
    Bytes_ got = {};                                 // what a read call reads
    std::function<void(const Targets&)> check = {};  // target state after success
};

enum class Fault {
    None,
    NackAddress,
    NackData,
    RefusedChunk,
    IdleInsteadOfRestart,
    ShortRead,
    WrongPec
};

// `n` bytes counting up from `first`.
Bytes_ Counting(int first, std::size_t n) {
    Bytes_ b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(first + static_cast<int>(i));
    return b;
}

Bytes_ Join(Bytes_ head, const Bytes_& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

const std::vector<Call>& Calls() {
    using In = std::span<std::uint8_t>;
    // clang-format off
    static const std::vector<Call> calls = {
        {"Write", [](I2cBus& bus, In) { return bus.Write(kEeprom, Bytes_{0x01, 0x00, 0xAA, 0xBB}); },
         0, {{0x90, 0xA0, {0x01, 0x00, 0xAA, 0xBB}}}, false, {},
         [](const Targets& t) { EXPECT_EQ(t.eeprom->Contents()[0x101], 0xBB); }},
        {"Read", [](I2cBus& bus, In in) { return bus.Read(kEeprom, in); },
         3, {{0x91, 0xA1, {}, 3}}, false, {0x00, 0x01, 0x02}},
        {"WriteRead at a two-byte offset",
         [](I2cBus& bus, In in) { return bus.WriteRead(kEeprom, Bytes_{0x02, 0x34}, in); },
         2, {{0x94, 0xA0, {0x02, 0x34}}, {0x93, 0xA1, {}, 2}}, false, {0x34, 0x35}},
        {"Transfer",
         [](I2cBus& bus, In in) {  // two get-data chunks
             Bytes_ out{0x00, 0x20};
             std::array<Corvane::I2cMessage, 2> messages{{{kEeprom, false, out}, {kEeprom, true, in}}};
             return bus.Transfer(messages);
         },
         2, {{0x94, 0xA0, {0x00, 0x20}}, {0x93, 0xA1, {}, 70}}, false, Counting(0x20, 70)},
        {"Quick", [](I2cBus& bus, In) { return bus.Quick(kRegs); }, 0, {{0x90, 0x16, {}}}, false},
        {"ReadByte", [](I2cBus& bus, In) { return bus.ReadByte(kRegs); },
         0x42, {{0x91, 0x17, {}, 1}}, true},
        {"WriteByte", [](I2cBus& bus, In) { return bus.WriteByte(kRegs, 0x01); },
         0, {{0x90, 0x16, {0x01}}}, true},
        {"ReadByteData", [](I2cBus& bus, In) { return bus.ReadByteData(kRegs, 0x01); },
         0x5A, {{0x94, 0x16, {0x01}}, {0x93, 0x17, {}, 1}}, true},
        {"WriteByteData", [](I2cBus& bus, In) { return bus.WriteByteData(kRegs, 0x01, 0x77); },
         0, {{0x90, 0x16, {0x01, 0x77}}}, true, {},
         [](const Targets& t) { EXPECT_EQ(t.regs->Register(0x01), Bytes_{0x77}); }},
        {"ReadWordData", [](I2cBus& bus, In) { return bus.ReadWordData(kRegs, 0x02); },
         0x1234, {{0x94, 0x16, {0x02}}, {0x93, 0x17, {}, 2}}, true},
        {"WriteWordData", [](I2cBus& bus, In) { return bus.WriteWordData(kRegs, 0x02, 0xBEEF); },
         0, {{0x90, 0x16, {0x02, 0xEF, 0xBE}}}, true, {},
         [](const Targets& t) { EXPECT_EQ(t.regs->Register(0x02), (Bytes_{0xEF, 0xBE})); }},
        {"ProcessCall", [](I2cBus& bus, In) { return bus.ProcessCall(kRegs, 0x02, 0x4321); },
         0x4321, {{0x94, 0x16, {0x02, 0x21, 0x43}}, {0x93, 0x17, {}, 2}}, true},
        {"ReadBlockData", [](I2cBus& bus, In out) { return bus.ReadBlockData(kRegs, 0x03, out); },
         32, {{0x94, 0x16, {0x03}}, {0x93, 0x17, {}, 33}}, true, Counting(0xC0, 32)},
        {"WriteBlockData", [](I2cBus& bus, In) { return bus.WriteBlockData(kRegs, 0x03, Bytes_{9, 8, 7}); },
         0, {{0x90, 0x16, {0x03, 3, 9, 8, 7}}}, true, {},
         [](const Targets& t) { EXPECT_EQ(t.regs->Register(0x03), (Bytes_{9, 8, 7})); }},
        {"BlockProcessCall",  // the block register echoes the block
         [](I2cBus& bus, In out) { return bus.BlockProcessCall(kRegs, 0x05, Counting(0x10, 32), out); },
         32, {{0x94, 0x16, Join({0x05, 32}, Counting(0x10, 32))}, {0x93, 0x17, {}, 33}}, true,
         Counting(0x10, 32)},
        {"ReadI2cBlockData", [](I2cBus& bus, In out) { return bus.ReadI2cBlockData(kRegs, 0x02, out); },
         2, {{0x94, 0x16, {0x02}}, {0x93, 0x17, {}, 2}}, false, {0x34, 0x12}},
        {"WriteI2cBlockData", [](I2cBus& bus, In) { return bus.WriteI2cBlockData(kRegs, 0x04, Bytes_{1, 2}); },
         0, {{0x90, 0x16, {0x04, 1, 2}}}, false, {},
         [](const Targets& t) { EXPECT_EQ(t.regs->Register(0x04), (Bytes_{1, 2})); }},
    };
    // clang-format on
    return calls;
}

std::uint8_t Pec(const Bytes_& bytes) {
    std::uint8_t crc = 0;
    for (std::uint8_t b : bytes) crc = SmbusDevice::PecStep(crc, b);
    return crc;
}

// The reports the call must send, PEC included: appended to a write that ends
// the transaction, one more byte for the read.
std::vector<Report> ExpectedReports(const Call& call, bool pec) {
    std::vector<Report> reports;
    Bytes_ transaction;
    for (const Wire& w : call.wire) {
        const bool last = &w == &call.wire.back();
        Bytes_ bytes = w.bytes;
        transaction.push_back(w.address);
        transaction.insert(transaction.end(), bytes.begin(), bytes.end());
        if (pec && last && !w.Reads()) bytes.push_back(Pec(transaction));
        const std::uint32_t total = w.Reads() ? w.readCount + (pec && last ? 1 : 0)
                                              : static_cast<std::uint32_t>(bytes.size());
        Report r = Bytes(
            {w.code, static_cast<int>(total & 0xFF), static_cast<int>(total >> 8), w.address});
        std::copy(bytes.begin(), bytes.end(), r.begin() + 4);
        reports.push_back(r);
    }
    return reports;
}

// What the call gives under `fault`; nothing when only "not a failure" can be said.
std::optional<std::int32_t> ExpectedResult(const Call& call, Fault fault, bool pec) {
    const auto has = [&](auto&& what) {
        return std::any_of(call.wire.begin(), call.wire.end(), what);
    };
    const bool writesData = has([](const Wire& w) { return !w.Reads() && !w.bytes.empty(); });
    const bool sendsChunks = has([](const Wire& w) { return !w.Reads(); });
    const bool combined = has([](const Wire& w) { return w.code == 0x94; });
    const bool reads = has([](const Wire& w) { return w.Reads(); });
    switch (fault) {
        case Fault::None:
            return call.result;
        case Fault::NackAddress:
            return Corvane::I2C_NOT_ACKNOWLEDGED;
        case Fault::NackData:
            return writesData ? Corvane::I2C_NOT_ACKNOWLEDGED : call.result;
        case Fault::RefusedChunk:
            return sendsChunks ? Corvane::I2C_STATE_ERROR : call.result;
        case Fault::IdleInsteadOfRestart:
            return combined ? Corvane::SMB_NO_REPEATED_START : call.result;
        case Fault::ShortRead:
            return reads ? Corvane::I2CBUS_SHORT_READ : call.result;
        case Fault::WrongPec:
            if (!reads) return call.result;
            if (pec) return Corvane::PEC_MISMATCH;
            return std::nullopt;  // the data are wrong and nothing can tell
    }
    return std::nullopt;
}

class I2cBusTest : public SimTest {
  protected:
    // A fresh bridge with both targets behind fault switches.
    void Prepare(bool pec) {
        device = Plug();
        bridge = std::make_unique<Corvane::VrelUsbI2c>();
        targets = Targets{};
        targets.eeprom->Contents() = Counting(0, targets.eeprom->Contents().size());
        targets.regs->EnablePec(pec);
        targets.regs->SetRegister(0x00, {0x42});
        targets.regs->SetRegister(0x01, {0x5A});
        targets.regs->SetRegister(0x02, {0x34, 0x12});
        targets.regs->SetBlockRegister(0x03, Counting(0xC0, 32));
        targets.regs->SetBlockRegister(0x05, {});
        eeprom = std::make_shared<Faulty>(targets.eeprom);
        regs = std::make_shared<Faulty>(targets.regs);
        device->AttachTarget(kEeprom, eeprom);
        device->AttachTarget(kRegs, regs);
        host->ClearTrace();
    }

    void Inject(Fault fault) {
        switch (fault) {
            case Fault::None:
                break;
            case Fault::NackAddress:
                eeprom->nackAddress = regs->nackAddress = true;
                break;
            case Fault::NackData:
                eeprom->nackData = regs->nackData = true;
                break;
            case Fault::RefusedChunk:
                device->RefuseI2cChunks(1, 0x44);
                break;
            case Fault::IdleInsteadOfRestart:
                device->SkipNextI2cRestartWait();
                break;
            case Fault::ShortRead:
                device->EndNextI2cReadEarly();
                break;
            case Fault::WrongPec:
                device->CorruptI2cReadTail();
                break;
        }
    }

    std::vector<Report> BusReports() const {
        std::vector<Report> bus;
        for (const Report& r : Sent()) {
            if (r[0] == 0x90 || r[0] == 0x91 || r[0] == 0x93 || r[0] == 0x94) bus.push_back(r);
        }
        return bus;
    }

    Targets targets;
    std::shared_ptr<Faulty> eeprom, regs;
};

TEST_F(I2cBusTest, EveryCallWithAndWithoutPecUnderEveryFault) {
    for (const Call& call : Calls()) {
        for (bool pec : {false, true}) {
            for (Fault fault :
                 {Fault::None, Fault::NackAddress, Fault::NackData, Fault::RefusedChunk,
                  Fault::IdleInsteadOfRestart, Fault::ShortRead, Fault::WrongPec}) {
                SCOPED_TRACE(testing::Message() << call.name << (pec ? " with PEC" : "")
                                                << ", fault " << static_cast<int>(fault));
                const bool withPec = pec && call.pecApplies;
                Prepare(withPec);
                I2cBus bus(*bridge, 400'000);
                bus.SetPec(pec);
                Inject(fault);
                Bytes_ got(call.got.size());
                const std::int32_t rc = call.run(bus, got);
                const auto expected = ExpectedResult(call, fault, withPec);
                if (expected) {
                    EXPECT_EQ(rc, *expected) << Corvane::ResultCodeName(rc);
                } else {
                    EXPECT_GE(rc, 0) << Corvane::ResultCodeName(rc);
                }
                if (fault == Fault::None) {
                    EXPECT_EQ(BusReports(), ExpectedReports(call, withPec));
                    EXPECT_EQ(got, call.got);
                    if (call.check) call.check(targets);
                    EXPECT_EQ(targets.regs->PecErrors(), 0u);
                }
                if (fault == Fault::NackAddress) {
                    EXPECT_EQ(Corvane::ResultCodeErrno(rc), ENXIO);
                }
                if (rc == Corvane::PEC_MISMATCH) {
                    EXPECT_EQ(Corvane::ResultCodeErrno(rc), EBADMSG);
                }
                host->Unplug(device);
            }
        }
    }
}

TEST_F(I2cBusTest, BadArgumentsAndShapesAreRefusedBeforeSending) {
    Prepare(false);
    I2cBus bus(*bridge);
    Bytes_ none;
    Bytes_ one(1);
    Bytes_ block33(33);
    Bytes_ tooLong(65'536);
    std::array<Corvane::I2cMessage, 2> readThenWrite{{{kEeprom, true, one}, {kEeprom, false, one}}};
    std::array<Corvane::I2cMessage, 2> twoAddresses{{{kEeprom, false, one}, {kRegs, true, one}}};
    const std::vector<std::pair<std::int32_t, int>> rows = {
        {bus.Write(0x80, one), EINVAL},
        {bus.Read(kEeprom, none), EINVAL},
        {bus.WriteRead(0xFF, one, one), EINVAL},
        {bus.ReadByteData(0x80, 0), EINVAL},
        {bus.WriteBlockData(kRegs, 0, block33), EINVAL},
        {bus.WriteBlockData(kRegs, 0, none), EINVAL},
        {bus.ReadBlockData(kRegs, 0, none), EINVAL},
        {bus.ReadI2cBlockData(kRegs, 0, block33), EINVAL},
        {bus.BlockProcessCall(kRegs, 0, block33, one), EINVAL},
        {bus.BlockProcessCall(kRegs, 0, none, one), EINVAL},
        {bus.BlockProcessCall(kRegs, 0, one, none), EINVAL},
        {bus.Write(kEeprom, tooLong), EINVAL},
        {bus.WriteRead(kEeprom, one, tooLong), EINVAL},
        {bus.WriteRead(kEeprom, tooLong, one), EINVAL},
        {bus.WriteI2cBlockData(kRegs, 0, block33), EINVAL},
        {bus.Transfer(readThenWrite), EOPNOTSUPP},
        {bus.Transfer(twoAddresses), EOPNOTSUPP},
        {bus.Transfer({}), EOPNOTSUPP},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_LT(rows[i].first, 0) << i;
        EXPECT_EQ(Corvane::ResultCodeErrno(rows[i].first), rows[i].second) << i;
    }
    EXPECT_TRUE(host->Trace().empty());
}

// Linux's adapters give ENXIO for an address nobody acknowledges whatever the
// length, and so does the bridge, up to the longest write it carries.
TEST_F(I2cBusTest, ASilentAddressIsNotAcknowledgedAtEveryLength) {
    Prepare(false);
    I2cBus bus(*bridge);
    for (std::size_t length : {1u, 60u, 61u, 66u, 65'535u}) {
        EXPECT_EQ(bus.Write(0x33, Bytes_(length)), Corvane::I2C_NOT_ACKNOWLEDGED) << length;
    }
}

// PEC switched from another thread while block reads run: each read uses one
// setting throughout (AddressSanitizer and ThreadSanitizer watch the rest).
TEST_F(I2cBusTest, PecChangedByAnotherThreadDuringReads) {
    Prepare(false);
    host->SetReportTime(std::chrono::microseconds(0));
    I2cBus bus(*bridge, 1'000'000);
    std::atomic<bool> done{false};
    std::thread toggler([&] {
        for (bool on = true; !done; on = !on) bus.SetPec(on);
    });
    int wrong = 0;
    for (int i = 0; i < 100; ++i) {
        std::array<std::uint8_t, 32> block{};
        const std::int32_t rc = bus.ReadBlockData(kRegs, 0x03, block);
        // The device sends no PEC: a read that wants one finds the next byte wrong.
        if (rc != 32 && rc != Corvane::PEC_MISMATCH) ++wrong;
        if (rc == 32 && !std::equal(block.begin(), block.end(), Counting(0xC0, 32).begin()))
            ++wrong;
    }
    done = true;
    toggler.join();
    EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace CorvaneTest
