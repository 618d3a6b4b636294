// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <corvane/Utf.hpp>
#include "Port.hpp"

namespace VirtualBridge {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kGadgets = "/sys/kernel/config/usb_gadget";
const fs::path kUdcs = "/sys/class/udc";

std::string ReadText(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    return text;
}

void WriteText(const fs::path& file, const std::string& text) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) >= 0;
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (!ok) throw PortError("cannot write " + file.string() + ": " + std::strerror(error));
}

std::string HexId(std::uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", id);
    return text;
}

// The UDCs that gadgets use now.
std::vector<std::string> BoundUdcs() {
    std::vector<std::string> bound;
    std::error_code error;
    for (const auto& gadget : fs::directory_iterator(kGadgets, error)) {
        const std::string udc = ReadText(gadget.path() / "UDC");
        if (!udc.empty()) bound.push_back(udc);
    }
    return bound;
}

class GadgetPort final : public Port {
  public:
    GadgetPort(int index, std::string udc)
        : udc_(std::move(udc)),
          gadget_(kGadgets / ("corvane-virtual-bridge-" + std::to_string(index))) {
        if (!fs::is_directory(kGadgets)) {
            throw PortError(
                "no USB gadget configfs at " + kGadgets.string() +
                " (modules libcomposite and usb_f_hid; mount -t configfs none /sys/kernel/config)");
        }
        // What a killed earlier run left behind.
        if (fs::exists(gadget_)) TearDown();
    }
    ~GadgetPort() override {
        try {
            TearDown();
        } catch (const PortError&) {
            // Leaving at exit: what cannot be removed stays for the next run's clean-up.
        }
    }

    void Enumerate(const UsbEnumeration& identity) override {
        Unbind();
        Build(identity);
        Bind();
        // Enumerated once the host has set a configuration.
        const fs::path state = kUdcs / udc_ / "state";
        for (int waited = 0; waited < 200; ++waited) {
            if (ReadText(state) == "configured") {
                if (OpenNode()) return;
            }
            std::this_thread::sleep_for(50ms);
        }
        throw PortError("the host did not configure the gadget on " + udc_ + " within 10 s");
    }

    void Remove() override {
        CloseNode();
        Unbind();
    }

    int Fd() const override { return fd_; }

    std::optional<Report> Read() override {
        std::array<std::uint8_t, 65> bytes{};
        const ssize_t n = ::read(fd_, bytes.data(), bytes.size());
        if (n > 0) return ReportFromHost(std::span(bytes).first(static_cast<std::size_t>(n)));
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return std::nullopt;
        // Unbound or disconnected under us (ESHUTDOWN and friends).
        CloseNode();
        throw PortError("the gadget on " + udc_ + " went away");
    }

