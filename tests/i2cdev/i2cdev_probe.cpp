// SPDX-License-Identifier: MIT
// A plain i2c-dev client, built as a 64-bit and as a 32-bit program, for the
// VM test: the daemon's node beside the kernel's own adapters.
//
//   i2cdev_probe compare KERNEL_NODE BRIDGE_NODE
//       runs the table of refused requests (RequestTable.hpp) on both nodes
//       and checks each errno against the table: the kernel's i2c-stub, and
//       the bridge, which answers as the kernel does except where a row says
//       why it cannot. One line per row; exit 1 when a row does not hold.
//   i2cdev_probe get NODE ADDR REG
//       what "i2cget -y BUS ADDR REG" does: I2C_FUNCS, I2C_SLAVE, byte data.

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "RequestTable.hpp"

namespace {

class NodeClient : public I2cDevRequests::Client {
  public:
    explicit NodeClient(const char* node) : Client(sizeof(void*)), fd_(open(node, O_RDWR)) {
        if (fd_ < 0) {
            std::perror(node);
            std::exit(2);
        }
    }
    ~NodeClient() override { close(fd_); }
    NodeClient(const NodeClient&) = delete;
    NodeClient& operator=(const NodeClient&) = delete;

    using Client::Ioctl;
    long Ioctl(std::uint32_t command, std::uint64_t arg) override {
        const int result = ioctl(fd_, command, static_cast<unsigned long>(arg));
        return result < 0 ? -errno : result;
    }
    std::uint8_t* New(std::size_t size, std::uint8_t fill) override {
        return buffers_.emplace_back(size, fill).data();
    }

  private:
    int fd_;
    std::deque<std::vector<std::uint8_t>> buffers_;
};

// The errno of one row on a fresh open file whose address is the EEPROM's.
int Errno(const char* node, const I2cDevRequests::Row& row) {
    NodeClient client(node);
    if (client.Ioctl(I2C_SLAVE, std::uint64_t{I2cDevRequests::kEeprom}) != 0) return -1;
    const long result = row.request(client);
    return result < 0 ? static_cast<int>(-result) : 0;
}

std::string Name(int error) {
    return error == 0 ? "0" : error < 0 ? "no I2C_SLAVE" : strerrorname_np(error);
}

int Compare(const char* kernelNode, const char* bridgeNode) {
    const char* bits = sizeof(void*) == 4 ? "32-bit" : "64-bit";
    int failures = 0;
    for (const I2cDevRequests::Row& row : I2cDevRequests::Rows()) {
        const int kernel = Errno(kernelNode, row), bridge = Errno(bridgeNode, row);
        const int kernelWanted =
            row.stub == I2cDevRequests::kRdwrOnSmbusOnly ? EOPNOTSUPP : row.stub;
        const bool ok = kernel == kernelWanted && bridge == row.bridge;
        failures += ok ? 0 : 1;
        std::printf(
            "%s %s %s: i2c-stub %s, bridge %s%s\n", ok ? "ok  " : "FAIL", bits, row.name,
            Name(kernel).c_str(), Name(bridge).c_str(),
            ok ? (kernel == bridge ? "" : " (differs, as listed)")
               : (" (wanted " + Name(kernelWanted) + ", " + Name(row.bridge) + ")").c_str());
    }
    return failures == 0 ? 0 : 1;
}

int Get(const char* node, const char* address, const char* reg) {
    NodeClient client(node);
    unsigned long functionality = 0;
    if (client.Ioctl(I2C_FUNCS, &functionality) != 0 ||
        (functionality & I2C_FUNC_SMBUS_READ_BYTE_DATA) == 0) {
        std::fprintf(stderr, "Error: Adapter does not have byte data read capability\n");
        return 1;
    }
    if (client.Ioctl(I2C_SLAVE, std::strtoull(address, nullptr, 0)) != 0) return 1;
    std::uint8_t* data = client.New(sizeof(i2c_smbus_data), 0);
    const long result =
        client.Smbus(I2C_SMBUS_READ, static_cast<std::uint8_t>(std::strtoul(reg, nullptr, 0)),
                     I2C_SMBUS_BYTE_DATA, data);
    if (result < 0) {
        std::fprintf(stderr, "Error: Read failed: %s\n", std::strerror(static_cast<int>(-result)));
        return 2;
    }
    std::printf("0x%02x\n", data[0]);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "compare") == 0) return Compare(argv[2], argv[3]);
    if (argc == 5 && std::strcmp(argv[1], "get") == 0) return Get(argv[2], argv[3], argv[4]);
    std::fprintf(stderr, "usage: %s compare KERNEL_NODE BRIDGE_NODE | get NODE ADDR REG\n",
                 argv[0]);
    return 2;
}
