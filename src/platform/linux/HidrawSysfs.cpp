#include "platform/linux/HidrawSysfs.hpp"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace Corvane {

namespace {

std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return text;
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

std::optional<unsigned> HidrawNumber(const std::string& name) {
    constexpr std::string_view kPrefix = "hidraw";
    if (name.size() <= kPrefix.size() || name.compare(0, kPrefix.size(), kPrefix) != 0) {
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

std::vector<HidrawNode> ListHidrawNodes(const std::string& sysRoot, const std::string& devRoot) {
    namespace fs = std::filesystem;
    const std::string classDir = sysRoot + "/class/hidraw";
    std::vector<HidrawNode> nodes;
    std::error_code ec;
    for (fs::directory_iterator it(classDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const auto number = HidrawNumber(name);
        if (!number) continue;
        HidrawNode node;
        node.number = *number;
        node.devicePath = devRoot + "/" + name;
        // `device` is the HID device; for USB its parent directory is the interface.
        const std::string device = classDir + "/" + name + "/device";
        if (const auto uevent = ReadFile(device + "/uevent")) ParseHidUevent(*uevent, node);
        if (const auto text = ReadFile(device + "/../bInterfaceNumber")) {
            if (const auto value = ParseHex(TrimLineEnd(*text)); value && *value <= 0xFF) {
                node.interfaceNumber = *value;
            }
        }
        nodes.push_back(std::move(node));
    }
    std::sort(nodes.begin(), nodes.end(),
              [](const HidrawNode& a, const HidrawNode& b) { return a.number < b.number; });
    return nodes;
}

bool IsUhidNode(const std::string& sysRoot, const std::string& devicePath) {
    namespace fs = std::filesystem;
    const std::string name = fs::path(devicePath).filename().string();
    if (!HidrawNumber(name)) return false;
    std::error_code ec;
    // The HID device of a uhid node lives in .../virtual/misc/uhid/<bus:vid:pid.n>.
    const fs::path device = fs::canonical(sysRoot + "/class/hidraw/" + name + "/device", ec);
    return !ec && device.parent_path().filename() == "uhid";
}

}  // namespace Corvane
