// SPDX-License-Identifier: MIT
#include "Endpoints.hpp"

#include <fmt/format.h>
#include <corvane/sim.hpp>

#include <array>
#include <sstream>

#include "../Bridges.hpp"
#include "../Bus.hpp"
#include "../Eeprom.hpp"
#include "../Numbers.hpp"
#include "../Pins.hpp"
#include "../Registers.hpp"
#include "../SettingsFile.hpp"
#include "../Transfer.hpp"

namespace CorvaneTool::Ui {

Corvane::BridgeHandle& Workbench::Bridge() {
    return *Shared();
}

const std::shared_ptr<Corvane::BridgeHandle>& Workbench::Shared() {
    // Reading: with several bridges and no choice, the first, as a reading
    // command takes it; the bridges page chooses another.
    if (!handle_) handle_ = tool_.Handle(Use::Read);
    return handle_;
}

void Workbench::Choose(const std::string& serial, const std::string& path) {
    Corvane::BridgeChoice choice;
    choice.vendorId = tool_.Vid();
    choice.productId = tool_.Pid();
    choice.serial = serial;
    choice.path = path;
    std::shared_ptr<Corvane::BridgeHandle> handle;
    if (Corvane::BridgeHandle::Open(choice, handle) != Corvane::SUCCESS) {
        throw Failure(Corvane::BRIDGE_NOT_FOUND, path.empty()
                                                     ? "no bridge with the serial number " + serial
                                                     : "no bridge at " + path);
    }
    handle_ = std::move(handle);
}

std::string Workbench::ChosenPath() {
    try {
        return Shared()->Path();
    } catch (const Failure&) {
        return {};  // the list says what is attached
    }
}

Corvane::I2cBus Workbench::Bus(bool pec) {
    Corvane::I2cBus bus(Shared(), tool_.Speed());
    bus.SetPec(pec);
    return bus;
}

namespace {

// An argument as the command line would carry it: text, a number as its
// digits, empty when absent.
std::string Text(const Json& arguments, const char* name) {
    const auto found = arguments.find(name);
    if (found == arguments.end() || found->is_null()) return {};
    if (found->is_string()) return found->get<std::string>();
    if (found->is_number_unsigned()) return std::to_string(found->get<std::uint64_t>());
    throw UsageError(fmt::format("{} is no text or number", name));
}

bool Flag(const Json& arguments, const char* name) {
    const auto found = arguments.find(name);
    if (found == arguments.end() || found->is_null()) return false;
    if (!found->is_boolean()) throw UsageError(fmt::format("{} is true or false", name));
    return found->get<bool>();
}

// Words as the shell would split a command line.
std::vector<std::string> Words(const Json& arguments, const char* name) {
    const auto found = arguments.find(name);
    if (found == arguments.end() || found->is_null()) return {};
    if (found->is_array()) {
        std::vector<std::string> words;
        for (const Json& word : *found) {
            if (!word.is_string()) throw UsageError(fmt::format("{} holds texts", name));
            words.push_back(word.get<std::string>());
        }
        return words;
    }
    std::istringstream text(Text(arguments, name));
    std::vector<std::string> words;
    for (std::string word; text >> word;) words.push_back(word);
    return words;
}

// File contents travel as hexadecimal text.
std::vector<std::uint8_t> HexBytes(const Json& arguments, const char* name) {
    const std::string text = Text(arguments, name);
    if (text.size() % 2 != 0) throw UsageError(fmt::format("{} has an odd number of digits", name));
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    const auto digit = [&](char c) -> unsigned {
        if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
        if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
        throw UsageError(fmt::format("{} is not hexadecimal", name));
    };
    for (std::size_t i = 0; i < text.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(digit(text[i]) << 4 | digit(text[i + 1])));
    }
    return bytes;
}

std::string HexText(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) text += fmt::format("{:02x}", byte);
    return text;
}

// Long work reports to the streamed answer and stops when the browser left.
Work CallWork(const Call& call) {
    return {call.progress, call.gone};
}

constexpr EndpointKind kChanges{.streamed = false, .changes = true};
constexpr EndpointKind kStreamedChanges{.streamed = true, .changes = true};
constexpr EndpointKind kStreamed{.streamed = true, .changes = false};

void AddBridgeEndpoints(Api& api, Workbench& bench) {
    const auto list = [&bench] {
        std::vector<std::string> problems;
        Json devices = ListBridges(bench.GetTool(), problems);
        const std::string chosen = bench.ChosenPath();
        for (Json& device : devices) device["selected"] = device["path"] == chosen;
        return Json{{"devices", devices}};
    };
    api.Add("GET", "/api/bridges", [list](Call&) { return list(); });
    api.Add("POST", "/api/bridges/select", [&bench, list](Call& call) {
        const std::string serial = Text(call.arguments, "serial");
        const std::string path = Text(call.arguments, "path");
        if (serial.empty() == path.empty()) throw UsageError("give serial or path");
        bench.Choose(serial, path);
        return list();
    });
}

