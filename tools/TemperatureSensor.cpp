// SPDX-License-Identifier: MIT
#include "TemperatureSensor.hpp"

#include <cmath>

namespace CorvaneTool {

namespace {

constexpr std::uint8_t kTemperature = 0;
constexpr std::uint8_t kConfig = 1;
constexpr std::uint8_t kHysteresis = 2;
constexpr std::uint8_t kLimit = 3;

}  // namespace

TemperatureSensor::TemperatureSensor(double celsius)
    : temperature_(Encode(celsius)), hysteresis_(Encode(75.0)), limit_(Encode(80.0)) {}

std::uint16_t TemperatureSensor::Encode(double celsius) {
    const auto halves = static_cast<int>(std::lround(celsius * 2.0));
    return static_cast<std::uint16_t>((static_cast<unsigned>(halves) & 0x1FFu) << 7);
}

void TemperatureSensor::Restore(const Registers& registers) {
    config_ = registers[0] & 0xFF;
    hysteresis_ = registers[1] & 0xFF80;
    limit_ = registers[2] & 0xFF80;
    pointer_ = registers[3] & 0x03;
}

bool TemperatureSensor::Start(bool read) {
    pointerWritten_ = read;  // a read has no pointer byte
    byteIndex_ = 0;
    return true;
}

bool TemperatureSensor::WriteByte(std::uint8_t value) {
    if (!pointerWritten_) {
        pointer_ = value & 0x03;
        pointerWritten_ = true;
        byteIndex_ = 0;
        return true;
    }
    switch (pointer_) {
        case kConfig:
            if (byteIndex_ == 0) config_ = value;
            break;
        case kHysteresis:
        case kLimit: {
            std::uint16_t& target = pointer_ == kHysteresis ? hysteresis_ : limit_;
            if (byteIndex_ == 0)
                target = static_cast<std::uint16_t>((value << 8) | (target & 0xFF));
            if (byteIndex_ == 1)
                target = static_cast<std::uint16_t>((target & 0xFF00) | (value & 0x80));
            break;
        }
        default:
            break;  // the temperature is read-only
    }
    ++byteIndex_;
    return true;
}

std::uint16_t TemperatureSensor::Register() const {
    switch (pointer_) {
        case kTemperature:
            return temperature_;
        case kConfig:
            return static_cast<std::uint16_t>(config_ << 8);
        case kHysteresis:
            return hysteresis_;
        default:
            return limit_;
    }
}

std::uint8_t TemperatureSensor::ReadByte() {
    const int width = pointer_ == kConfig ? 1 : 2;
    const int position = byteIndex_++ % width;
    const std::uint16_t value = Register();
    return static_cast<std::uint8_t>(position == 0 ? value >> 8 : value & 0xFF);
}

void TemperatureSensor::Stop() {
    pointerWritten_ = false;
}

}  // namespace CorvaneTool
