// SPDX-License-Identifier: MIT
// libFuzzer target: the requests a client of corvane-i2cdev sends. The daemon
// runs as root and every member of its node's group talks to it, so each
// request is untrusted: the input chooses the ioctl (or read()/write()), its
// argument, the client's word size and the client's memory, which the kernel's
// part of the retry protocol is emulated over (a region outside that memory
// ends the ioctl with EFAULT, as the kernel ends it), and the client may change
// its memory between the steps. No input may crash the handling, make it ask
// the kernel for more than it may, answer with an errno it cannot give, or send
// anything to the bridge for a request it refuses.
//
// With CORVANE_FUZZ_SEEDS=DIR the target writes the refused requests of the
// daemon's test table (tests/i2cdev/RequestTable.hpp) to DIR as seeds and ends.

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <corvane/I2cBus.hpp>
#include <corvane/corvane.hpp>
#include <corvane/sim.hpp>
#include <corvane/sim/Eeprom.hpp>
#include <corvane/sim/SmbusDevice.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "I2cDevAdapter.hpp"
#include "i2cdev/RequestTable.hpp"

namespace {

using CorvaneI2cDev::ClientAbi;
using CorvaneI2cDev::I2cDevAdapter;
using CorvaneI2cDev::IoctlReply;

// Where the client's memory starts in its address space: low enough for a
// 32-bit client.
constexpr std::uint64_t kBase = 0x10000;
constexpr std::size_t kMemory = 0x10000;
// The input's head: operation, options, the file's address, the argument.
constexpr std::size_t kHead = 7;
// FUSE_IOCTL_MAX_IOV and the kernel's room for an ioctl's data (32 pages).
constexpr std::size_t kMaxRegions = 256;
constexpr std::size_t kKernelRoom = 32 * 4096;

const std::uint32_t kCommands[] = {I2C_SLAVE,   I2C_SLAVE_FORCE, I2C_TENBIT, I2C_PEC,  I2C_RETRIES,
                                   I2C_TIMEOUT, I2C_FUNCS,       I2C_RDWR,   I2C_SMBUS};
constexpr std::size_t kOperations = std::size(kCommands) + 3;  // + any number, read(), write()

struct Bench {
    std::shared_ptr<Corvane::Sim::SimulatedHost> host = Corvane::Sim::SimulatedHost::Install();
    std::shared_ptr<Corvane::Sim::VirtualDevice> chip =
        std::make_shared<Corvane::Sim::VirtualDevice>();
    std::unique_ptr<Corvane::VrelUsbI2c> bridge;
    std::unique_ptr<Corvane::I2cBus> bus;
    std::unique_ptr<I2cDevAdapter> adapter;

    Bench() {
        chip->AttachTarget(I2cDevRequests::kEeprom,
                           std::make_shared<Corvane::Sim::Eeprom>(256, 16));
        auto smbus = std::make_shared<Corvane::Sim::SmbusDevice>(I2cDevRequests::kSmbusDevice);
        smbus->EnablePec(true);
        smbus->EnableByteCount(true);
        smbus->SetRegister(0x20, {'C', 'o', 'r', 'v'});
        smbus->SetRegister(0x21, std::vector<std::uint8_t>(40, 0x21));
        chip->AttachTarget(I2cDevRequests::kSmbusDevice, smbus);
        chip->AttachTarget(0x0C, std::make_shared<Corvane::Sim::SmbusDevice>(0x0C));
        host->Plug(chip);
        bridge = std::make_unique<Corvane::VrelUsbI2c>();
        if (!bridge->Settings->GetConnectionStatus()) std::abort();
        bus = std::make_unique<Corvane::I2cBus>(*bridge);
        adapter = std::make_unique<I2cDevAdapter>(*bus);
    }
};

Bench& TheBench() {
    static Bench bench;
    return bench;
}

// The client's memory and the kernel's copies in and out of it.
class Memory {
  public:
    Memory(const std::uint8_t* data, std::size_t size)
        : bytes_(data, data + std::min(size, kMemory)) {
        bytes_.resize(kMemory);
    }
    bool Fetch(const CorvaneI2cDev::ClientRegion& region, std::vector<std::uint8_t>& into) const {
        if (!Inside(region)) return false;
        const auto at = bytes_.begin() + static_cast<std::ptrdiff_t>(region.address - kBase);
        into.insert(into.end(), at, at + static_cast<std::ptrdiff_t>(region.size));
        return true;
    }
    bool Inside(const CorvaneI2cDev::ClientRegion& region) const {
        return region.address >= kBase && region.size <= kMemory &&
               region.address - kBase <= kMemory - region.size;
    }
    void Store(const CorvaneI2cDev::ClientRegion& region, const std::uint8_t* from,
               std::size_t size) {
        std::copy(from, from + size,
                  bytes_.begin() + static_cast<std::ptrdiff_t>(region.address - kBase));
    }
    // A client that rewrites its structures while the kernel asks again.
    void Change(std::size_t step) {
        bytes_[(step * 37) % 64] ^= static_cast<std::uint8_t>(step + 1);
    }