void AddBusEndpoints(Api& api, Workbench& bench) {
    api.Add(
        "POST", "/api/bus/scan",
        [&bench](Call& call) {
            const Json& a = call.arguments;
            const ScanPlan plan = ParseScan(Text(a, "first"), Text(a, "last"), false, false, false);
            Corvane::I2cBus bus = bench.Bus();
            return ScanBus(bus, plan);
        },
        kChanges);
    api.Add(
        "POST", "/api/bus/get",
        [&bench](Call& call) {
            const Json& a = call.arguments;
            const RegisterRead read =
                ParseRegisterRead(Text(a, "address"), Text(a, "register"), Text(a, "mode"),
                                  Text(a, "count"), Flag(a, "pec"), false);
            Corvane::I2cBus bus = bench.Bus(read.mode.pec);
            return ReadRegister(bus, read);
        },
        kChanges);
    api.Add(
        "POST", "/api/bus/set",
        [&bench](Call& call) {
            const Json& a = call.arguments;
            std::vector<std::string> values = Words(a, "values");
            if (const std::string mode = Text(a, "mode"); !mode.empty()) values.push_back(mode);
            RegisterWrite write =
                ParseRegisterWrite(Text(a, "address"), Text(a, "register"), values, Text(a, "mask"),
                                   Flag(a, "pec"), false);
            Corvane::I2cBus bus = bench.Bus(write.mode.pec);
            return WriteRegister(bus, write);
        },
        kChanges);
    api.Add(
        "POST", "/api/bus/transfer",
        [&bench](Call& call) {
            std::vector<Message> messages = PlanTransfer(Words(call.arguments, "messages"), false);
            Corvane::I2cBus bus = bench.Bus();
            RunTransfer(bus, messages);
            return MessagesJson(messages);
        },
        kChanges);
}

Eeprom PartOf(const Json& a) {
    const std::string page = Text(a, "page");
    return ParseEeprom(Text(a, "address"), Text(a, "size"), page.empty() ? "64" : page, "size");
}

// What a write or a verify takes: the part, where the image starts, the image.
struct EepromImage {
    Eeprom eeprom;
    std::size_t offset;
    std::vector<std::uint8_t> data;
};

EepromImage ImageOf(const Json& arguments) {
    EepromImage image{PartOf(arguments), 0, HexBytes(arguments, "data")};
    image.offset = ParseEepromOffset(Text(arguments, "offset"), image.eeprom);
    CheckImageFits(image.data.size(), "the file", image.eeprom, image.offset);
    return image;
}

void AddEepromEndpoints(Api& api, Workbench& bench) {
    api.Add(
        "POST", "/api/eeprom/read",
        [&bench](Call& call) {
            const Eeprom eeprom = PartOf(call.arguments);
            const std::size_t offset = ParseEepromOffset(Text(call.arguments, "offset"), eeprom);
            const std::size_t length =
                ParseEepromLength(Text(call.arguments, "length"), eeprom, offset);
            Corvane::I2cBus bus = bench.Bus();
            const auto data = ReadEeprom(bus, eeprom, offset, length, CallWork(call));
            return Json{{"address", eeprom.Address()},
                        {"offset", offset},
                        {"size", data.size()},
                        {"data", HexText(data)}};
        },
        kStreamed);
    api.Add(
        "POST", "/api/eeprom/write",
        [&bench](Call& call) {
            const EepromImage image = ImageOf(call.arguments);
            Corvane::I2cBus bus = bench.Bus();
            return WriteEeprom(bus, image.eeprom, image.offset, image.data, true, CallWork(call));
        },
        kStreamedChanges);
    api.Add(
        "POST", "/api/eeprom/verify",
        [&bench](Call& call) {
            const EepromImage image = ImageOf(call.arguments);
            Corvane::I2cBus bus = bench.Bus();
            return VerifyEeprom(bus, image.eeprom, image.offset, image.data, CallWork(call));
        },
        kStreamed);
}

