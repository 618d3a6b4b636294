// SPDX-License-Identifier: MIT
// The i2c-dev requests of corvane-i2cdev as 64-bit and 32-bit C clients issue
// them, through an emulation of the kernel's unrestricted-ioctl protocol (the
// client's memory is a region of this process below 4 GiB, where a 32-bit
// pointer reaches), against targets on the virtual chip.

#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/mman.h>

#include <corvane/I2cBus.hpp>
#include <corvane/sim/Eeprom.hpp>
#include <corvane/sim/SmbusDevice.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <numeric>

#include "I2cDevAdapter.hpp"
#include "RequestTable.hpp"
#include "common/SimTest.hpp"

namespace {

using CorvaneI2cDev::ClientAbi;
using CorvaneI2cDev::ClientRegion;
using CorvaneI2cDev::I2cDevAdapter;
using CorvaneI2cDev::IoctlReply;
using CorvaneI2cDev::OpenFile;
using Bytes = std::vector<std::uint8_t>;

using I2cDevRequests::kAbsent;
using I2cDevRequests::kEeprom;
constexpr std::uint8_t kPecDevice = I2cDevRequests::kSmbusDevice, kRegisters = 0x0C;
constexpr ClientAbi kAbis[] = {ClientAbi::Native, ClientAbi::Bits32};

// The client's memory: below 4 GiB, so that both layouts can point into it.
class ClientMemory {
  public:
    ClientMemory() {
        void* base = mmap(nullptr, kSize, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
        EXPECT_NE(base, MAP_FAILED);
        base_ = static_cast<std::uint8_t*>(base);
    }
    ~ClientMemory() { munmap(base_, kSize); }
    ClientMemory(const ClientMemory&) = delete;
    ClientMemory& operator=(const ClientMemory&) = delete;

    // `size` bytes filled with `fill`.
    std::uint8_t* New(std::size_t size, std::uint8_t fill = 0xEE) {
        used_ = (used_ + 7) / 8 * 8;
        EXPECT_LE(used_ + size, kSize);
        std::uint8_t* bytes = base_ + used_;
        used_ += size;
        std::memset(bytes, fill, size);
        return bytes;
    }
    std::uint8_t* Copy(const Bytes& contents) {
        std::uint8_t* bytes = New(contents.size());
        std::copy(contents.begin(), contents.end(), bytes);
        return bytes;
    }
    void Reset() { used_ = 0; }

  private:
    static constexpr std::size_t kSize = 1 << 20;
    std::uint8_t* base_ = nullptr;
    std::size_t used_ = 0;
};

// One open file of the node, and what the kernel does between the client and
// the daemon: fetch the regions a retry names from the client's memory, then
// copy the final answer into the regions it asked to store into.
class Client : public I2cDevRequests::Client {
  public:
    Client(I2cDevAdapter& adapter, ClientMemory& memory, ClientAbi abi)
        : I2cDevRequests::Client(abi == ClientAbi::Bits32 ? 4 : 8),
          adapter_(adapter),
          memory_(memory),
          abi_(abi) {}

    using I2cDevRequests::Client::Ioctl;
    long Ioctl(std::uint32_t command, std::uint64_t arg) override {
        Bytes in;
        std::vector<ClientRegion> store;
        std::size_t outSize = 0;
        // Header, message list, block reads' first bytes, buffers, answer.
        for (int step = 0; step < 5; ++step) {
            const IoctlReply reply = adapter_.Ioctl(file, command, arg, abi_, in, outSize);
            if (reply.retry) {
                in.clear();
                for (const auto& region : reply.fetch) {
                    const auto* bytes = reinterpret_cast<const std::uint8_t*>(region.address);
                    in.insert(in.end(), bytes, bytes + region.size);
                }
                mostFetched = std::max(mostFetched, in.size());
                store = reply.store;
                outSize = 0;
                for (const auto& region : store) outSize += region.size;
                EXPECT_LE(std::max(in.size(), outSize), I2cDevAdapter::kMaxRegionBytes);
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
        ADD_FAILURE() << "the ioctl took more than 5 steps";
        return -EIO;
    }
    std::uint8_t* New(std::size_t size, std::uint8_t fill) override {
        return memory_.New(size, fill);
    }

    OpenFile file{};
    std::size_t mostFetched = 0;  // bytes, in any one step

  private:
    I2cDevAdapter& adapter_;
    ClientMemory& memory_;
    ClientAbi abi_;
};

std::string AbiName(ClientAbi abi) {
    return abi == ClientAbi::Bits32 ? "32-bit client" : "64-bit client";
}

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
        pecDevice->SetRegister(0x30, Bytes(32, 0x5A));
        pecDevice->SetRegister(0x31, Bytes(33, 0x5A));
        registers = std::make_shared<Corvane::Sim::SmbusDevice>(kRegisters);
        registers->SetRegister(0x10, {0x5A, 0xA5});
        device->AttachTarget(kEeprom, eeprom);
        device->AttachTarget(kPecDevice, pecDevice);
        device->AttachTarget(kRegisters, registers);
        bus = std::make_unique<Corvane::I2cBus>(*bridge);
        adapter = std::make_unique<I2cDevAdapter>(*bus);
    }