    bool Write(const Report& report) override {
        // The host polls the IN endpoint: a full queue passes in a frame or two.
        for (int tries = 0; tries < 200; ++tries) {
            const ssize_t n = ::write(fd_, report.data(), report.size());
            if (n == static_cast<ssize_t>(report.size())) return true;
            if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }

    bool Recover() override {
        if (ReadText(gadget_ / "UDC").empty() || ReadText(kUdcs / udc_ / "state") != "configured") {
            return false;
        }
        return OpenNode();
    }

    const std::string& Udc() const { return udc_; }

  private:
    void Build(const UsbEnumeration& identity) {
        const fs::path strings = gadget_ / "strings/0x409";
        const fs::path config = gadget_ / "configs/c.1";
        const fs::path function = gadget_ / "functions/hid.usb0";
        std::error_code error;
        for (const fs::path& dir : {gadget_, strings, config, config / "strings/0x409", function}) {
            fs::create_directories(dir, error);
            if (error) throw PortError("cannot create " + dir.string() + ": " + error.message());
        }
        WriteText(gadget_ / "idVendor", HexId(identity.vid));
        WriteText(gadget_ / "idProduct", HexId(identity.pid));
        WriteText(gadget_ / "bcdDevice", "0x0100");
        WriteText(gadget_ / "bcdUSB", "0x0200");
        WriteText(strings / "manufacturer", Corvane::Utf16ToUtf8(identity.manufacturer));
        WriteText(strings / "product", Corvane::Utf16ToUtf8(identity.product));
        // An empty string reads as no serial number on the host: the chip with
        // serial-number enumeration off.
        WriteText(strings / "serialnumber",
                  identity.serialNumber ? Corvane::Utf16ToUtf8(*identity.serialNumber) : "\n");
        WriteText(config / "bmAttributes", HexId(identity.powerAttributes | 0x80));
        WriteText(config / "MaxPower", std::to_string(identity.maxPowerMa));
        WriteText(config / "strings/0x409/configuration", "Corvane");
        if (!fs::exists(config / "hid.usb0")) {
            WriteText(function / "protocol", "0");
            WriteText(function / "subclass", "0");
            WriteText(function / "report_length", "64");
            std::ofstream descriptor(function / "report_desc", std::ios::binary);
            const auto report = Corvane::Sim::VirtualDevice::HidReportDescriptor();
            descriptor.write(reinterpret_cast<const char*>(report.data()),
                             static_cast<std::streamsize>(report.size()));
            if (!descriptor.flush()) throw PortError("cannot write the report descriptor");
            fs::create_directory_symlink(function, config / "hid.usb0", error);
            if (error) throw PortError("cannot link the HID function: " + error.message());
        }
    }

    void Bind() {
        if (udc_.empty()) udc_ = FreeUdc();
        WriteText(gadget_ / "UDC", udc_);
    }

    void Unbind() {
        CloseNode();
        if (fs::exists(gadget_ / "UDC") && !ReadText(gadget_ / "UDC").empty()) {
            WriteText(gadget_ / "UDC", "\n");
        }
    }

    std::string FreeUdc() const {
        const auto bound = BoundUdcs();
        std::vector<std::string> free;
        std::error_code error;
        for (const auto& udc : fs::directory_iterator(kUdcs, error)) {
            const std::string name = udc.path().filename();
            if (std::find(bound.begin(), bound.end(), name) == bound.end()) free.push_back(name);
        }
        std::sort(free.begin(), free.end());
        if (free.empty()) {
            throw PortError("no free USB device controller in " + kUdcs.string() +
                            " (module dummy_hcd, num=N for N bridges)");
        }
        return free.front();
    }

    // /dev/hidgN of the function, found by its device number.
    bool OpenNode() {
        if (fd_ >= 0) return true;
        unsigned major = 0;
        unsigned minor = 0;
        char colon = 0;
        std::istringstream(ReadText(gadget_ / "functions/hid.usb0/dev")) >> major >> colon >> minor;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator("/dev", error)) {
            if (entry.path().filename().string().rfind("hidg", 0) != 0) continue;
            struct stat info {};
            if (::stat(entry.path().c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) continue;
            if (::major(info.st_rdev) != major || ::minor(info.st_rdev) != minor) continue;
            fd_ = ::open(entry.path().c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
            return fd_ >= 0;
        }
        return false;
    }

    void CloseNode() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    void TearDown() {
        Unbind();
        std::error_code error;
        const fs::path config = gadget_ / "configs/c.1";
        fs::remove(config / "hid.usb0", error);
        for (const fs::path& dir :
             {config / "strings/0x409", config, gadget_ / "functions/hid.usb0",
              gadget_ / "strings/0x409", gadget_}) {
            // configfs takes rmdir only; the attribute files go with their folder.
            if (fs::exists(dir) && ::rmdir(dir.c_str()) != 0) {
                throw PortError("cannot remove " + dir.string() + ": " + std::strerror(errno));
            }
        }
    }

    std::string udc_;
    fs::path gadget_;
    int fd_ = -1;
};

}  // namespace

std::unique_ptr<Port> MakeGadgetPort(int index, const std::string& udc) {
    return std::make_unique<GadgetPort>(index, udc);
}

}  // namespace VirtualBridge