void AddPinEndpoints(Api& api, Workbench& bench) {
    api.Add("GET", "/api/pins", [&bench](Call&) {
        Corvane::BridgeHandle& bridge = bench.Bridge();
        const PinConfig config =
            On(bridge, [](Corvane::VrelUsbI2c& b) { return ReadPins(b, Side::Current); });
        Json functions = Json::array();
        for (unsigned pin = 0; pin < 4; ++pin) functions.push_back(PinFunctions(pin));
        return Json{{"pins", PinsJson(config)},
                    {"functions", functions},
                    {"levels", ReadGpioLevels(bridge)["levels"]},
                    {"interrupt", ReadInterrupt(bridge)},
                    {"dac", ApplyDac(bridge, {})}};
    });
    api.Add(
        "POST", "/api/pins/config",
        [&bench](Call& call) {
            std::array<std::string, 4> functions;
            for (unsigned pin = 0; pin < 4; ++pin) {
                functions[pin] = Text(call.arguments, fmt::format("gp{}", pin).c_str());
            }
            CheckPinFunctions(functions);
            const auto shown = ConfigurePins(bench.Bridge(), functions, {Side::Current});
            return Json{{SideName(Side::Current), PinsJson(shown.front())}};
        },
        kChanges);
    api.Add(
        "POST", "/api/pins/set",
        [&bench](Call& call) {
            const unsigned pin = ParsePin(Text(call.arguments, "pin"));
            const std::uint8_t level = ParseLevel(Text(call.arguments, "value"));
            const bool input = WriteGpio(bench.Bridge(), pin, level);
            return Json{{"pin", pin}, {"value", level}, {"input", input}};
        },
        kChanges);
    api.Add(
        "POST", "/api/interrupt/clear",
        [&bench](Call&) {
            ClearInterrupt(bench.Bridge());
            return Json{{"cleared", true}};
        },
        kChanges);
    api.Add(
        "POST", "/api/dac",
        [&bench](Call& call) {
            const DacChange change =
                ParseDacChange(Text(call.arguments, "value"), Text(call.arguments, "reference"));
            return ApplyDac(bench.Bridge(), change);
        },
        kChanges);
    api.Add("POST", "/api/adc", [&bench](Call& call) {
        const std::optional<double> vdd = ParseVolts(Text(call.arguments, "vdd"), "vdd");
        return ReadAdc(bench.Bridge(), vdd);
    });
    api.Add(
        "POST", "/api/sim/adc",
        [&bench](Call& call) {
            constexpr std::uint32_t kHighestMillivolts = 6000;
            const std::uint32_t channel = NumberArgument(call.arguments, "channel", 0, 2);
            const std::uint32_t millivolts =
                NumberArgument(call.arguments, "millivolts", 0, kHighestMillivolts);
            const std::int32_t index = bench.Bridge().Index();
            const auto chip =
                index < 0 ? nullptr : bench.GetTool().SimChip(static_cast<std::size_t>(index));
            if (!chip) throw Failure("the bridge is no virtual chip (--sim)", "NOT_SIMULATED");
            chip->SetAdcInput(channel, static_cast<std::uint16_t>(millivolts));
            return Json{{"channel", channel}, {"millivolts", millivolts}};
        },
        kChanges);
}

void AddSettingsEndpoints(Api& api, Workbench& bench) {
    api.Add("GET", "/api/settings", [&bench](Call&) { return SaveSettings(bench.Bridge()); });
    // The page asks for the password with the write where the flash needs
    // one, so the check plans as if it will be given.
    api.Add("POST", "/api/settings/plan", [&bench](Call& call) {
        const Json request = {{"settings", call.arguments.at("settings")}};
        const SettingsPlan plan =
            PlanSettings(bench.Bridge(), request["settings"], {}, true, false);
        Json answer = plan.ToJson();
        answer["writes-flash"] = plan.ChangesFlash();
        answer["confirmation"] = bench.confirmations.Issue(request, answer["changes"]);
        return answer;
    });
    api.Add(
        "POST", "/api/settings/write",
        [&bench](Call& call) {
            const Json request = {{"settings", call.arguments.at("settings")}};
            const Json confirmed =
                bench.confirmations.Take(Text(call.arguments, "confirmation"), request);
            Corvane::BridgeHandle& bridge = bench.Bridge();
            const std::string password = Text(call.arguments, "password");
            if (!password.empty()) {
                CheckPassword(password);
                Check(bridge.EnterAccessPassword(password.c_str()),
                      "the bridge did not accept the password");
            }
            const SettingsPlan plan =
                PlanSettings(bridge, request["settings"], {}, !password.empty());
            const Json answer = plan.ToJson();
            if (answer["changes"] != confirmed) {
                throw NotConfirmed("the bridge's settings changed since the check: check again");
            }
            CheckApplicable(plan);
            ApplySettings(bridge, plan);
            return answer;
        },
        kChanges);
}

}  // namespace

void AddEndpoints(Api& api, Workbench& bench) {
    AddBridgeEndpoints(api, bench);
    AddBusEndpoints(api, bench);
    AddEepromEndpoints(api, bench);
    AddPinEndpoints(api, bench);
    AddSettingsEndpoints(api, bench);
}

}  // namespace CorvaneTool::Ui
