#pragma once

#include <corvane/Platform.hpp>

#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace CorvaneTool {

// Sits between the library and the real platform (the operating system's or
// the simulated host) and passes every call through. With tracing on it
// prints each report that crosses on `out`: "> " for sent, "< " for received,
// then the 64 report bytes as lowercase hex. Password bytes are printed as
// "xx": the tool never shows a password.
//
// It also keeps the hardware revision from the status answers it sees; the
// library reports only the firmware revision.
class WirePlatform : public Corvane::Platform {
  public:
    WirePlatform(std::shared_ptr<Corvane::Platform> inner, bool trace, std::FILE* out = stderr);

    // The hardware revision of the last status answer, if one came since the
    // last call.
    std::optional<std::string> TakeHardwareRevision();

    // The trace line of one report (report ID removed).
    static std::string TraceLine(bool sent, const std::uint8_t* bytes);

    std::vector<Corvane::HidInterfaceInfo> ListHidInterfaces() override;
    Corvane::PlatformHandle OpenChannel(const std::u16string& path,
                                        Corvane::ChannelAccess access) override;
    Corvane::PlatformHandle CreateTransferEvent() override;
    Corvane::TransferOutcome WriteReport(
        Corvane::PlatformHandle channel, Corvane::PlatformHandle event,
        std::span<const std::uint8_t, Corvane::kWireReportSize> report,
        std::uint32_t timeoutMs) override;
    Corvane::TransferOutcome ReadReport(Corvane::PlatformHandle channel,
                                        Corvane::PlatformHandle event,
                                        std::span<std::uint8_t, Corvane::kWireReportSize> report,
                                        std::uint32_t timeoutMs) override;
    void CancelTransfer(Corvane::PlatformHandle channel) override;
    void CloseHandle(Corvane::PlatformHandle handle) override;
    void SleepMs(std::uint32_t ms) override;

  private:
    std::shared_ptr<Corvane::Platform> inner_;
    bool trace_;
    std::FILE* out_;
    mutable std::mutex mutex_;
    std::optional<std::string> hardwareRevision_;
};

}  // namespace CorvaneTool
