// SPDX-License-Identifier: MIT
// The virtual chip's flash as text, so a chip can be kept between runs.
#include <array>
#include <iomanip>
#include <map>
#include <sstream>
#include <vector>

#include "VirtualDeviceState.hpp"

namespace Corvane::Sim {

namespace {

constexpr const char* kHeader = "corvane-virtual-chip 1";
constexpr const char* kPoweredHeader = "corvane-virtual-chip-powered 1";

template <typename Units>
std::string HexUnits(const Units& units, int width) {
    std::ostringstream out;
    out << std::hex << std::setfill('0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (i) out << ' ';
        out << std::setw(width) << static_cast<unsigned>(units[i]);
    }
    return out.str();
}

// Reads hex units up to `maxValue` each; false on anything else.
bool ParseUnits(const std::string& text, unsigned maxValue, std::vector<unsigned>& units) {
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        std::size_t used = 0;
        unsigned long value = 0;
        try {
            value = std::stoul(word, &used, 16);
        } catch (...) {
            return false;
        }
        if (used != word.size() || value > maxValue) return false;
        units.push_back(static_cast<unsigned>(value));
    }
    return true;
}

template <std::size_t N>
bool ParseBytes(const std::string& text, std::array<std::uint8_t, N>& bytes) {
    std::vector<unsigned> units;
    if (!ParseUnits(text, 0xFF, units) || units.size() != N) return false;
    for (std::size_t i = 0; i < N; ++i) bytes[i] = static_cast<std::uint8_t>(units[i]);
    return true;
}

bool ParseString(const std::string& text, std::u16string& string) {
    std::vector<unsigned> units;
    if (!ParseUnits(text, 0xFFFF, units) || units.size() > DeviceFlash::kMaxStringUnits) {
        return false;
    }
    string.assign(units.begin(), units.end());
    return true;
}

// "key value" lines after a header line; false when the header differs.
bool Fields(const std::string& text, const char* header,
            std::map<std::string, std::string>& fields) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != header) return false;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        const auto space = line.find(' ');
        fields[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(space + 1);
    }
    return true;
}

}  // namespace

std::string VirtualDevice::SaveState() const {
    const DeviceFlash flash = Flash();
    std::ostringstream out;
    out << kHeader << '\n'
        << "chip-settings " << HexUnits(flash.chipSettings, 2) << '\n'
        << "password " << HexUnits(flash.password, 2) << '\n'
        << "gp-settings " << HexUnits(flash.gpSettings, 2) << '\n'
        << "manufacturer " << HexUnits(flash.manufacturer, 4) << '\n'
        << "product " << HexUnits(flash.product, 4) << '\n'
        << "serial-number " << HexUnits(flash.serialNumber, 4) << '\n';
    return out.str();
}

bool VirtualDevice::LoadState(const std::string& text) {
    std::map<std::string, std::string> fields;
    if (!Fields(text, kHeader, fields)) return false;
    for (const char* key :
         {"chip-settings", "password", "gp-settings", "manufacturer", "product", "serial-number"}) {
        if (fields.find(key) == fields.end()) return false;
    }
    DeviceFlash flash;
    const bool ok = ParseBytes(fields["chip-settings"], flash.chipSettings) &&
                    ParseBytes(fields["password"], flash.password) &&
                    ParseBytes(fields["gp-settings"], flash.gpSettings) &&
                    ParseString(fields["manufacturer"], flash.manufacturer) &&
                    ParseString(fields["product"], flash.product) &&
                    ParseString(fields["serial-number"], flash.serialNumber);
    if (!ok) return false;
    std::lock_guard lock(state_->mutex);
    state_->chip.Flash() = flash;
    state_->chip.PowerUp();
    return true;
}

std::string VirtualDevice::SavePoweredState() const {
    std::lock_guard lock(state_->mutex);
    const ChipModel::Powered kept = state_->chip.KeptWhilePowered();
    const UsbEnumeration& ids = kept.enumeration;
    std::ostringstream out;
    out << kPoweredHeader << '\n'
        << "ids " << HexUnits(std::array<std::uint16_t, 2>{ids.vid, ids.pid}, 4) << '\n'
        << "power "
        << HexUnits(std::array<std::uint16_t, 2>{ids.powerAttributes, ids.maxPowerMa}, 4) << '\n'
        << "manufacturer " << HexUnits(ids.manufacturer, 4) << '\n'
        << "product " << HexUnits(ids.product, 4) << '\n';
    // No line at all when the chip enumerated without a serial number.
    if (ids.serialNumber) out << "serial-number " << HexUnits(*ids.serialNumber, 4) << '\n';
    out << "password-entered " << (kept.passwordEntered ? 1 : 0) << '\n'
        << "wrong-passwords " << kept.wrongPasswords << '\n'
        << "interrupt-flag " << (kept.interruptFlag ? 1 : 0) << '\n';
    return out.str();
}

bool VirtualDevice::LoadPoweredState(const std::string& text) {
    std::map<std::string, std::string> fields;
    if (!Fields(text, kPoweredHeader, fields)) return false;
    ChipModel::Powered kept;
    std::vector<unsigned> ids, power, flags;
    for (const char* key : {"ids", "power", "manufacturer", "product", "password-entered",
                            "wrong-passwords", "interrupt-flag"}) {
        if (fields.find(key) == fields.end()) return false;
    }
    if (!ParseUnits(fields["ids"], 0xFFFF, ids) || ids.size() != 2 ||
        !ParseUnits(fields["power"], 0xFFFF, power) || power.size() != 2 ||
        !ParseString(fields["manufacturer"], kept.enumeration.manufacturer) ||
        !ParseString(fields["product"], kept.enumeration.product) ||
        !ParseUnits(fields["password-entered"] + " " + fields["wrong-passwords"] + " " +
                        fields["interrupt-flag"],
                    3, flags) ||
        flags.size() != 3 || flags[0] > 1 || flags[2] > 1) {
        return false;
    }
    if (const auto serial = fields.find("serial-number"); serial != fields.end()) {
        kept.enumeration.serialNumber.emplace();
        if (!ParseString(serial->second, *kept.enumeration.serialNumber)) return false;
    }
    kept.enumeration.vid = static_cast<std::uint16_t>(ids[0]);
    kept.enumeration.pid = static_cast<std::uint16_t>(ids[1]);
    kept.enumeration.powerAttributes = static_cast<std::uint8_t>(power[0]);
    kept.enumeration.maxPowerMa = static_cast<std::uint16_t>(power[1]);
    kept.passwordEntered = flags[0] == 1;
    kept.wrongPasswords = static_cast<int>(flags[1]);
    kept.interruptFlag = flags[2] == 1;
    std::lock_guard lock(state_->mutex);
    state_->chip.RestoreKeptWhilePowered(kept);
    return true;
}

}  // namespace Corvane::Sim
