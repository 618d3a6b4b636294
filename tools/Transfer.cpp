// SPDX-License-Identifier: MIT
// The combined transfers of Transfer.hpp.
#include "Transfer.hpp"

#include <fmt/format.h>

#include <optional>
#include <string_view>

#include "Bus.hpp"
#include "Numbers.hpp"

namespace CorvaneTool {

std::string Message::Desc() const {
    return fmt::format("{}{}@{}", read ? 'r' : 'w', lengthFromTarget ? "?" : std::to_string(length),
                       Hex(address7));
}

namespace {

constexpr std::uint32_t kLongestMessage = 65'535;

// The byte after `value` in a run given by one data byte with a suffix:
// = the same, + and - counting, p i2ctransfer's pseudo-random sequence.
std::uint8_t NextInRun(std::uint8_t value, char suffix) {
    switch (suffix) {
        case '+':
            return static_cast<std::uint8_t>(value + 1);
        case '-':
            return static_cast<std::uint8_t>(value - 1);
        case 'p': {
            const auto mixed = static_cast<std::uint8_t>((value ^ 27) + 13);
            return static_cast<std::uint8_t>((mixed << 1) | (mixed >> 7));
        }
        default:
            return value;
    }
}

std::vector<Message> ParseMessages(const std::vector<std::string>& words, bool allAddresses) {
    std::vector<Message> messages;
    std::optional<std::uint8_t> lastAddress;
    for (std::size_t w = 0; w < words.size();) {
        const std::string& desc = words[w++];
        Message message;
        if (desc.empty() || (desc[0] != 'r' && desc[0] != 'w')) {
            throw UsageError(fmt::format(
                "'{}' is not a message: r or w, the length, then @ and the address (w2@0x50)",
                desc));
        }
        message.read = desc[0] == 'r';
        const std::size_t at = desc.find('@');
        const std::string length = desc.substr(1, at == std::string::npos ? at : at - 1);
        if (length == "?" && message.read) {
            message.lengthFromTarget = true;
        } else {
            message.length =
                ParseNumber(length, fmt::format("the length in '{}'", desc), 0, kLongestMessage);
        }
        if (at != std::string::npos) lastAddress = ParseAddress(desc.substr(at + 1), allAddresses);
        if (!lastAddress) {
            throw UsageError(fmt::format("'{}' needs an address: {}@0x50", desc, desc));
        }
        message.address7 = *lastAddress;
        if (message.read) {
            message.data.resize(message.lengthFromTarget ? 1 + Corvane::I2cBus::kMaxBlock
                                                         : message.length);
        }
        while (!message.read && message.data.size() < message.length) {
            if (w == words.size()) {
                throw UsageError(fmt::format("{} wants {} data bytes, {} given", desc,
                                             message.length, message.data.size()));
            }
            std::string text = words[w++];
            const char suffix = text.size() > 1 && std::string_view("=+-p").find(text.back()) !=
                                                       std::string_view::npos
                                    ? text.back()
                                    : '\0';
            if (suffix) text.pop_back();
            std::uint8_t value = ParseByte(text, "a data byte");
            message.data.push_back(value);
            while (suffix && message.data.size() < message.length) {
                value = NextInRun(value, suffix);
                message.data.push_back(value);
            }
        }
        messages.push_back(std::move(message));
    }
    return messages;
}

std::string Shape(const std::vector<Message>& messages) {
    std::string shape;
    for (const Message& message : messages) shape += (shape.empty() ? "" : " ") + message.Desc();
    return shape;
}

[[noreturn]] void Unsupported(const std::vector<Message>& messages, std::string_view why) {
    throw Failure(
        Corvane::I2CBUS_NOT_SUPPORTED,
        fmt::format("the bridge cannot carry out {} as one transfer: {}", Shape(messages), why));
}

// r?: the block read the bridge carries out, a one-byte write and a read of
// the length the target sends, at one address.
bool BlockRead(const std::vector<Message>& messages) {
    return messages.size() == 2 && messages[1].lengthFromTarget && !messages[0].read &&
           messages[0].length == 1 && messages[0].address7 == messages[1].address7;
}

}  // namespace

std::string Line(const Message& message, std::size_t index, bool withData) {
    std::string line = fmt::format("msg {}: addr {}, {}, len ", index, Hex(message.address7),
                                   message.read ? "read" : "write");
    line += message.lengthFromTarget && !withData ? "TBD" : std::to_string(message.data.size());
    if (withData && !message.data.empty()) line += ", buf " + ByteList(message.data);
    return line;
}

std::vector<Message> PlanTransfer(const std::vector<std::string>& words, bool allAddresses) {
    std::vector<Message> messages = ParseMessages(words, allAddresses);
    for (const Message& message : messages) {
        if (message.read && !message.lengthFromTarget && message.length == 0) {
            Unsupported(messages, "it cannot read zero bytes");
        }
    }
    for (const Message& message : messages) {
        if (message.lengthFromTarget && !BlockRead(messages)) {
            Unsupported(messages,
                        "it reads a length the target sends (r?) only as an SMBus block read, "
                        "right after a one-byte write to the same address (w1@0x0b 0x20 r?)");
        }
    }
    return messages;
}

void RunTransfer(Corvane::I2cBus& bus, std::vector<Message>& messages) {
    const std::uint8_t address7 = messages.front().address7;
    if (BlockRead(messages)) {
        Message& block = messages[1];
        const std::int32_t count = BusValue(
            bus.ReadBlockData(address7, messages[0].data[0], std::span(block.data).subspan(1)),
            address7);
        block.data[0] = static_cast<std::uint8_t>(count);
        block.data.resize(1 + static_cast<std::size_t>(count));
        return;
    }
    std::vector<Corvane::I2cMessage> wire;
    for (Message& message : messages)
        wire.push_back({message.address7, message.read, message.data});
    const std::int32_t result = bus.Transfer(wire);
    if (result == Corvane::I2CBUS_NOT_SUPPORTED) {
        Unsupported(messages,
                    "it does one write, one read, or a write of at least one byte followed "
                    "by a read of the same address (split the messages into several runs)");
    }
    BusValue(result, address7);
}

Json MessagesJson(const std::vector<Message>& messages) {
    Json list = Json::array();
    for (const Message& message : messages) {
        list.push_back({{"address", message.address7},
                        {"direction", message.read ? "read" : "write"},
                        {"data", message.data}});
    }
    return {{"messages", list}};
}

}  // namespace CorvaneTool
