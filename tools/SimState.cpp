// SPDX-License-Identifier: MIT
#include "SimState.hpp"

#include <nlohmann/json.hpp>

namespace CorvaneTool {

namespace {

using Json = nlohmann::json;

constexpr const char* kFormat = "corvane-sim-state 1";
// A register's contents, as a count byte can give their length.
constexpr std::size_t kMaxRegisterBytes = 255;

std::string ToHex(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

int HexDigit(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

const Json& Field(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end()) throw StateError(std::string("no ") + key);
    return *it;
}

std::uint64_t Number(const Json& value, const std::string& what, std::uint64_t max) {
    if (!value.is_number_unsigned() || value.get<std::uint64_t>() > max) {
        throw StateError(what + " is not a number from 0 to " + std::to_string(max));
    }
    return value.get<std::uint64_t>();
}

std::vector<std::uint8_t> Hex(const Json& value, const std::string& what) {
    if (!value.is_string()) throw StateError(what + " is not text");
    const auto& text = value.get_ref<const std::string&>();
    if (text.size() % 2 != 0) throw StateError(what + " has an odd number of digits");
    std::vector<std::uint8_t> bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = HexDigit(text[2 * i]), low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0) throw StateError(what + " is not hexadecimal");
        bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return bytes;
}

template <std::size_t N, typename T>
std::array<T, N> Numbers(const Json& value, const std::string& what, std::uint64_t max) {
    if (!value.is_array() || value.size() != N) {
        throw StateError(what + " is not a list of " + std::to_string(N));
    }
    std::array<T, N> numbers{};
    for (std::size_t i = 0; i < N; ++i) numbers[i] = static_cast<T>(Number(value[i], what, max));
    return numbers;
}

// "0x2a": the register index as the file writes it, and only so.
std::uint8_t RegisterIndex(const std::string& key) {
    if (key.size() != 4 || key[0] != '0' || key[1] != 'x' || HexDigit(key[2]) < 0 ||
        HexDigit(key[3]) < 0) {
        throw StateError("SMBus register '" + key + "' is not an index from 0x00 to 0xff");
    }
    return static_cast<std::uint8_t>(HexDigit(key[2]) * 16 + HexDigit(key[3]));
}

RunningSettings Running(const Json& running) {
    if (!running.is_object()) throw StateError("running settings are not an object");
    const std::string what = "running setting ";
    const auto code = [&](const char* key) {
        return static_cast<std::int32_t>(Number(Field(running, key), what + key, 0xFF));
    };
    RunningSettings settings;
    settings.gpDesignation =
        Numbers<4, std::uint8_t>(Field(running, "gp-designation"), what + "gp-designation", 0xFF);
    settings.gpDirection =
        Numbers<4, std::uint8_t>(Field(running, "gp-direction"), what + "gp-direction", 0xFF);
    settings.gpValue =
        Numbers<4, std::uint8_t>(Field(running, "gp-value"), what + "gp-value", 0xFF);
    settings.clockDivider = code("clock-divider");
    settings.clockDuty = code("clock-duty");
    settings.dacReference = code("dac-reference");
    settings.dacValue = code("dac-value");
    settings.adcReference = code("adc-reference");
    settings.interruptMode = code("interrupt-mode");
    return settings;
}

}  // namespace

SimState ParseSimState(std::string_view text, std::size_t eepromSize) {
    if (text.size() > kMaxStateBytes) throw StateError("larger than a state file can be");
    const Json file = Json::parse(text.begin(), text.end(), nullptr, false);
    if (file.is_discarded()) throw StateError("not JSON, or cut short");
    if (!file.is_object()) throw StateError("not a JSON object");
    const Json& format = Field(file, "format");
    if (!format.is_string() || format.get_ref<const std::string&>() != kFormat) {
        throw StateError("not of the format '" + std::string(kFormat) + "'");
    }
    SimState state;
    const Json& chip = Field(file, "chip");
    if (!chip.is_string()) throw StateError("the chip's flash is not text");
    state.chip = chip.get<std::string>();
    if (file.contains("powered")) {
        if (!file["powered"].is_string()) throw StateError("the chip's powered state is not text");
        state.powered = file["powered"].get<std::string>();
    }
    state.eeprom = Hex(Field(file, "eeprom"), "the EEPROM's contents");
    if (state.eeprom.size() != eepromSize) {
        throw StateError("the EEPROM's contents are " + std::to_string(state.eeprom.size()) +
                         " bytes, not " + std::to_string(eepromSize));
    }
    if (file.contains("eeprom-counter")) {
        state.eepromCounter =
            Number(file["eeprom-counter"], "the EEPROM's address counter", eepromSize - 1);
    }
    const Json& smbus = Field(file, "smbus");
    if (!smbus.is_object()) throw StateError("the SMBus registers are not an object");
    for (const auto& [key, contents] : smbus.items()) {
        const std::uint8_t index = RegisterIndex(key);
        auto bytes = Hex(contents, "SMBus register " + key);
        if (bytes.size() > kMaxRegisterBytes) {
            throw StateError("SMBus register " + key + " holds more than 255 bytes");
        }
        state.smbusRegisters[index] = std::move(bytes);
    }
    if (file.contains("smbus-pointer")) {
        state.smbusPointer =
            static_cast<std::uint8_t>(Number(file["smbus-pointer"], "the SMBus pointer", 0xFF));
    }
    state.sensor =
        Numbers<4, std::uint16_t>(Field(file, "sensor"), "the sensor's registers", 0xFFFF);
    if (const Json& running = Field(file, "running"); !running.is_null()) {
        state.running = Running(running);
    }
    return state;
}

std::string FormatSimState(const SimState& state) {
    Json file;
    file["format"] = kFormat;
    file["chip"] = state.chip;
    if (state.powered) file["powered"] = *state.powered;
    file["eeprom"] = ToHex(state.eeprom);
    file["eeprom-counter"] = state.eepromCounter;
    Json registers = Json::object();
    for (const auto& [index, contents] : state.smbusRegisters) {
        static constexpr char kDigits[] = "0123456789abcdef";
        registers[std::string{'0', 'x', kDigits[index >> 4], kDigits[index & 0x0F]}] =
            ToHex(contents);
    }
    file["smbus"] = registers;
    file["smbus-pointer"] = state.smbusPointer;
    file["sensor"] = state.sensor;
    if (state.running) {
        const RunningSettings& r = *state.running;
        file["running"] = {{"gp-designation", r.gpDesignation},
                           {"gp-direction", r.gpDirection},
                           {"gp-value", r.gpValue},
                           {"clock-divider", r.clockDivider},
                           {"clock-duty", r.clockDuty},
                           {"dac-reference", r.dacReference},
                           {"dac-value", r.dacValue},
                           {"adc-reference", r.adcReference},
                           {"interrupt-mode", r.interruptMode}};
    } else {
        file["running"] = nullptr;
    }
    return file.dump(1) + "\n";
}

}  // namespace CorvaneTool