    Client Open(std::uint8_t address, ClientAbi abi = ClientAbi::Native, bool pec = false) {
        Client client(*adapter, memory, abi);
        EXPECT_EQ(client.Ioctl(I2C_SLAVE, std::uint64_t{address}), 0);
        EXPECT_EQ(client.Ioctl(I2C_PEC, std::uint64_t{pec}), 0);
        return client;
    }

    ClientMemory memory;
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
        {"block process call, PEC",  // the register echoes the block
         kPecDevice,
         true,
         W,
         0x22,
         I2C_SMBUS_BLOCK_PROC_CALL,
         {3, 'x', 'y', 'z'},
         0,
         {3, 'x', 'y', 'z'}},
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
    for (const ClientAbi abi : kAbis) {
        eeprom->SetAddressCounter(0);
        for (const SmbusCase& c : cases) {
            SCOPED_TRACE(AbiName(abi) + ": " + c.name);
            Client client = Open(c.address, abi, c.pec);
            std::uint8_t* data = memory.New(sizeof(i2c_smbus_data));
            std::copy(c.data.begin(), c.data.end(), data);
            EXPECT_EQ(client.Smbus(c.readWrite, c.command, c.size, data), c.result);
            EXPECT_EQ(Bytes(data, data + c.after.size()), c.after);
            if (!c.registerAfter.empty()) {
                EXPECT_EQ(registers->Register(c.checkedRegister), c.registerAfter);
            }
        }
    }
    EXPECT_EQ(pecDevice->Register(0x21), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(pecDevice->PecErrors(), 0u);
}

TEST_F(I2cDevAdapterTest, CombinedTransferReadsTheEepromAtATwoByteOffset) {
    for (const ClientAbi abi : kAbis) {
        SCOPED_TRACE(AbiName(abi));
        Client client = Open(kEeprom, abi);
        std::uint8_t* offset = memory.Copy({0x01, 0x23});
        std::uint8_t* in = memory.New(16);
        EXPECT_EQ(client.Rdwr({{kEeprom, 0, 2, offset}, {kEeprom, I2C_M_RD, 16, in}}), 2);
        EXPECT_EQ(Bytes(in, in + 16),
                  Bytes(eeprom->Contents().begin() + 0x123, eeprom->Contents().begin() + 0x133));
        EXPECT_EQ(client.Rdwr({{kEeprom, 0, 4, memory.Copy({0x02, 0x00, 'h', 'i'})}}), 1);
        EXPECT_EQ(eeprom->Contents()[0x200], 'h');
        EXPECT_EQ(eeprom->Contents()[0x201], 'i');
        eeprom->Contents()[0x200] = 0;
    }

    // read() and write() go to each file's own I2C_SLAVE address.
    Client client = Open(kEeprom);
    EXPECT_EQ(client.Rdwr({{kEeprom, 0, 4, memory.Copy({0x02, 0x00, 'h', 'i'})}}), 1);
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

// I2C_M_RECV_LEN as i2ctransfer's r? sends it: the buffer's first byte says
// how many bytes come beyond the block (1: the count byte, 2: and the PEC).
// The client gets the count byte, the block and those bytes, nothing more.
TEST_F(I2cDevAdapterTest, BlockReadsTakeTheirLengthFromTheTarget) {
    struct Row {
        const char* name;
        std::uint8_t reg;
        std::uint8_t extra;
        std::uint16_t length;
        long result;
        std::size_t count;  // block bytes handed back
    };
    const Row rows[] = {
        {"i2ctransfer's r?", 0x20, 1, 256, 2, 7},
        {"with the PEC byte", 0x20, 2, 34, 2, 7},
        {"a count above 32", 0x31, 1, 34, -EPROTO, 0},
        {"the longest block", 0x30, 1, 34, 2, 32},
    };
    for (const ClientAbi abi : kAbis) {
        for (const Row& row : rows) {
            SCOPED_TRACE(AbiName(abi) + ": " + row.name);
            Client client = Open(kPecDevice, abi);
            std::uint8_t* buffer = memory.New(row.length);
            buffer[0] = row.extra;
            EXPECT_EQ(client.Rdwr({{kPecDevice, 0, 1, memory.Copy({row.reg})},
                                   {kPecDevice, I2C_M_RD | I2C_M_RECV_LEN, row.length, buffer}}),
                      row.result);
            if (row.result < 0) continue;
            const Bytes contents = pecDevice->Register(row.reg);
            EXPECT_EQ(buffer[0], row.count);
            EXPECT_EQ(Bytes(buffer + 1, buffer + 1 + row.count), contents);
            if (row.extra == 2) {  // the PEC over both messages, address bytes included
                std::uint8_t pec = 0;
                for (std::uint8_t b :
                     Bytes{0x16, row.reg, 0x17, static_cast<std::uint8_t>(row.count)})
                    pec = Corvane::Sim::SmbusDevice::PecStep(pec, b);
                for (std::uint8_t b : contents) pec = Corvane::Sim::SmbusDevice::PecStep(pec, b);
                EXPECT_EQ(buffer[1 + row.count], pec);
            }
            EXPECT_EQ(buffer[row.extra + row.count], 0xEE);  // beyond what the kernel copies
        }
    }
    // Alone, without a register byte: the target's selected register.
    Client client = Open(kPecDevice);
    std::uint8_t* buffer = memory.New(33);
    buffer[0] = 1;
    EXPECT_EQ(client.Rdwr({{kPecDevice, I2C_M_RD | I2C_M_RECV_LEN, 33, buffer}}), 1);
    EXPECT_EQ(buffer[0], 32);  // 0x30 was selected last
}

// The table of requests the node refuses, each with the kernel's errno: the
// daemon gives the same, or the row says why the bridge cannot. A refused
// request sends nothing to the bridge and fetches no message buffers.
TEST_F(I2cDevAdapterTest, RequestsGetTheKernelsErrnoAndNothingIsSent) {
    for (const ClientAbi abi : kAbis) {
        for (const I2cDevRequests::Row& row : I2cDevRequests::Rows()) {
            SCOPED_TRACE(AbiName(abi) + ": " + row.name);
            Client client = Open(kEeprom, abi);
            host->ClearTrace();
            EXPECT_EQ(row.request(client), -row.bridge);
            EXPECT_TRUE(host->Trace().empty());
            EXPECT_LE(client.mostFetched, 42 * sizeof(i2c_msg) + 42 + sizeof(i2c_rdwr_ioctl_data));
            memory.Reset();
        }
    }
    // The limits' other sides are carried out.
    const std::uint8_t SR = I2C_SMBUS_READ;
    for (const ClientAbi abi : kAbis) {
        SCOPED_TRACE(AbiName(abi));
        Client client = Open(kRegisters, abi);
        EXPECT_EQ(client.Ioctl(I2C_RETRIES, std::uint64_t{INT_MAX}), 0);
        EXPECT_EQ(client.Ioctl(I2C_TIMEOUT, std::uint64_t{INT_MAX}), 0);
        EXPECT_EQ(client.Rdwr({{0x7F, 0, 1, memory.New(1)}}), -ENXIO);  // sent: nobody there
        EXPECT_EQ(client.Rdwr({{kEeprom, 0, 2, memory.Copy({0, 0})}}), 1);
        EXPECT_EQ(client.Rdwr({{kEeprom, 0, 0, nullptr}}), 1);  // quick write
        std::uint8_t* data = memory.New(sizeof(i2c_smbus_data));
        data[0] = 32;
        EXPECT_EQ(client.Smbus(SR, 0x10, I2C_SMBUS_I2C_BLOCK_DATA, data), 0);
        EXPECT_EQ(client.Smbus(SR, 0x10, I2C_SMBUS_BYTE_DATA, data), 0);
        EXPECT_EQ(data[0], 0x5A);
        EXPECT_EQ(client.Ioctl(I2C_SLAVE, std::uint64_t{0x7F}), 0);
    }
}

// An EEPROM does not acknowledge its address while it stores a page, so a
// program polls with the next write until it is taken. Not acknowledged is
// ENXIO at every length, as from a kernel adapter: past 60 bytes the
// bridge's first chunk is not the last one.
TEST_F(I2cDevAdapterTest, AcknowledgePollingAfterAPageWriteSeesEnxioAtEveryLength) {
    eeprom->SetWriteCycle(std::chrono::milliseconds(30));
    Client client = Open(kEeprom);
    Bytes page(66);
    std::iota(page.begin() + 2, page.end(), std::uint8_t{0x80});
    page[0] = 0x01;  // offset 0x0100
    EXPECT_EQ(client.Rdwr({{kEeprom, 0, 66, memory.Copy(page)}}), 1);
    page[0] = 0x02;
    int polls = 0;
    long result = 0;
    while ((result = client.Rdwr({{kEeprom, 0, 66, memory.Copy(page)}})) == -ENXIO && polls < 100) {
        ++polls;
    }
    EXPECT_EQ(result, 1);
    EXPECT_GT(polls, 0);
    EXPECT_EQ(Bytes(eeprom->Contents().begin() + 0x100, eeprom->Contents().begin() + 0x140),
              Bytes(page.begin() + 2, page.end()));
    EXPECT_EQ(Bytes(eeprom->Contents().begin() + 0x200, eeprom->Contents().begin() + 0x240),
              Bytes(page.begin() + 2, page.end()));
    for (const std::uint16_t length : std::initializer_list<std::uint16_t>{1, 60, 61, 66, 8192}) {
        SCOPED_TRACE(length);
        EXPECT_EQ(client.Rdwr({{kAbsent, 0, length, memory.New(length)}}), -ENXIO);
    }
}

TEST_F(I2cDevAdapterTest, FunctionalityInTheClientsLongAndUnplug) {
    for (const ClientAbi abi : kAbis) {
        SCOPED_TRACE(AbiName(abi));
        Client client = Open(kRegisters, abi);
        std::uint8_t* functionality = memory.New(8);
        EXPECT_EQ(client.Ioctl(I2C_FUNCS, functionality), 0);
        const std::size_t width = abi == ClientAbi::Bits32 ? 4 : 8;
        std::uint64_t value = 0;
        std::memcpy(&value, functionality, width);
        EXPECT_EQ(value, I2cDevAdapter::kFunctionality);
        EXPECT_EQ(Bytes(functionality + width, functionality + 8), Bytes(8 - width, 0xEE));
    }
    EXPECT_EQ(I2cDevAdapter::kFunctionality & (I2C_FUNC_10BIT_ADDR | I2C_FUNC_NOSTART), 0u);
    EXPECT_NE(I2cDevAdapter::kFunctionality & I2C_FUNC_SMBUS_READ_BLOCK_DATA, 0u);
    EXPECT_NE(I2cDevAdapter::kFunctionality & I2C_FUNC_SMBUS_BLOCK_PROC_CALL, 0u);

    Client client = Open(kRegisters);
    std::uint8_t* data = memory.New(sizeof(i2c_smbus_data));
    host->Unplug(device);
    const long unplugged = client.Smbus(I2C_SMBUS_READ, 0x10, I2C_SMBUS_BYTE_DATA, data);
    EXPECT_LT(unplugged, 0);
    EXPECT_NE(unplugged, -ENXIO);
    host->Plug(device);
    EXPECT_EQ(client.Smbus(I2C_SMBUS_READ, 0x10, I2C_SMBUS_BYTE_DATA, data), 0);
    EXPECT_EQ(data[0], 0x5A);
}

}  // namespace
