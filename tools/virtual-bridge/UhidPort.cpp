// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <corvane/Utf.hpp>
#include "Port.hpp"

namespace VirtualBridge {

namespace {

void CopyText(std::uint8_t* field, std::size_t capacity, const std::string& text) {
    std::memcpy(field, text.data(), std::min(text.size(), capacity - 1));
}

class UhidPort final : public Port {
  public:
    explicit UhidPort(int index) : index_(index) {}
    ~UhidPort() override { Remove(); }

    void Enumerate(const UsbEnumeration& identity) override {
        Remove();
        fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) {
            throw PortError(std::string("cannot open /dev/uhid: ") + std::strerror(errno) +
                            " (module uhid, root or the uhid group)");
        }
        uhid_event event{};
        event.type = UHID_CREATE2;
        auto& create = event.u.create2;
        CopyText(create.name, sizeof create.name,
                 Corvane::Utf16ToUtf8(identity.manufacturer) + " " +
                     Corvane::Utf16ToUtf8(identity.product));
        CopyText(create.phys, sizeof create.phys,
                 "corvane-virtual-bridge/" + std::to_string(index_));
        if (identity.serialNumber) {
            CopyText(create.uniq, sizeof create.uniq, Corvane::Utf16ToUtf8(*identity.serialNumber));
        }
        const auto descriptor = Corvane::Sim::VirtualDevice::HidReportDescriptor();
        create.rd_size = static_cast<std::uint16_t>(descriptor.size());
        create.bus = 0x03;  // USB
        create.vendor = identity.vid;
        create.product = identity.pid;
        create.version = 0x0100;
        std::memcpy(create.rd_data, descriptor.data(), descriptor.size());
        if (!Send(event)) throw PortError("uhid refused the device");
        // Enumerated once a driver (hid-generic) started it.
        for (int waited = 0; waited < 100; ++waited) {
            pollfd fds{fd_, POLLIN, 0};
            if (::poll(&fds, 1, 100) <= 0) continue;
            uhid_event reply{};
            if (::read(fd_, &reply, sizeof reply) > 0 && reply.type == UHID_START) return;
        }
        throw PortError("no HID driver took the uhid device within 10 s (module hid-generic)");
    }

    void Remove() override {
        if (fd_ < 0) return;
        ::close(fd_);  // the kernel removes the device before close() returns
        fd_ = -1;
    }

    int Fd() const override { return fd_; }

    std::optional<Report> Read() override {
        uhid_event event{};
        const ssize_t n = ::read(fd_, &event, sizeof event);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) return std::nullopt;
            Remove();
            throw PortError("the uhid device went away");
        }
        switch (event.type) {
            case UHID_OUTPUT: {
                const std::uint8_t* data = event.u.output.data;  // the event is packed
                const std::size_t size =
                    std::min<std::size_t>(event.u.output.size, sizeof event.u.output.data);
                return ReportFromHost({data, size});
            }
            case UHID_GET_REPORT: {  // the chip has no feature reports
                uhid_event reply{};
                reply.type = UHID_GET_REPORT_REPLY;
                reply.u.get_report_reply.id = event.u.get_report.id;
                reply.u.get_report_reply.err = EIO;
                Send(reply);
                return std::nullopt;
            }
            case UHID_SET_REPORT: {
                uhid_event reply{};
                reply.type = UHID_SET_REPORT_REPLY;
                reply.u.set_report_reply.id = event.u.set_report.id;
                reply.u.set_report_reply.err = EIO;
                Send(reply);
                return std::nullopt;
            }
            default:  // START, STOP, OPEN, CLOSE
                return std::nullopt;
        }
    }

    bool Write(const Report& report) override {
        uhid_event input{};
        input.type = UHID_INPUT2;
        input.u.input2.size = static_cast<std::uint16_t>(report.size());
        std::memcpy(input.u.input2.data, report.data(), report.size());
        return Send(input);
    }

  private:
    bool Send(const uhid_event& event) const {
        return ::write(fd_, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
    }

    int index_;
    int fd_ = -1;
};

}  // namespace

std::unique_ptr<Port> MakeUhidPort(int index) {
    return std::make_unique<UhidPort>(index);
}

}  // namespace VirtualBridge
