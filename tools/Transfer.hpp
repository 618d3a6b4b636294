// SPDX-License-Identifier: MIT
#pragma once

// Combined transfers in i2ctransfer's words ("w2@0x50 0x01 0x00 r16"): the
// messages read and checked before anything is sent, then carried out as one
// transfer where the bridge can. `transfer` and the web interface share them.

#include <corvane/I2cBus.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Tool.hpp"

namespace CorvaneTool {

struct Message {
    bool read = false;
    bool lengthFromTarget = false;  // r?: the target's count byte says how many follow
    std::uint8_t address7 = 0;
    std::size_t length = 0;
    std::vector<std::uint8_t> data;

    // "w2@0x50", "r?@0x0b".
    std::string Desc() const;
};

// The messages of `words`; UsageError for words that are none, I2CBUS_NOT_SUPPORTED
// (a Failure) for shapes the bridge cannot carry out, before anything is sent.
// `allAddresses`: i2c-tools' -a.
std::vector<Message> PlanTransfer(const std::vector<std::string>& words, bool allAddresses);
// Carries the messages out; the read messages' data is filled in.
void RunTransfer(Corvane::I2cBus& bus, std::vector<Message>& messages);
// {"messages": [{"address", "direction", "data"}, ...]}.
Json MessagesJson(const std::vector<Message>& messages);
// i2ctransfer's lines: "msg 0: addr 0x50, write, len 2, buf 0x01 0x00".
std::string Line(const Message& message, std::size_t index, bool withData);

}  // namespace CorvaneTool
