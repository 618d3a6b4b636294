// The i2c-dev requests of corvane-i2cdev as a C client issues them, through an
// emulation of the kernel's unrestricted-ioctl protocol (the client is this
// process), against targets on the virtual chip.

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <corvane/I2cBus.hpp>
#include <corvane/sim/Eeprom.hpp>
#include <corvane/sim/SmbusDevice.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <numeric>

#include "I2cDevAdapter.hpp"
#include "common/SimTest.hpp"

namespace {

using CorvaneI2cDev::I2cDevAdapter;
using CorvaneI2cDev::IoctlReply;
using CorvaneI2cDev::OpenFile;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kEeprom = 0x50, kPecDevice = 0x0B, kRegisters = 0x0C, kAbsent = 0x33;

// One open file of the node, and what the kernel does between the client and
// the daemon: fetch the regions a retry names from the client's memory, then
// copy the final answer into the regions it asked to store into.
struct Client {
    I2cDevAdapter& adapter;
    OpenFile file;

    // The ioctl's result, or -errno.
    long Ioctl(std::uint32_t command, std::uint64_t arg) {
        Bytes in;
        std::vector<CorvaneI2cDev::ClientRegion> store;
        std::size_t outSize = 0;
        for (int step = 0; step < 4; ++step) {
            const IoctlReply reply = adapter.Ioctl(file, command, arg, in, outSize);
            if (reply.retry) {
                in.clear();
                for (const auto& region : reply.fetch) {
                    const auto* bytes = reinterpret_cast<const std::uint8_t*>(region.address);
                    in.insert(in.end(), bytes, bytes + region.size);
                }
                store = reply.store;
                outSize = 0;
                for (const auto& region : store) outSize += region.size;
                continue;
            }
            if (reply.error != 0) return -reply.error;
            EXPECT_LE(reply.out.size(), outSize);
            std::size_t at = 0;
            for (const auto& region : store) {
                const std::size_t n = std::min(region.size, reply.out.size() - at);
                std::memcpy(reinterpret_cast<void*>(region.address), reply.out.data() + at, n);
                at += n;
            }
            return reply.result;
        }
        ADD_FAILURE() << "the ioctl took more than 4 steps";
        return -EIO;
    }
    template <typename T>
    long Ioctl(std::uint32_t command, T* pointer) {
        return Ioctl(command, reinterpret_cast<std::uintptr_t>(pointer));
    }
    long Smbus(std::uint8_t readWrite, std::uint8_t command, std::uint32_t size,
               i2c_smbus_data* data) {
        i2c_smbus_ioctl_data request{readWrite, command, size, data};
        return Ioctl(I2C_SMBUS, &request);
    }
    long Rdwr(std::vector<i2c_msg> messages) {
        i2c_rdwr_ioctl_data request{messages.data(), static_cast<std::uint32_t>(messages.size())};
        return Ioctl(I2C_RDWR, &request);
    }
};

class I2cDevAdapterTest : public CorvaneTest::SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        Connect();
        eeprom = std::make_shared<Corvane::Sim::Eeprom>(32768, 64);
        std::iota(eeprom->Contents().begin(), eeprom->Contents().end(), std::uint8_t{0});
        pecDevice = std::make_shared<Corvane::Sim::SmbusDevice>(kPecDevice);
        pecDevice->EnablePec(true);
        pecDevice->EnableByteCount(true);
        pecDevice->SetRegister(0x20, {'C', 'o', 'r', 'v', 'a', 'n', 'e'});
        registers = std::make_shared<Corvane::Sim::SmbusDevice>(kRegisters);
        registers->SetRegister(0x10, {0x5A, 0xA5});
        device->AttachTarget(kEeprom, eeprom);
        device->AttachTarget(kPecDevice, pecDevice);
        device->AttachTarget(kRegisters, registers);
        bus = std::make_unique<Corvane::I2cBus>(*bridge);
        adapter = std::make_unique<I2cDevAdapter>(*bus);
    }

    Client Open(std::uint8_t address, bool pec = false) {
        Client client{*adapter, {}};
        EXPECT_EQ(client.Ioctl(I2C_SLAVE, address), 0);
        EXPECT_EQ(client.Ioctl(I2C_PEC, pec ? 1 : 0), 0);
        return client;
    }

    std::shared_ptr<Corvane::Sim::Eeprom> eeprom;
    std::shared_ptr<Corvane::Sim::SmbusDevice> pecDevice, registers;
    std::unique_ptr<Corvane::I2cBus> bus;
    std::unique_ptr<I2cDevAdapter> adapter;
};

