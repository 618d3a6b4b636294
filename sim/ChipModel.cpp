// SPDX-License-Identifier: MIT
#include "ChipModel.hpp"

#include <algorithm>

namespace Corvane::Sim {

namespace {

// Status bytes the chip answers with.
constexpr std::uint8_t kNotSupported = 0x01;
constexpr std::uint8_t kFlashLocked = 0x02;
constexpr std::uint8_t kPasswordWrong = 0x03;
constexpr std::uint8_t kTooManyAttempts = 0x04;

constexpr int kMaxWrongPasswords = 3;

// Indices into the chip settings record.
constexpr std::size_t kChipByte = 0;
constexpr std::size_t kClockByte = 1;
constexpr std::size_t kDacByte = 2;
constexpr std::size_t kInterruptAdcByte = 3;
constexpr std::size_t kVid = 4;
constexpr std::size_t kPid = 6;
constexpr std::size_t kPowerAttributes = 8;
constexpr std::size_t kCurrent = 9;

template <typename T>
std::uint8_t U8(T value) {
    return static_cast<std::uint8_t>(static_cast<unsigned>(value) & 0xFFu);
}

std::uint16_t ReferenceMillivolts(unsigned code) {
    switch (code) {
        case 3:
            return 1024;
        case 5:
            return 2048;
        case 7:
            return 4096;
        default:
            return 3300;  // supply voltage
    }
}

// The string record of a flash sub-code (2, 3 or 4).
template <typename Flash>
auto& StringRecord(Flash& flash, std::uint8_t subCode) {
    switch (subCode) {
        case 2:
            return flash.manufacturer;
        case 3:
            return flash.product;
        default:
            return flash.serialNumber;
    }
}

}  // namespace

ChipModel::ChipModel(std::uint16_t vid, std::uint16_t pid, std::u16string serialNumber) {
    flash_.chipSettings = {0x80,  // serial number enumerated, no protection
                           0x0A,  // clock output: duty code 1, divider code 2
                           0x00, 0x00, U8(vid), U8(vid >> 8u), U8(pid), U8(pid >> 8u),
                           0x80,                   // bus powered
                           50};                    // 100 mA
    flash_.gpSettings = {0x08, 0x08, 0x08, 0x08};  // GPIO inputs
    flash_.manufacturer = u"Corvane Systems";
    flash_.product = u"Corvane USB-I2C Bridge";
    flash_.serialNumber = std::move(serialNumber);
    PowerUp();
}

void ChipModel::PowerUp() {
    std::copy(flash_.chipSettings.begin(), flash_.chipSettings.end(), sramChip_.begin());
    sramGp_ = flash_.gpSettings;
    enumeration_.vid = static_cast<std::uint16_t>(flash_.chipSettings[kVid] |
                                                  (flash_.chipSettings[kVid + 1] << 8));
    enumeration_.pid = static_cast<std::uint16_t>(flash_.chipSettings[kPid] |
                                                  (flash_.chipSettings[kPid + 1] << 8));
    enumeration_.powerAttributes = flash_.chipSettings[kPowerAttributes];
    enumeration_.maxPowerMa = static_cast<std::uint16_t>(flash_.chipSettings[kCurrent] * 2);
    enumeration_.manufacturer = flash_.manufacturer;
    enumeration_.product = flash_.product;
    enumeration_.serialNumber.reset();
    if (flash_.chipSettings[kChipByte] & 0x80) enumeration_.serialNumber = flash_.serialNumber;
    interruptFlag_ = false;
    passwordEntered_ = false;
    wrongPasswords_ = 0;
    engine_.Reset();
}

ChipModel::Powered ChipModel::KeptWhilePowered() const {
    return {enumeration_, passwordEntered_, wrongPasswords_, interruptFlag_};
}

void ChipModel::RestoreKeptWhilePowered(const Powered& kept) {
    enumeration_ = kept.enumeration;
    passwordEntered_ = kept.passwordEntered;
    wrongPasswords_ = std::clamp(kept.wrongPasswords, 0, kMaxWrongPasswords);
    interruptFlag_ = kept.interruptFlag;
}

std::optional<Report> ChipModel::Execute(const Report& command, std::chrono::microseconds now,
                                         bool& resetRequested) {
    Report response{};
    response[0] = command[0];
    switch (command[0]) {
        case 0x10:
            FillStatus(response);
            engine_.HandleStatus(command, response, now);
            break;
        case 0x90:
        case 0x91:
        case 0x93:
        case 0x94:
        case 0x40:
            engine_.HandleBusCommand(command, response, now);
            break;
        case 0x50:
            WriteGpio(command);
            break;
        case 0x51:
            ReadGpio(response);
            break;
        case 0x60:
            WriteSram(command);
            break;
        case 0x61:
            ReadSram(response);
            break;
        case 0x70:
            if (command[1] == 0xAB && command[2] == 0xCD && command[3] == 0xEF) {
                PowerUp();
                resetRequested = true;
                return std::nullopt;
            }
            response[1] = kNotSupported;
            break;
        case 0xB0:
            ReadFlash(command, response);
            break;
        case 0xB1:
            WriteFlash(command, response);
            break;
        case 0xB2:
            SendPassword(command, response);
            break;
        default:
            response[1] = kNotSupported;
            break;
    }
    return response;
}

void ChipModel::FillStatus(Report& response) const {
    response[46] = static_cast<std::uint8_t>(hardware_[0]);
    response[47] = static_cast<std::uint8_t>(hardware_[1]);
    response[48] = static_cast<std::uint8_t>(firmware_[0]);
    response[49] = static_cast<std::uint8_t>(firmware_[1]);
    for (unsigned k = 0; k < 3; ++k) {
        const std::uint16_t reading = AdcReading(k);
        response[50 + 2 * k] = U8(reading);
        response[51 + 2 * k] = U8(reading >> 8u);
    }
    response[24] = interruptFlag_ ? 1 : 0;  // not interpreted by the library
}

void ChipModel::ReadFlash(const Report& command, Report& response) const {
    const std::uint8_t subCode = command[1];
    switch (subCode) {
        case 0:
            std::copy(flash_.chipSettings.begin(), flash_.chipSettings.end(), response.begin() + 4);
            break;
        case 1:
            std::copy(flash_.gpSettings.begin(), flash_.gpSettings.end(), response.begin() + 4);
            break;
        case 2:
        case 3:
        case 4: {
            const std::u16string& text = StringRecord(flash_, subCode);
            response[2] = U8(2 * text.size() + 2);
            response[3] = 0x03;
            for (std::size_t k = 0; k < text.size(); ++k) {
                response[4 + 2 * k] = U8(text[k]);
                response[5 + 2 * k] = U8(static_cast<unsigned>(text[k]) >> 8u);
            }
            break;
        }
        default:
            response[1] = kNotSupported;
            break;
    }
}

std::uint8_t ChipModel::FlashWriteRefusal(bool carriesPassword) const {
    const std::uint8_t protection = flash_.Protection();
    if (protection >= 2) return kFlashLocked;
    if (protection == 1 && !passwordEntered_ && !carriesPassword) return kPasswordWrong;
    return 0;
}

void ChipModel::WriteFlash(const Report& command, Report& response) {
    const std::uint8_t subCode = command[1];
    // Only the chip settings record has room for the password.
    const bool carriesPassword =
        subCode == 0 &&
        std::equal(flash_.password.begin(), flash_.password.end(), command.begin() + 12);
    if (subCode <= 4) {
        response[1] = FlashWriteRefusal(carriesPassword);
        if (response[1] != 0) return;
    }
    switch (subCode) {
        case 0: {
            std::copy(command.begin() + 2, command.begin() + 12, flash_.chipSettings.begin());
            // The new protection guards the flash at once; the run-time copy says so.
            sramChip_[kChipByte] = U8((sramChip_[kChipByte] & ~0x03u) | flash_.Protection());
            // Turning password protection on sets the password the write carries.
            if ((flash_.chipSettings[kChipByte] & 0x03) == 1) {
                std::copy(command.begin() + 12, command.begin() + 20, flash_.password.begin());
            }
            break;
        }
        case 1:
            std::copy(command.begin() + 2, command.begin() + 6, flash_.gpSettings.begin());
            break;
        case 2:
        case 3:
        case 4: {
            const std::size_t length = command[2];
            if (length < 2 || length > 62 || length % 2 != 0) {
                response[1] = kNotSupported;
                return;
            }
            std::u16string text;
            for (std::size_t i = 4; i < length + 2; i += 2) {
                text.push_back(static_cast<char16_t>(command[i] | (command[i + 1] << 8)));
            }
            StringRecord(flash_, subCode) = text;
            break;
        }
        default:
            response[1] = kNotSupported;
            break;
    }
}

void ChipModel::SendPassword(const Report& command, Report& response) {
    if (wrongPasswords_ >= kMaxWrongPasswords) {
        response[1] = kTooManyAttempts;
        return;
    }
    if (flash_.Protection() == 1 &&
        !std::equal(flash_.password.begin(), flash_.password.end(), command.begin() + 2)) {
        ++wrongPasswords_;
        response[1] = kPasswordWrong;
        return;
    }
    passwordEntered_ = true;
}

void ChipModel::ReadSram(Report& response) const {
    std::copy(sramChip_.begin(), sramChip_.end(), response.begin() + 4);
    std::copy(sramGp_.begin(), sramGp_.end(), response.begin() + 22);
}

void ChipModel::WriteSram(const Report& command) {
    if (command[2] & 0x80) sramChip_[kClockByte] = U8(command[2] & 0x1Fu);
    if (command[3] & 0x80) {
        sramChip_[kDacByte] = U8((sramChip_[kDacByte] & 0x1Fu) | ((command[3] & 0x07u) << 5));
    }
    if (command[4] & 0x80) {
        sramChip_[kDacByte] = U8((sramChip_[kDacByte] & 0xE0u) | (command[4] & 0x1Fu));
    }
    if (command[5] & 0x80) {
        sramChip_[kInterruptAdcByte] =
            U8((sramChip_[kInterruptAdcByte] & ~0x1Cu) | ((command[5] & 0x07u) << 2));
    }
    if (command[6] & 0x80) {
        if (command[6] & 0x01) interruptFlag_ = false;
        if (command[6] & 0x10) {  // new edge selection: bit 3 rising, bit 1 falling
            const unsigned mode =
                ((command[6] & 0x08u) ? 1u : 0u) | ((command[6] & 0x02u) ? 2u : 0u);
            sramChip_[kInterruptAdcByte] =
                U8((sramChip_[kInterruptAdcByte] & ~0x60u) | (mode << 5));
        }
    }
    if (command[7] & 0x80) {
        for (std::size_t pin = 0; pin < 4; ++pin) sramGp_[pin] = U8(command[8 + pin] & 0x1Fu);
    }
}

void ChipModel::ReadGpio(Report& response) const {
    for (unsigned pin = 0; pin < 4; ++pin) {
        const bool gpio = IsGpio(pin);
        response[2 + 2 * pin] = gpio ? PinLevel(pin) : 0xEE;
        response[3 + 2 * pin] = gpio ? U8((sramGp_[pin] >> 3u) & 1u) : 0xEF;
    }
}

void ChipModel::WriteGpio(const Report& command) {
    for (unsigned pin = 0; pin < 4; ++pin) {
        const std::size_t group = 2 + 4 * pin;
        if (!IsGpio(pin)) continue;
        if (command[group] == 0x01) {
            sramGp_[pin] = U8((sramGp_[pin] & ~0x10u) | ((command[group + 1] & 1u) << 4));
        }
        if (command[group + 2] == 0x01) {
            sramGp_[pin] = U8((sramGp_[pin] & ~0x08u) | ((command[group + 3] & 1u) << 3));
        }
    }
}

void ChipModel::SetAdcInput(unsigned channel, std::uint16_t millivolts) {
    if (channel < adcMillivolts_.size()) adcMillivolts_[channel] = millivolts;
}

std::uint16_t ChipModel::AdcReading(unsigned channel) const {
    if (channel >= adcMillivolts_.size()) return 0;
    const unsigned reference = ReferenceMillivolts((sramChip_[kInterruptAdcByte] >> 2u) & 0x07u);
    const unsigned reading = adcMillivolts_[channel] * 1023u / reference;
    return static_cast<std::uint16_t>(std::min(reading, 1023u));
}

void ChipModel::SetPinInput(unsigned pin, std::uint8_t level) {
    if (pin < pinInput_.size()) pinInput_[pin] = level ? 1 : 0;
}

std::uint8_t ChipModel::PinLevel(unsigned pin) const {
    if (pin >= sramGp_.size()) return 0;
    const bool input = (sramGp_[pin] & 0x08) != 0;
    return input ? pinInput_[pin] : U8((sramGp_[pin] >> 4u) & 1u);
}

void ChipModel::InterruptEdge(bool rising) {
    const unsigned mode = (sramChip_[kInterruptAdcByte] >> 5u) & 0x03u;
    if ((rising && (mode & 1u)) || (!rising && (mode & 2u))) interruptFlag_ = true;
}

std::uint16_t ChipModel::DacOutputMillivolts() const {
    const unsigned reference = ReferenceMillivolts((sramChip_[kDacByte] >> 5u) & 0x07u);
    return static_cast<std::uint16_t>(reference * (sramChip_[kDacByte] & 0x1Fu) / 32u);
}

std::uint32_t ChipModel::ClockOutputHz() const {
    const unsigned divider = sramChip_[kClockByte] & 0x07u;
    return divider == 0 ? 0 : 48'000'000u >> divider;
}

void ChipModel::SetRevision(std::array<char, 2> firmware, std::array<char, 2> hardware) {
    firmware_ = firmware;
    hardware_ = hardware;
}

}  // namespace Corvane::Sim
