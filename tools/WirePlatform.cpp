#include "WirePlatform.hpp"

#include <utility>

namespace CorvaneTool {

namespace {

constexpr std::uint8_t kStatusCommand = 0x10;
constexpr std::uint8_t kWriteFlash = 0xB1;
constexpr std::uint8_t kChipSettingsRecord = 0x00;
constexpr std::uint8_t kAccessPassword = 0xB2;

// Report bytes [first, last) that carry a password in a sent report.
std::pair<std::size_t, std::size_t> PasswordBytes(const std::uint8_t* report) {
    if (report[0] == kAccessPassword) return {2, 10};
    if (report[0] == kWriteFlash && report[1] == kChipSettingsRecord) return {12, 20};
    return {0, 0};
}

}  // namespace

WirePlatform::WirePlatform(std::shared_ptr<Corvane::Platform> inner, bool trace, std::FILE* out)
    : inner_(std::move(inner)), trace_(trace), out_(out) {}

std::optional<std::string> WirePlatform::TakeHardwareRevision() {
    std::lock_guard lock(mutex_);
    return std::exchange(hardwareRevision_, std::nullopt);
}

std::string WirePlatform::TraceLine(bool sent, const std::uint8_t* bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const auto [maskFrom, maskTo] =
        sent ? PasswordBytes(bytes) : std::pair<std::size_t, std::size_t>{};
    std::string line = sent ? ">" : "<";
    for (std::size_t i = 0; i < 64; ++i) {
        line += ' ';
        if (i >= maskFrom && i < maskTo) {
            line += "xx";
        } else {
            line += kDigits[bytes[i] >> 4];
            line += kDigits[bytes[i] & 0x0F];
        }
    }
    return line;
}

std::vector<Corvane::HidInterfaceInfo> WirePlatform::ListHidInterfaces() {
    return inner_->ListHidInterfaces();
}

Corvane::PlatformHandle WirePlatform::OpenChannel(const std::u16string& path,
                                                  Corvane::ChannelAccess access) {
    return inner_->OpenChannel(path, access);
}

Corvane::PlatformHandle WirePlatform::CreateTransferEvent() {
    return inner_->CreateTransferEvent();
}

Corvane::TransferOutcome WirePlatform::WriteReport(
    Corvane::PlatformHandle channel, Corvane::PlatformHandle event,
    std::span<const std::uint8_t, Corvane::kWireReportSize> report, std::uint32_t timeoutMs) {
    if (trace_) std::fprintf(out_, "%s\n", TraceLine(true, report.data() + 1).c_str());
    return inner_->WriteReport(channel, event, report, timeoutMs);
}

Corvane::TransferOutcome WirePlatform::ReadReport(
    Corvane::PlatformHandle channel, Corvane::PlatformHandle event,
    std::span<std::uint8_t, Corvane::kWireReportSize> report, std::uint32_t timeoutMs) {
    const Corvane::TransferOutcome outcome = inner_->ReadReport(channel, event, report, timeoutMs);
    if (outcome != Corvane::TransferOutcome::Done) return outcome;
    const std::uint8_t* bytes = report.data() + 1;
    if (trace_) std::fprintf(out_, "%s\n", TraceLine(false, bytes).c_str());
    // Status answers carry the hardware revision in bytes 46 and 47.
    if (bytes[0] == kStatusCommand && bytes[1] == 0 && bytes[46] != 0) {
        std::lock_guard lock(mutex_);
        hardwareRevision_ = std::string{static_cast<char>(bytes[46]), static_cast<char>(bytes[47])};
    }
    return outcome;
}

void WirePlatform::CancelTransfer(Corvane::PlatformHandle channel) {
    inner_->CancelTransfer(channel);
}

void WirePlatform::CloseHandle(Corvane::PlatformHandle handle) {
    inner_->CloseHandle(handle);
}

void WirePlatform::SleepMs(std::uint32_t ms) {
    inner_->SleepMs(ms);
}

}  // namespace CorvaneTool