  private:
    std::vector<std::uint8_t> bytes_;
};

// One ioctl as the kernel carries it out: the result, or -errno.
long Ioctl(CorvaneI2cDev::OpenFile& file, std::uint32_t command, std::uint64_t arg, ClientAbi abi,
           Memory& memory, bool changing) {
    std::vector<std::uint8_t> in;
    std::vector<CorvaneI2cDev::ClientRegion> store;
    std::size_t outSize = 0;
    for (std::size_t step = 0; step < 16; ++step) {
        const IoctlReply reply = TheBench().adapter->Ioctl(file, command, arg, abi, in, outSize);
        if (!reply.retry) {
            if (reply.error != 0) return -reply.error;
            if (reply.result < 0 || reply.out.size() > outSize) std::abort();
            std::size_t at = 0;
            for (const auto& region : store) {
                const std::size_t n = std::min(region.size, reply.out.size() - at);
                memory.Store(region, reply.out.data() + at, n);
                at += n;
            }
            return reply.result;
        }
        if (reply.fetch.size() + reply.store.size() > kMaxRegions) std::abort();
        in.clear();
        outSize = 0;
        for (const auto& region : reply.fetch) {
            if (region.size > I2cDevAdapter::kMaxRegionBytes) std::abort();
            if (!memory.Fetch(region, in)) return -EFAULT;
        }
        for (const auto& region : reply.store) {
            if (!memory.Inside(region)) return -EFAULT;
            outSize += region.size;
        }
        if (in.size() > I2cDevAdapter::kMaxRegionBytes || in.size() > kKernelRoom ||
            outSize > I2cDevAdapter::kMaxRegionBytes) {
            std::abort();
        }
        store = reply.store;
        if (changing) memory.Change(step);
    }
    return -EINTR;  // a client that never holds still
}

// Writes the refused requests of the test table as inputs: each row's
// ioctl, argument and the client memory it built.
class SeedClient : public I2cDevRequests::Client {
  public:
    explicit SeedClient(ClientAbi abi)
        : I2cDevRequests::Client(abi == ClientAbi::Bits32 ? 4 : 8), abi_(abi) {}
    long Ioctl(std::uint32_t command, std::uint64_t arg) override {
        command_ = command;
        arg_ = arg;
        return 0;
    }
    std::uint8_t* New(std::size_t size, std::uint8_t fill) override {
        used_ = (used_ + 7) / 8 * 8;
        if (used_ + size > kMemory) {  // a row larger than an input's memory
            fits = false;
            spill_.assign(size, fill);
            return spill_.data();
        }
        std::uint8_t* bytes = memory_.data() + used_;
        std::fill(bytes, bytes + size, fill);
        used_ += size;
        return bytes;
    }
    std::uint64_t ClientAddress(const void* pointer) const override {
        if (pointer == nullptr) return 0;
        return kBase + static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(pointer) -
                                                  memory_.data());
    }
    std::vector<std::uint8_t> Input() const {
        std::vector<std::uint8_t> input(kHead);
        const auto op =
            std::find(std::begin(kCommands), std::end(kCommands), command_) - std::begin(kCommands);
        input[0] = static_cast<std::uint8_t>(op);
        input[1] = abi_ == ClientAbi::Bits32 ? 1 : 0;
        input[2] = I2cDevRequests::kEeprom;
        std::uint64_t arg = arg_;
        if (arg >= kBase && arg < kBase + kMemory) {  // a pointer into the memory
            input[1] |= 4;
            arg -= kBase;
        }
        for (int i = 0; i < 4; ++i)
            input[3 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(arg >> (8 * i));
        input.insert(input.end(), memory_.begin(),
                     memory_.begin() + static_cast<std::ptrdiff_t>(used_));
        return input;
    }

    bool fits = true;

  private:
    ClientAbi abi_;
    std::vector<std::uint8_t> spill_;
    std::uint32_t command_ = 0;
    std::uint64_t arg_ = 0;
    std::vector<std::uint8_t> memory_ = std::vector<std::uint8_t>(kMemory);
    std::size_t used_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* seeds = std::getenv("CORVANE_FUZZ_SEEDS");
    if (seeds == nullptr) return 0;
    int n = 0;
    for (const ClientAbi abi : {ClientAbi::Native, ClientAbi::Bits32}) {
        for (const I2cDevRequests::Row& row : I2cDevRequests::Rows()) {
            SeedClient client(abi);
            row.request(client);
            if (!client.fits) continue;
            const std::vector<std::uint8_t> input = client.Input();
            std::ofstream(std::string(seeds) + "/table-" + std::to_string(n++), std::ios::binary)
                .write(reinterpret_cast<const char*>(input.data()),
                       static_cast<std::streamsize>(input.size()));
        }
    }
    std::exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHead) return 0;
    Bench& bench = TheBench();
    const std::size_t operation = data[0] % kOperations;
    const ClientAbi abi = (data[1] & 1) != 0 ? ClientAbi::Bits32 : ClientAbi::Native;
    const bool pec = (data[1] & 2) != 0, pointer = (data[1] & 4) != 0,
               changing = (data[1] & 8) != 0;
    std::uint64_t arg = 0;
    for (std::size_t i = 0; i < 4; ++i) arg |= std::uint64_t{data[3 + i]} << (8 * i);
    if (pointer) arg = kBase + (arg & 0xFFFF);
    Memory memory(data + kHead, size - kHead);