struct SmbusCase {
    const char* name;
    std::uint8_t address;
    bool pec;
    std::uint8_t readWrite;
    std::uint8_t command;
    std::uint32_t size;
    Bytes data;  // leading bytes of the client's i2c_smbus_data
    long result;
    Bytes after;  // leading bytes of i2c_smbus_data after the call
    std::uint8_t checkedRegister = 0;
    Bytes registerAfter = {};  // of the register target, when not empty
};

TEST_F(I2cDevAdapterTest, SmbusCallsRoundTripThroughTheTargets) {
    const std::uint8_t R = I2C_SMBUS_READ, W = I2C_SMBUS_WRITE;
    const SmbusCase cases[] = {
        {"read byte data", kRegisters, false, R, 0x10, I2C_SMBUS_BYTE_DATA, {}, 0, {0x5A}},
        {"write byte data",
         kRegisters,
         false,
         W,
         0x11,
         I2C_SMBUS_BYTE_DATA,
         {0x42},
         0,
         {0x42},
         0x11,
         {0x42}},
        {"read word", kRegisters, false, R, 0x10, I2C_SMBUS_WORD_DATA, {}, 0, {0x5A, 0xA5}},
        {"write word",
         kRegisters,
         false,
         W,
         0x12,
         I2C_SMBUS_WORD_DATA,
         {0x34, 0x12},
         0,
         {0x34, 0x12},
         0x12,
         {0x34, 0x12}},
        {"i2c block read",
         kRegisters,
         false,
         R,
         0x10,
         I2C_SMBUS_I2C_BLOCK_DATA,
         {2},
         0,
         {2, 0x5A, 0xA5}},
        {"i2c block write",
         kRegisters,
         false,
         W,
         0x14,
         I2C_SMBUS_I2C_BLOCK_DATA,
         {3, 1, 2, 3},
         0,
         {3, 1, 2, 3},
         0x14,
         {1, 2, 3}},
        {"block read, PEC",
         kPecDevice,
         true,
         R,
         0x20,
         I2C_SMBUS_BLOCK_DATA,
         {},
         0,
         {7, 'C', 'o', 'r', 'v', 'a', 'n', 'e'}},
        {"block write, PEC",
         kPecDevice,
         true,
         W,
         0x21,
         I2C_SMBUS_BLOCK_DATA,
         {3, 'a', 'b', 'c'},
         0,
         {3, 'a', 'b', 'c'}},
        {"read byte", kEeprom, false, R, 0, I2C_SMBUS_BYTE, {}, 0, {0x00}},
        {"quick write", kEeprom, false, W, 0, I2C_SMBUS_QUICK, {}, 0, {}},
        {"absent: quick", kAbsent, false, W, 0, I2C_SMBUS_QUICK, {}, -ENXIO, {}},
        {"absent: read byte data",
         kAbsent,
         false,
         R,
         0,
         I2C_SMBUS_BYTE_DATA,
         {0xEE},
         -ENXIO,
         {0xEE}},
    };
    for (const SmbusCase& c : cases) {
        SCOPED_TRACE(c.name);
        Client client = Open(c.address, c.pec);
        i2c_smbus_data data{};
        std::memset(&data, 0xEE, sizeof data);
        std::copy(c.data.begin(), c.data.end(), reinterpret_cast<std::uint8_t*>(&data));
        EXPECT_EQ(client.Smbus(c.readWrite, c.command, c.size, &data), c.result);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&data);
        EXPECT_EQ(Bytes(bytes, bytes + c.after.size()), c.after);
        if (!c.registerAfter.empty()) {
            EXPECT_EQ(registers->Register(c.checkedRegister), c.registerAfter);
        }
    }
    EXPECT_EQ(pecDevice->Register(0x21), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(pecDevice->PecErrors(), 0u);
}

