// SPDX-License-Identifier: MIT
// transfer: i2ctransfer's messages ("w2@0x50 0x01 0x00 r16") carried out as
// one combined transfer where the bridge can, with i2ctransfer's output.

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <optional>
#include <string_view>

#include "Bus.hpp"
#include "Numbers.hpp"
#include "Tool.hpp"
#include "Transfer.hpp"

namespace CorvaneTool {

namespace {

// i2ctransfer's options besides the messages: -v, and -y, -f, -a as i2c-tools take them.
struct TransferOptions {
    bool verbose = false;
    bool yes = false;
    bool force = false;
    bool all = false;
};

void Transfer(Tool& tool, const std::vector<std::string>& words, const TransferOptions& options) {
    const bool verbose = options.verbose;
    std::vector<Message> messages = PlanTransfer(words, options.all);
    if (verbose) {
        for (std::size_t i = 0; i < messages.size(); ++i) {
            fmt::print(stderr, "{}\n", Line(messages[i], i, !messages[i].read));
        }
    }
    Corvane::I2cBus bus = OpenBus(tool);
    RunTransfer(bus, messages);
    if (tool.WantsJson()) {
        Tool::PrintJson(MessagesJson(messages));
        return;
    }
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (verbose) {
            fmt::print("{}\n", Line(messages[i], i, true));
        } else if (messages[i].read) {
            fmt::print("{}\n", ByteList(messages[i].data));
        }
    }
}

}  // namespace

void AddTransferCommand(CLI::App& app, Tool& tool, Handlers& handlers) {
    auto words = std::make_shared<std::vector<std::string>>();
    auto options = std::make_shared<TransferOptions>();
    auto* transfer =
        app.add_subcommand("transfer",
                           "Send I2C messages as i2ctransfer does, one line per read message: "
                           "transfer w1@0x48 0x00 r2");
    transfer
        ->add_option("MESSAGE", *words,
                     "r or w, the length, @ADDR (may be left out after "
                     "the first message), then a write's data bytes")
        ->required();
    transfer->add_flag("-v", options->verbose, "show every message as i2ctransfer -v does");
    transfer->add_flag("-y", options->yes, "accepted as i2c-tools take it; the tool never asks");
    transfer->add_flag("-f", options->force,
                       "accepted as i2c-tools take it; no kernel driver holds an address on the "
                       "bridge");
    transfer->add_flag("-a", options->all, "allow every address, 0x00 to 0x7f");
    transfer->footer(
        "A data byte with a suffix fills the rest of its message: 0= repeats it, 0+ counts up, "
        "0xff- counts down, 0p gives i2ctransfer's pseudo-random bytes. r? reads an SMBus block "
        "whose length the target sends (after w1 to the same address). The bridge carries out "
        "one write, one read, or a write followed by a read of the same address after a "
        "repeated START; other shapes are refused before anything is sent.");
    handlers[transfer] = [&tool, words, options] { Transfer(tool, *words, *options); };
}

}  // namespace CorvaneTool