    CorvaneI2cDev::OpenFile file;
    file.address = data[2] & 0x7F;
    file.pec = pec;
    bench.host->ClearTrace();
    long result = 0;
    if (operation < std::size(kCommands)) {
        result = Ioctl(file, kCommands[operation], arg, abi, memory, changing);
    } else if (operation == std::size(kCommands)) {
        result = Ioctl(file, static_cast<std::uint32_t>(arg), arg, abi, memory, changing);
    } else {
        std::vector<std::uint8_t> bytes(std::min<std::size_t>(arg & 0x3FFF, size - kHead));
        std::copy(data + kHead, data + kHead + bytes.size(), bytes.begin());
        const bool read = operation == std::size(kCommands) + 1;
        result = read ? bench.adapter->Read(file, bytes) : bench.adapter->Write(file, bytes);
        if (result > static_cast<long>(bytes.size())) std::abort();
    }
    if (result >= 0) return 0;
    static const std::set<long> kErrors = {EINVAL,  EFAULT, ENOTTY,    EOPNOTSUPP, ENXIO, EPROTO,
                                           EBADMSG, EIO,    ETIMEDOUT, ENODEV,     EINTR};
    if (kErrors.count(-result) == 0) std::abort();
    // A request refused for what it is sends nothing to the bridge.
    const bool refused =
        result == -EINVAL || result == -EFAULT || result == -ENOTTY || result == -EOPNOTSUPP;
    if (refused && !bench.host->Trace().empty()) std::abort();
    return 0;
}