TEST_F(I2cDevAdapterTest, CombinedTransferReadsTheEepromAtATwoByteOffset) {
    Client client = Open(kEeprom);
    std::uint8_t offset[] = {0x01, 0x23}, in[16] = {}, page[] = {0x02, 0x00, 'h', 'i'};
    EXPECT_EQ(client.Rdwr({{kEeprom, 0, 2, offset}, {kEeprom, I2C_M_RD, 16, in}}), 2);
    EXPECT_EQ(Bytes(in, in + 16),
              Bytes(eeprom->Contents().begin() + 0x123, eeprom->Contents().begin() + 0x133));
    EXPECT_EQ(client.Rdwr({{kEeprom, 0, 4, page}}), 1);
    EXPECT_EQ(eeprom->Contents()[0x200], 'h');
    EXPECT_EQ(eeprom->Contents()[0x201], 'i');

    // read() and write() go to each file's own I2C_SLAVE address.
    Client other = Open(kRegisters);
    const std::uint8_t at[] = {0x02, 0x00};
    EXPECT_EQ(adapter->Write(client.file, at), 2);
    std::uint8_t two[2] = {};
    EXPECT_EQ(adapter->Write(other.file, std::array<std::uint8_t, 1>{0x10}), 1);
    EXPECT_EQ(adapter->Read(client.file, two), 2);
    EXPECT_EQ(Bytes(two, two + 2), (Bytes{'h', 'i'}));
    EXPECT_EQ(adapter->Read(other.file, two), 2);
    EXPECT_EQ(Bytes(two, two + 2), (Bytes{0x5A, 0xA5}));
    Client absent = Open(kAbsent);
    EXPECT_EQ(adapter->Read(absent.file, two), -ENXIO);
    EXPECT_EQ(adapter->Write(absent.file, at), -ENXIO);
}

