// SPDX-License-Identifier: MIT
// The USB strings kept in flash, and the revision texts of the status command.
#include "settings/DevSettings.hpp"
#include "settings/SettingsAccess.hpp"

namespace Corvane {

namespace {

std::int32_t ReadString(std::uint8_t subCode, char16_t* buffer) {
    if (buffer == nullptr) return INVALID_ARG_1;
    return DevCom::ReadFlashString(subCode, buffer);
}

std::int32_t WriteString(std::uint8_t subCode, const char16_t* text) {
    if (text == nullptr) return INVALID_ARG_1;
    return DevCom::WriteFlashString(subCode, text);
}

// The four revision characters: firmware 0 and 1, hardware 2 and 3.
std::int32_t ReadRevision(char* buffer, std::array<std::uint8_t, 4>& revision) {
    if (buffer == nullptr) return INVALID_ARG_1;
    StatusReply reply;
    const std::int32_t result = DevCom::StatusSetParameters(0, 0, 0, reply, nullptr);
    revision = reply.revision;
    return result;
}

}  // namespace

std::int32_t DevSettings::int_GetUsbStringManufacturer(char16_t* buffer) {
    return ReadString(FLASH_USB_MANUFACTURER, buffer);
}

std::int32_t DevSettings::int_SetUsbStringManufacturer(const char16_t* text) {
    return WriteString(FLASH_USB_MANUFACTURER, text);
}

std::int32_t DevSettings::int_GetUsbStringDescriptor(char16_t* buffer) {
    return ReadString(FLASH_USB_DESCRIPTOR, buffer);
}

std::int32_t DevSettings::int_SetUsbStringDescriptor(const char16_t* text) {
    return WriteString(FLASH_USB_DESCRIPTOR, text);
}

std::int32_t DevSettings::int_GetSerialNumber(char16_t* buffer) {
    return ReadString(FLASH_SERIAL_NUMBER, buffer);
}

std::int32_t DevSettings::int_SetSerialNumber(const char16_t* text) {
    return WriteString(FLASH_SERIAL_NUMBER, text);
}

std::int32_t DevSettings::int_GetFirmwareVersion(char* buffer) {
    std::array<std::uint8_t, 4> revision{};
    const std::int32_t result = ReadRevision(buffer, revision);
    if (result != SUCCESS) return result;
    buffer[0] = static_cast<char>(revision[0]);
    buffer[1] = '.';
    buffer[2] = static_cast<char>(revision[1]);
    buffer[3] = '\0';
    return SUCCESS;
}

std::int32_t DevSettings::int_GetHardwareVersion(char* buffer) {
    std::array<std::uint8_t, 4> revision{};
    const std::int32_t result = ReadRevision(buffer, revision);
    if (result != SUCCESS) return result;
    buffer[0] = static_cast<char>(revision[2]);
    buffer[1] = static_cast<char>(revision[3]);
    buffer[2] = '\0';
    return SUCCESS;
}

}  // namespace Corvane
