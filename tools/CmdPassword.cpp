// SPDX-License-Identifier: MIT
// password enter, protect, off, lock.

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include "Tool.hpp"

namespace CorvaneTool {

namespace {

constexpr std::int32_t kPasswordProtected = 1;
constexpr std::int32_t kLocked = 2;

using Handle = Corvane::BridgeHandle;

void Enter(Tool& tool, Handle& bridge, const std::string& prompt) {
    const std::string password = tool.ReadPassword(prompt);
    const std::int32_t result = bridge.EnterAccessPassword(password.c_str());
    if (result == Corvane::PASSWORD_REJECTED) {
        throw Failure(result, "the chip did not accept the password");
    }
    WithFlashHints([result] { Check(result); });
}

// The protection state; with a password in force, presents it first.
std::int32_t Unlock(Tool& tool, Handle& bridge) {
    const std::int32_t state = CheckValue(
        On(bridge, [](Corvane::VrelUsbI2c& b) { return b.Settings->GetFlashProtectionState(); }));
    if (state == kLocked) {
        throw Failure(Corvane::FLASH_LOCKED,
                      "the chip's flash is locked for good; its protection cannot change");
    }
    if (state == kPasswordProtected) Enter(tool, bridge, "current password: ");
    return state;
}

void Done(Tool& tool, const char* state, const std::string& message) {
    if (tool.WantsJson()) {
        Tool::PrintJson({{"protection", state}});
    } else {
        fmt::print("{}\n", message);
    }
}

void PasswordEnter(Tool& tool) {
    Enter(tool, *tool.Handle(Use::Change, false), "access password: ");
    if (tool.WantsJson()) {
        Tool::PrintJson({{"accepted", true}});
    } else {
        fmt::print("password accepted: flash changes are allowed until the bridge is reset\n");
    }
}

void PasswordProtect(Tool& tool, const std::string& newPasswordFile) {
    std::string password;
    if (!newPasswordFile.empty()) {
        password = ReadPasswordFrom(newPasswordFile, "");
    } else {
        password = ReadPasswordFrom("", "new password (8 bytes): ");
        if (ReadPasswordFrom("", "new password again: ") != password) {
            throw UsageError("the two passwords differ; nothing was changed");
        }
    }
    Handle& bridge = *tool.Handle(Use::Change, false);
    Unlock(tool, bridge);
    WithFlashHints([&] {
        Check(On(bridge, [&](Corvane::VrelUsbI2c& b) {
            return b.Settings->SetFlashPasswordProtection(password.c_str());
        }));
    });
    Done(tool, "password",
         "flash protected by the password: changing power-up settings now needs it "
         "(--password-file)");
}

void PasswordOff(Tool& tool) {
    Handle& bridge = *tool.Handle(Use::Change, false);
    Unlock(tool, bridge);
    WithFlashHints([&] {
        Check(
            On(bridge, [](Corvane::VrelUsbI2c& b) { return b.Settings->SetFlashProtectionOff(); }));
    });
    Done(tool, "off", "flash protection off");
}

void PasswordLock(Tool& tool, bool confirmed) {
    if (!confirmed) {
        throw UsageError(
            "'password lock' makes the chip's power-up settings read-only for good; it cannot be "
            "undone, not even with the password. To do it, add --yes-lock-permanently");
    }
    Handle& bridge = *tool.Handle(Use::Change, false);
    Unlock(tool, bridge);
    WithFlashHints([&] {
        Check(
            On(bridge, [](Corvane::VrelUsbI2c& b) { return b.Settings->SetFlashPermanentLock(); }));
    });
    Done(tool, "locked", "flash locked permanently: the power-up settings can no longer change");
}

}  // namespace

void AddPasswordCommands(CLI::App& app, Tool& tool, Handlers& handlers) {
    auto* password = app.add_subcommand(
        "password",
        "The flash password: present it, set it, remove it, or lock the flash for good");
    password->require_subcommand(1);
    password->footer(
        "Passwords are 8 bytes as the chip counts them (8 ASCII characters; a character beyond "
        "ASCII takes 2 to 4 bytes in UTF-8), read from the terminal without echo, or from the "
        "first line of --password-file FILE. They are never printed; --trace shows their bytes "
        "as xx.");

    auto* enter = password->add_subcommand(
        "enter", "Present the access password: the chip allows flash changes until it is reset");
    handlers[enter] = [&tool] { PasswordEnter(tool); };

    auto newPasswordFile = std::make_shared<std::string>();
    auto* protect = password->add_subcommand(
        "protect",
        "Protect the power-up settings by a new password (asks for the current one "
        "first when there is one)");
    protect->add_option("--new-password-file", *newPasswordFile, "read the new password from FILE")
        ->type_name("FILE");
    handlers[protect] = [&tool, newPasswordFile] { PasswordProtect(tool, *newPasswordFile); };

    auto* off = password->add_subcommand("off", "Remove the password protection");
    handlers[off] = [&tool] { PasswordOff(tool); };

    auto confirmed = std::make_shared<bool>(false);
    auto* lock = password->add_subcommand(
        "lock", "Lock the power-up settings permanently; this cannot be undone");
    lock->add_flag("--yes-lock-permanently", *confirmed, "confirm that the lock is for good");
    handlers[lock] = [&tool, confirmed] { PasswordLock(tool, *confirmed); };
}

}  // namespace CorvaneTool