TEST_F(I2cDevAdapterTest, BadRequestsAreRefusedBeforeAnythingIsSent) {
    std::uint8_t buffer[16] = {};
    const auto message = [&](std::uint16_t flags, std::uint16_t len = 1,
                             std::uint16_t address = kEeprom) {
        return i2c_msg{address, flags, len, buffer};
    };
    i2c_smbus_data data{};
    data.block[0] = 33;
    const std::pair<const char*, std::function<long(Client&)>> requests[] = {
        {"read_write 2", [&](Client& c) { return c.Smbus(2, 0, I2C_SMBUS_BYTE_DATA, &data); }},
        {"unknown size", [&](Client& c) { return c.Smbus(1, 0, 99, &data); }},
        {"no data", [&](Client& c) { return c.Smbus(1, 0, I2C_SMBUS_BYTE_DATA, nullptr); }},
        {"no request", [&](Client& c) { return c.Ioctl(I2C_SMBUS, std::uint64_t{0}); }},
        {"block write of 33",
         [&](Client& c) { return c.Smbus(0, 0, I2C_SMBUS_BLOCK_DATA, &data); }},
        {"i2c block read of 33",
         [&](Client& c) { return c.Smbus(1, 0, I2C_SMBUS_I2C_BLOCK_DATA, &data); }},
        {"block process call",
         [&](Client& c) { return c.Smbus(0, 0, I2C_SMBUS_BLOCK_PROC_CALL, &data); }},
        {"quick read", [&](Client& c) { return c.Smbus(1, 0, I2C_SMBUS_QUICK, nullptr); }},
        {"address 0x80", [&](Client& c) { return c.Ioctl(I2C_SLAVE, 0x80); }},
        {"ten-bit addresses", [&](Client& c) { return c.Ioctl(I2C_TENBIT, 1); }},
        {"unknown ioctl", [&](Client& c) { return c.Ioctl(0x0799, std::uint64_t{0}); }},
        {"no functionality pointer",
         [&](Client& c) { return c.Ioctl(I2C_FUNCS, std::uint64_t{0}); }},
        {"no messages pointer",
         [&](Client& c) {
             i2c_rdwr_ioctl_data r{nullptr, 1};
             return c.Ioctl(I2C_RDWR, &r);
         }},
        {"no messages", [&](Client& c) { return c.Rdwr({}); }},
        {"43 messages", [&](Client& c) { return c.Rdwr(std::vector<i2c_msg>(43, message(0))); }},
        {"8193 bytes", [&](Client& c) { return c.Rdwr({message(0, 8193)}); }},
        {"null buffer",
         [&](Client& c) {
             return c.Rdwr({{kEeprom, 0, 1, nullptr}});
         }},
        {"address 0x80 in a message", [&](Client& c) { return c.Rdwr({message(0, 1, 0x80)}); }},
        {"NOSTART", [&](Client& c) { return c.Rdwr({message(I2C_M_NOSTART)}); }},
        {"ten-bit message", [&](Client& c) { return c.Rdwr({message(I2C_M_TEN)}); }},
        {"three messages",
         [&](Client& c) {
             return c.Rdwr({message(0), message(0), message(I2C_M_RD)});
         }},
        {"read then write",
         [&](Client& c) {
             return c.Rdwr({message(I2C_M_RD), message(0)});
         }},
        {"two addresses",
         [&](Client& c) {
             return c.Rdwr({message(0), message(I2C_M_RD, 1, kRegisters)});
         }},
    };
    const long expected[] = {-EINVAL,     -EINVAL,     -EINVAL,     -EINVAL,     -EINVAL,
                             -EINVAL,     -EOPNOTSUPP, -EOPNOTSUPP, -EINVAL,     -EINVAL,
                             -ENOTTY,     -EINVAL,     -EINVAL,     -EINVAL,     -EINVAL,
                             -EINVAL,     -EINVAL,     -EINVAL,     -EOPNOTSUPP, -EOPNOTSUPP,
                             -EOPNOTSUPP, -EOPNOTSUPP, -EOPNOTSUPP};
    static_assert(std::size(expected) == std::size(requests));
    for (std::size_t i = 0; i < std::size(requests); ++i) {
        SCOPED_TRACE(requests[i].first);
        Client client = Open(kEeprom);
        host->ClearTrace();
        EXPECT_EQ(requests[i].second(client), expected[i]);
        EXPECT_TRUE(host->Trace().empty());
    }
    // And the node keeps serving.
    Client client = Open(kRegisters);
    EXPECT_EQ(client.Smbus(I2C_SMBUS_READ, 0x10, I2C_SMBUS_BYTE_DATA, &data), 0);
    EXPECT_EQ(data.byte, 0x5A);
}

TEST_F(I2cDevAdapterTest, FunctionalityAndUnplug) {
    Client client = Open(kRegisters);
    unsigned long functionality = 0;
    EXPECT_EQ(client.Ioctl(I2C_FUNCS, &functionality), 0);
    EXPECT_EQ(functionality, I2cDevAdapter::kFunctionality);
    EXPECT_EQ(
        functionality & (I2C_FUNC_10BIT_ADDR | I2C_FUNC_NOSTART | I2C_FUNC_SMBUS_BLOCK_PROC_CALL),
        0u);

    i2c_smbus_data data{};
    host->Unplug(device);
    const long unplugged = client.Smbus(I2C_SMBUS_READ, 0x10, I2C_SMBUS_BYTE_DATA, &data);
    EXPECT_LT(unplugged, 0);
    EXPECT_NE(unplugged, -ENXIO);
    host->Plug(device);
    EXPECT_EQ(client.Smbus(I2C_SMBUS_READ, 0x10, I2C_SMBUS_BYTE_DATA, &data), 0);
    EXPECT_EQ(data.byte, 0x5A);
}

}  // namespace
