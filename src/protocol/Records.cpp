// SPDX-License-Identifier: MIT
#include "protocol/Records.hpp"

#include "protocol/CommandCodes.hpp"

namespace Corvane::Records {

namespace {

std::uint8_t Bit(std::uint8_t byte, int bit) {
    return static_cast<std::uint8_t>((byte >> bit) & 1u);
}

std::uint8_t Bits(std::uint8_t byte, int low, std::uint8_t mask) {
    return static_cast<std::uint8_t>((byte >> low) & mask);
}

std::uint16_t Word(const Report& report, std::size_t low) {
    return static_cast<std::uint16_t>(report[low] | (report[low + 1] << 8));
}

void PutWord(Report& report, std::size_t low, std::uint16_t value) {
    report[low] = static_cast<std::uint8_t>(value & 0xFF);
    report[low + 1] = static_cast<std::uint8_t>(value >> 8);
}

template <typename T>
std::uint8_t U8(T value) {
    return static_cast<std::uint8_t>(static_cast<unsigned>(value) & 0xFFu);
}

}  // namespace

Password PasswordBytes(const char* text) {
    Password password{};
    for (std::size_t i = 0; i < password.size() && text[i] != '\0'; ++i) {
        password[i] = static_cast<std::uint8_t>(text[i]);
    }
    return password;
}

void DecodeChipSettings(const Report& answer, LedBits leds, SettingsImage& image) {
    const std::uint8_t chip = answer[4];
    image.serialNumberEnumeration = Bit(chip, 7);
    if (leds == LedBits::Take) {
        image.initLedUartRx = Bit(chip, 6);
        image.initLedUartTx = Bit(chip, 5);
        image.initLedI2c = Bit(chip, 4);
    }
    image.initSspnd = Bit(chip, 3);
    image.initUsbcfg = Bit(chip, 2);
    image.flashProtection = Bits(chip, 0, 0x03);
    image.clockOutDutyCycle = Bits(answer[5], 3, 0x03);
    image.clockOutDivider = Bits(answer[5], 0, 0x07);
    image.dacReference = Bits(answer[6], 5, 0x07);
    image.dacValue = Bits(answer[6], 0, 0x1F);
    image.interruptMode = Bits(answer[7], 5, 0x03);
    image.adcReference = Bits(answer[7], 2, 0x07);
    image.usbVid = Word(answer, 8);
    image.usbPid = Word(answer, 10);
    image.powerAttributes = answer[12];
    image.currentRequirementMa = static_cast<std::uint16_t>(answer[13] * 2);
}

void EncodeChipSettings(const SettingsImage& image, const Password& password, Report& request) {
    request[2] = U8((image.serialNumberEnumeration == 1 ? 0x80u : 0u) |
                    (unsigned{image.initLedUartRx} << 6) | (unsigned{image.initLedUartTx} << 5) |
                    (unsigned{image.initLedI2c} << 4) | (unsigned{image.initSspnd} << 3) |
                    (unsigned{image.initUsbcfg} << 2) | image.flashProtection);
    request[3] = U8(image.clockOutDivider | (unsigned{image.clockOutDutyCycle} << 3));
    request[4] = U8((unsigned{image.dacReference} << 5) + (image.dacValue & 0x1Fu));
    request[5] = U8((unsigned{image.adcReference} << 2) | (unsigned{image.interruptMode} << 5));
    PutWord(request, 6, image.usbVid);
    PutWord(request, 8, image.usbPid);
    request[10] = image.powerAttributes;
    request[11] = U8(image.currentRequirementMa / 2u);
    std::copy(password.begin(), password.end(),
              request.begin() + static_cast<std::ptrdiff_t>(kChipSettingsPassword.first));
}

void DecodePinBytes(const Report& answer, std::size_t first, PinBytes& designation,
                    PinBytes& direction, PinBytes& outputValue) {
    for (std::size_t pin = 0; pin < 4; ++pin) {
        const std::uint8_t byte = answer[first + pin];
        outputValue[pin] = Bit(byte, 4);
        direction[pin] = Bit(byte, 3);
        designation[pin] = Bits(byte, 0, 0x07);
    }
}

void EncodePinBytes(const PinBytes& designation, const PinBytes& direction,
                    const PinBytes& outputValue, std::size_t first, Report& request) {
    for (std::size_t pin = 0; pin < 4; ++pin) {
        request[first + pin] = U8(designation[pin] + direction[pin] * 8u + outputValue[pin] * 16u);
    }
}

std::uint8_t InterruptModeByte(std::uint8_t mode) {
    switch (mode) {
        case 1:
            return 0x9C;
        case 2:
            return 0x96;
        case 3:
            return 0x9E;
        default:
            return 0x00;
    }
}

void EncodeSramChange(const SettingsImage& image, const SramChange& change, Report& request) {
    request.fill(0);
    request[0] = SET_SRAM_SETTINGS;
    request[1] = 0x00;
    if (change.alterClock) {
        request[2] = U8(0x80u | (unsigned{image.clockOutDutyCycle} << 3) | image.clockOutDivider);
    }
    if (change.alterDacReference) request[3] = image.dacReference;
    if (change.alterDacValue) request[4] = image.dacValue;
    if (change.alterAdcReference) request[5] = image.adcReference;
    if (change.alterInterruptMode) request[6] = InterruptModeByte(image.interruptMode);
    if (change.clearInterruptFlag) request[6] = U8(request[6] | 0x81u);
    if (change.alterGpSettings) {
        request[7] = 0x80;
        EncodePinBytes(image.gpDesignation, image.gpDirection, image.gpOutputValue, 8, request);
    }
}

void DecodeString(const Report& answer, char16_t* text, std::size_t capacity) {
    const std::size_t end = std::size_t{answer[2]} + 2;  // the claimed length counts bytes 2 and 3
    std::size_t units = 0;
    for (std::size_t i = 4; i + 1 < end && i + 1 < answer.size() && units + 1 < capacity; i += 2) {
        text[units++] = static_cast<char16_t>(answer[i] | (answer[i + 1] << 8));
    }
    text[units] = u'\0';
}

void EncodeString(const char16_t* text, std::size_t units, Report& request) {
    request[2] = static_cast<std::uint8_t>((2 * units + 2) & 0xFFu);
    request[3] = 0x03;
    for (std::size_t k = 0; k < units; ++k) {
        request[4 + 2 * k] = U8(text[k] & 0xFFu);
        request[5 + 2 * k] = U8(static_cast<unsigned>(text[k]) >> 8);
    }
}

void DecodeGpioValues(const Report& answer, std::uint8_t* direction, std::uint8_t* value) {
    for (std::size_t pin = 0; pin < 4; ++pin) {
        if (value) value[pin] = answer[2 + 2 * pin];
        if (direction) direction[pin] = answer[3 + 2 * pin];
    }
}

void EncodeGpioValues(const std::uint8_t* direction, const std::uint8_t* value,
                      const std::uint8_t* alterDirection, const std::uint8_t* alterValue,
                      Report& request) {
    for (std::size_t pin = 0; pin < 4; ++pin) {
        const std::size_t group = 2 + 4 * pin;
        if (alterValue[pin] == 1) {
            request[group] = 0x01;
            request[group + 1] = value[pin];
        }
        if (alterDirection[pin] == 1) {
            request[group + 2] = 0x01;
            request[group + 3] = direction[pin];
        }
    }
}

void EncodeStatus(std::uint8_t cancelTransfer, std::uint8_t setSpeed, std::uint8_t speedDivider,
                  Report& request) {
    request[0] = STATUS_SET_PARAMETERS;
    request[1] = 0x00;
    request[2] = cancelTransfer == 1 ? 0x10 : 0x00;
    request[3] = setSpeed == 1 ? 0x20 : 0x00;
    request[4] = setSpeed == 1 ? speedDivider : 0x00;
}

bool DecodeCancelRequest(const Report& request) {
    return request[2] == 0x10;
}

EngineStatus DecodeEngineStatus(const Report& answer) {
    return EngineStatus{answer[1] != 0, answer[2], answer[3] == 0x20, answer[8],
                        Bit(answer[20], 6) != 0};
}

void EncodeTransferHeader(const TransferHeader& header, Report& request) {
    request[0] = header.command;
    request[1] = static_cast<std::uint8_t>(header.total & 0xFF);
    request[2] = static_cast<std::uint8_t>(header.total >> 8);
    request[3] = header.address;
}

TransferHeader DecodeTransferHeader(const Report& request) {
    return TransferHeader{request[0], static_cast<std::uint32_t>(request[1] | request[2] << 8),
                          request[3]};
}

}  // namespace Corvane::Records
