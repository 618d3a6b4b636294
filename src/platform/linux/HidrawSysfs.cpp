// SPDX-License-Identifier: MIT
#include "platform/linux/HidrawSysfs.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <span>

namespace Corvane {

namespace {

// Reads a small file relative to `dirFd` into `buffer`: a sysfs attribute
// (at most a page, all of it delivered by the first read) or a regular file.
// Nothing when it cannot be opened or read.
std::optional<std::string_view> ReadSmall(int dirFd, const char* path, std::span<char> buffer) {
    int fd = -1;
    do {
        fd = ::openat(dirFd, path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return std::nullopt;
    std::size_t filled = 0;
    bool failed = false;
    while (filled < buffer.size()) {
        const std::size_t wanted = buffer.size() - filled;
        const ssize_t n = ::read(fd, buffer.data() + filled, wanted);
        if (n < 0 && errno == EINTR) continue;
        failed = n < 0;
        if (n <= 0) break;
        filled += static_cast<std::size_t>(n);
        // A short read is the end: spares the read that would return 0.
        if (static_cast<std::size_t>(n) < wanted) break;
    }
    ::close(fd);
    if (failed) return std::nullopt;
    return std::string_view(buffer.data(), filled);
}

std::optional<std::uint32_t> ParseHex(std::string_view text) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, 16);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return value;
}

std::string_view TrimLineEnd(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.remove_suffix(1);
    }
    return text;
}

// "0003:00003A7C:000001D5": bus, vendor, product.
void ParseHidId(std::string_view value, HidrawNode& node) {
    const std::size_t first = value.find(':');
    const std::size_t second = first == std::string_view::npos ? first : value.find(':', first + 1);
    if (second == std::string_view::npos) return;
    const auto bus = ParseHex(value.substr(0, first));
    const auto vendor = ParseHex(value.substr(first + 1, second - first - 1));
    const auto product = ParseHex(value.substr(second + 1));
    if (!bus || !vendor || !product) return;
    node.hasId = true;
    node.bus = *bus;
    node.vendor = *vendor;
    node.product = *product;
}

std::optional<unsigned> HidrawNumber(std::string_view name) {
    constexpr std::string_view kPrefix = "hidraw";
    if (name.size() <= kPrefix.size() || !name.starts_with(kPrefix)) {
        return std::nullopt;
    }
    unsigned number = 0;
    const char* begin = name.data() + kPrefix.size();
    const char* end = name.data() + name.size();
    const auto [ptr, ec] = std::from_chars(begin, end, number, 10);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return number;
}

void AppendHex4(std::string& out, std::uint32_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    int digits = 4;
    while (digits < 8 && (value >> (4 * digits)) != 0) ++digits;
    for (int i = digits - 1; i >= 0; --i) out.push_back(kDigits[(value >> (4 * i)) & 0xF]);
}

// The IDs of class entry `name`: from the uevent of its HID device and, for
// a USB device, the number of the USB interface that device sits on. Paths
// relative to the class directory: one system call chain per file.
void ReadNodeIds(int classFd, std::string_view name, HidrawNode& node) {
    std::array<char, 64> path{};
    constexpr std::string_view kUevent = "/device/uevent";
    constexpr std::string_view kInterface = "/device/../bInterfaceNumber";
    if (name.size() + kInterface.size() >= path.size()) return;
    const auto tail = std::copy(name.begin(), name.end(), path.begin());
    std::array<char, 4096> text;
    *std::copy(kUevent.begin(), kUevent.end(), tail) = '\0';
    if (const auto uevent = ReadSmall(classFd, path.data(), text)) ParseHidUevent(*uevent, node);
    constexpr std::uint32_t kBusUsb = 0x0003;
    if (!node.hasId || node.bus != kBusUsb) return;
    *std::copy(kInterface.begin(), kInterface.end(), tail) = '\0';
    if (const auto number = ReadSmall(classFd, path.data(), text)) {
        if (const auto value = ParseHex(TrimLineEnd(*number)); value && *value <= 0xFF) {
            node.interfaceNumber = *value;
        }
    }
}

}  // namespace

void ParseHidUevent(std::string_view text, HidrawNode& node) {
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = TrimLineEnd(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, eq);
        const std::string_view value = line.substr(eq + 1);
        if (key == "HID_ID") {
            ParseHidId(value, node);
        } else if (key == "HID_NAME") {
            node.name = value;
        } else if (key == "HID_UNIQ") {
            node.serialNumber = value;
        }
    }
}

std::string HardwareId(const HidrawNode& node) {
    if (!node.hasId) return {};
    std::string id = "HID\\VID_";
    AppendHex4(id, node.vendor);
    id += "&PID_";
    AppendHex4(id, node.product);
    if (node.interfaceNumber) {
        id += "&MI_";
        static constexpr char kDigits[] = "0123456789ABCDEF";
        id.push_back(kDigits[(*node.interfaceNumber >> 4) & 0xF]);
        id.push_back(kDigits[*node.interfaceNumber & 0xF]);
    }
    return id;
}

std::vector<HidrawNode> ListHidrawNodes(const std::string& sysRoot, const std::string& devRoot,
                                        HidrawNodeCache* cache) {
    std::vector<HidrawNode> nodes;
    const int classFd =
        ::open((sysRoot + "/class/hidraw").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (classFd < 0) {
        if (cache) cache->clear();
        return nodes;
    }
    DIR* dir = ::fdopendir(classFd);
    if (dir == nullptr) {
        ::close(classFd);
        return nodes;
    }
    HidrawNodeCache seen;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        const auto number = HidrawNumber(name);
        if (!number) continue;
        const std::uint64_t inode = entry->d_ino;
        if (cache) {
            const auto known = cache->find(*number);
            if (known != cache->end() && inode != 0 && known->second.first == inode) {
                nodes.push_back(known->second.second);
                seen.emplace(*number, std::move(known->second));
                continue;
            }
        }
        HidrawNode node;
        node.number = *number;
        node.devicePath.reserve(devRoot.size() + 1 + name.size());
        node.devicePath.append(devRoot).append("/").append(name);
        ReadNodeIds(classFd, name, node);
        if (cache && inode != 0) seen.emplace(*number, std::pair(inode, node));
        nodes.push_back(std::move(node));
    }
    ::closedir(dir);  // closes classFd
    if (cache) *cache = std::move(seen);
    std::sort(nodes.begin(), nodes.end(),
              [](const HidrawNode& a, const HidrawNode& b) { return a.number < b.number; });
    return nodes;
}

std::optional<unsigned> HidrawNodeNumber(std::string_view devicePath) {
    const std::size_t slash = devicePath.rfind('/');
    return HidrawNumber(devicePath.substr(slash == std::string_view::npos ? 0 : slash + 1));
}

bool IsUhidNode(const std::string& sysRoot, const std::string& devicePath) {
    if (!HidrawNodeNumber(devicePath)) return false;
    const std::string_view name = std::string_view(devicePath).substr(devicePath.rfind('/') + 1);
    // The HID device of a uhid node lives below the uhid misc device,
    // .../virtual/misc/uhid/<bus:vid:pid.n>: compare that parent by identity.
    struct stat parent {};
    struct stat uhid {};
    const std::string node = sysRoot + "/class/hidraw/" + std::string(name);
    return ::stat((node + "/device/..").c_str(), &parent) == 0 &&
           ::stat((sysRoot + "/devices/virtual/misc/uhid").c_str(), &uhid) == 0 &&
           parent.st_dev == uhid.st_dev && parent.st_ino == uhid.st_ino;
}

}  // namespace Corvane
