// SPDX-License-Identifier: MIT
// The C interface of the library object and its three facets.

#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <type_traits>
#include <utility>

#include "capi/Handles.hpp"
#include "corvane/BridgeHandle.hpp"
#include "corvane/Utf.hpp"
#include "corvane/detail/CInterface.hpp"

using namespace Corvane;
using Detail::OnHandle;
using Detail::TextOut;

namespace {

using Bridge = VrelUsbI2c;

// A UTF-8 text in for a setter taking UTF-16 (null passes as null).
template <typename Setter>
std::int32_t WithUtf16(const char* text, Setter setter) {
    if (text == nullptr) return setter(nullptr);
    const auto units = Utf8ToUtf16Strict(text);
    if (!units) return INVALID_ARG_1;
    return setter(units->c_str());
}

// A text getter's result through the caller's buffer.
template <typename Text>
std::int32_t TextGetter(std::int32_t result, const Text& text, char* out, std::size_t size) {
    if (result != SUCCESS) return result;
    if constexpr (std::is_same_v<Text, std::u16string>) {
        return TextOut(Utf16ToUtf8(text), out, size);
    } else {
        return TextOut(text, out, size);
    }
}

// Runs `body` on the library object with the handle's bridge selected; a
// handle whose bridge is unplugged gets BRIDGE_UNPLUGGED.
template <typename Body>
auto OnBridge(corvane_bridge* bridge, Body&& body) noexcept {
    using Result = decltype(body(std::declval<Bridge&>()));
    return OnHandle(bridge, [&](std::shared_ptr<BridgeHandle>& handle) -> Result {
        return handle->Run(
            [&](Bridge& b) -> std::int32_t { return static_cast<std::int32_t>(body(b)); });
    });
}

// A read's count of bytes received, for a caller who gave somewhere to put
// it; without one, a read that ended early is a failure.
std::int32_t Received(std::int32_t result, std::uint32_t got, std::uint32_t asked,
                      std::uint32_t* received) {
    if (received != nullptr) *received = result == SUCCESS ? got : 0;
    if (result == SUCCESS && got < asked && received == nullptr) return I2CBUS_SHORT_READ;
    return result;
}

// The caller's array of `count` bytes. The facets need storage even for no
// bytes, so an empty transfer gets a byte of its own.
template <typename Byte>
std::span<Byte> Bytes(Byte* data, std::uint32_t count, Byte& spare) {
    return count == 0 ? std::span<Byte>(&spare, 1) : std::span<Byte>(data, count);
}

}  // namespace

extern "C" {

int32_t corvane_bridge_new(uint32_t vendor_id, uint32_t product_id, corvane_bridge** bridge) {
    if (bridge == nullptr) return INVALID_ARG_3;
    return Detail::Guard([&]() -> std::int32_t {
        *bridge = new corvane_bridge{BridgeHandle::Unbound(vendor_id, product_id)};
        return SUCCESS;
    });
}

int32_t corvane_bridge_open(uint32_t vendor_id, uint32_t product_id, int32_t index,
                            const char* serial, const char* path, corvane_bridge** bridge) {
    if (bridge == nullptr) return INVALID_ARG_4;
    return Detail::Guard([&]() -> std::int32_t {
        BridgeChoice choice;
        choice.vendorId = vendor_id;
        choice.productId = product_id;
        choice.index = index;
        if (serial != nullptr) choice.serial = serial;
        if (path != nullptr) choice.path = path;
        std::shared_ptr<BridgeHandle> handle;
        const std::int32_t result = BridgeHandle::Open(choice, handle);
        if (result == SUCCESS) *bridge = new corvane_bridge{std::move(handle)};
        return result;
    });
}

int32_t corvane_bridge_path(corvane_bridge* bridge, char* text, size_t size) {
    return OnHandle(bridge, [&](std::shared_ptr<BridgeHandle>& handle) {
        return TextOut(handle->Path(), text, size);
    });
}

int32_t corvane_bridge_serial(corvane_bridge* bridge, char* text, size_t size) {
    return OnHandle(bridge, [&](std::shared_ptr<BridgeHandle>& handle) {
        return TextOut(handle->Serial(), text, size);
    });
}

void corvane_bridge_free(corvane_bridge* bridge) {
    delete bridge;
}

// ---- Functions ---------------------------------------------------------------------

int32_t corvane_enter_access_password(corvane_bridge* bridge, const char* password) {
    return OnHandle(bridge, [&](std::shared_ptr<BridgeHandle>& handle) {
        return handle->EnterAccessPassword(password);
    });
}

int32_t corvane_write_i2c_data(corvane_bridge* bridge, uint8_t address, const uint8_t* data,
                               uint32_t count, uint32_t speed) {
    return OnBridge(bridge, [&](Bridge& b) {
        if (data == nullptr && count > 0) return INVALID_ARG_2;
        const std::uint8_t spare = 0;
        return b.Functions->WriteI2cData(address, Bytes(data, count, spare), count, speed);
    });
}

int32_t corvane_read_i2c_data(corvane_bridge* bridge, uint8_t address, uint8_t* data,
                              uint32_t count, uint32_t speed, uint32_t* received) {
    if (received != nullptr) *received = 0;
    return OnBridge(bridge, [&](Bridge& b) {
        if (data == nullptr && count > 0) return INVALID_ARG_2;
        std::uint8_t spare = 0;
        if (count == 0)
            return b.Functions->ReadI2cData(address, Bytes(data, count, spare), 0, speed);
        // The combined call without bytes to write is this read, and it tells
        // how many bytes arrived.
        const std::int32_t got =
            b.Functions->WriteReadI2cData(address & 0xFE, std::span<const std::uint8_t>(), 0,
                                          Bytes(data, count, spare), count, speed);
        if (got < 0) return Received(got, 0, count, received);
        return Received(SUCCESS, static_cast<std::uint32_t>(got), count, received);
    });
}

int32_t corvane_stop_i2c_data_transfer(corvane_bridge* bridge) {
    return OnBridge(bridge, [&](Bridge& b) { return b.Functions->StopI2cDataTransfer(); });
}

int32_t corvane_smb_write_block(corvane_bridge* bridge, uint8_t address, const uint8_t* data,
                                uint32_t count, uint32_t speed, uint8_t uses_pec) {
    return OnBridge(bridge, [&](Bridge& b) {
        if (data == nullptr && count > 0) return INVALID_ARG_2;
        const std::uint8_t spare = 0;
        return b.Functions->SmbWriteBlock(address, Bytes(data, count, spare), count, speed,
                                          uses_pec);
    });
}

int32_t corvane_smb_read_block(corvane_bridge* bridge, uint8_t address, uint8_t* data,
                               uint32_t count, uint32_t speed, uint8_t uses_pec,
                               uint8_t register_index, uint32_t* received) {
    if (received != nullptr) *received = 0;
    return OnBridge(bridge, [&](Bridge& b) {
        if (data == nullptr && count > 0) return INVALID_ARG_2;
        std::uint8_t spare = 0;
        std::uint32_t got = 0;
        const std::int32_t result = b.Functions->SmbReadBlock(
            address, Bytes(data, count, spare), count, speed, uses_pec, register_index, got);
        return Received(result, got, count, received);
    });
}

int32_t corvane_reset_device(corvane_bridge* bridge) {
    return OnBridge(bridge, [&](Bridge& b) { return b.Functions->ResetDevice(); });
}

int32_t corvane_clear_interrupt_pin_state(corvane_bridge* bridge) {
    return OnBridge(bridge, [&](Bridge& b) { return b.Functions->ClearInterruptPinState(); });
}

int32_t corvane_get_interrupt_pin_state(corvane_bridge* bridge) {
    return OnBridge(bridge, [&](Bridge& b) { return b.Functions->GetInterruptPinState(); });
}

int32_t corvane_get_adc_data(corvane_bridge* bridge, uint16_t readings[3]) {
    return OnBridge(bridge, [&](Bridge& b) {
        if (readings == nullptr) return INVALID_ARG_1;
        std::array<std::uint16_t, 5> all{};  // the facet adds two zeros
        const std::int32_t result = b.Functions->GetAdcData(all);
        if (result == SUCCESS) std::copy_n(all.begin(), 3, readings);
        return result;
    });
}

int32_t corvane_read_gpio_pin_value(corvane_bridge* bridge, uint8_t pin) {
    return OnBridge(bridge, [&](Bridge& b) { return b.Functions->ReadGpioPinValue(pin); });
}

int32_t corvane_write_gpio_pin_value(corvane_bridge* bridge, uint8_t pin, uint8_t value) {
    return OnBridge(bridge, [&](Bridge& b) { return b.Functions->WriteGpioPinValue(pin, value); });
}

// ---- Management ----------------------------------------------------------------------

// A bridge handle is bound to its device: the selection it reports and
// changes is its own, never the process's.

int32_t corvane_get_dev_count(corvane_bridge* bridge) {
    return OnHandle(bridge, [&](std::shared_ptr<BridgeHandle>& handle) {
        return handle->RunUnbound([](Bridge& b) { return b.Management->GetDevCount(); });
    });
}

int32_t corvane_get_selected_dev_num(corvane_bridge* bridge) {
    return OnHandle(bridge, [&](std::shared_ptr<BridgeHandle>& handle) {
        const std::int32_t index = handle->Index();
        return index < 0 ? 0 : index;
    });
}

int32_t corvane_get_selected_dev_info(corvane_bridge* bridge, char* text, size_t size) {
    return corvane_bridge_path(bridge, text, size);
}

int32_t corvane_select_dev(corvane_bridge* bridge, int32_t index) {
    return OnHandle(bridge,
                    [&](std::shared_ptr<BridgeHandle>& handle) { return handle->Select(index); });
}

// ---- Settings ------------------------------------------------------------------------

int32_t corvane_get_connection_status(corvane_bridge* bridge) {
    return OnHandle(bridge, [&](std::shared_ptr<BridgeHandle>& handle) -> std::int32_t {
        return handle->IsAttached() ? 1 : 0;
    });
}

// The operations that take nothing but the handle and a number, and return a number.
#define CORVANE_GETTER(type, cname, method)                                               \
    type cname(corvane_bridge* bridge) {                                                  \
        return OnBridge(bridge, [&](Bridge& b) -> type { return b.Settings->method(); }); \
    }
#define CORVANE_SETTER(cname, method)                                                  \
    int32_t cname(corvane_bridge* bridge, int32_t value) {                             \
        return OnBridge(bridge, [&](Bridge& b) { return b.Settings->method(value); }); \
    }
#define CORVANE_SELECTED_GETTER(cname, method)                                         \
    int32_t cname(corvane_bridge* bridge, int32_t which) {                             \
        return OnBridge(bridge, [&](Bridge& b) { return b.Settings->method(which); }); \
    }
#define CORVANE_TEXT_GETTER(cname, method, Text)                     \
    int32_t cname(corvane_bridge* bridge, char* text, size_t size) { \
        return OnBridge(bridge, [&](Bridge& b) {                     \
            Text value;                                              \
            const std::int32_t result = b.Settings->method(value);   \
            return TextGetter(result, value, text, size);            \
        });                                                          \
    }
#define CORVANE_TEXT_SETTER(cname, method)                                                      \
    int32_t cname(corvane_bridge* bridge, const char* text) {                                   \
        return OnBridge(bridge, [&](Bridge& b) {                                                \
            return WithUtf16(text,                                                              \
                             [&](const char16_t* units) { return b.Settings->method(units); }); \
        });                                                                                     \
    }

CORVANE_TEXT_GETTER(corvane_get_serial_number, GetSerialNumber, std::u16string)
CORVANE_TEXT_SETTER(corvane_set_serial_number, SetSerialNumber)
CORVANE_GETTER(int32_t, corvane_get_serial_number_enumeration_enable,
               GetSerialNumberEnumerationEnable)

int32_t corvane_set_serial_number_enumeration_enable(corvane_bridge* bridge, int32_t enable) {
    return OnBridge(bridge, [&](Bridge& b) {
        return b.Settings->SetSerialNumberEnumerationEnable(enable != 0);
    });
}

CORVANE_GETTER(int64_t, corvane_get_usb_vid, GetUsbVid)
CORVANE_GETTER(int64_t, corvane_get_usb_pid, GetUsbPid)

int32_t corvane_set_usb_vid_pid(corvane_bridge* bridge, uint32_t vid, uint32_t pid) {
    return OnBridge(bridge, [&](Bridge& b) { return b.Settings->SetUsbVidPid(vid, pid); });
}

CORVANE_GETTER(int32_t, corvane_get_usb_power_source, GetUsbPowerSource)
CORVANE_SETTER(corvane_set_usb_power_source, SetUsbPowerSource)
CORVANE_GETTER(int32_t, corvane_get_usb_remote_wakeup_enable, GetUsbRemoteWakeupEnable)

int32_t corvane_set_usb_remote_wakeup_enable(corvane_bridge* bridge, int32_t enable) {
    return OnBridge(bridge,
                    [&](Bridge& b) { return b.Settings->SetUsbRemoteWakeupEnable(enable != 0); });
}

CORVANE_GETTER(int32_t, corvane_get_usb_current_requirement, GetUsbCurrentRequirement)
CORVANE_SETTER(corvane_set_usb_current_requirement, SetUsbCurrentRequirement)
CORVANE_TEXT_GETTER(corvane_get_usb_string_manufacturer, GetUsbStringManufacturer, std::u16string)
CORVANE_TEXT_SETTER(corvane_set_usb_string_manufacturer, SetUsbStringManufacturer)
CORVANE_TEXT_GETTER(corvane_get_usb_string_descriptor, GetUsbStringDescriptor, std::u16string)
CORVANE_TEXT_SETTER(corvane_set_usb_string_descriptor, SetUsbStringDescriptor)
CORVANE_GETTER(int32_t, corvane_get_flash_protection_state, GetFlashProtectionState)
CORVANE_GETTER(int32_t, corvane_set_flash_protection_off, SetFlashProtectionOff)
CORVANE_GETTER(int32_t, corvane_set_flash_permanent_lock, SetFlashPermanentLock)

int32_t corvane_set_flash_password_protection(corvane_bridge* bridge, const char* password) {
    return OnBridge(bridge,
                    [&](Bridge& b) { return b.Settings->SetFlashPasswordProtection(password); });
}

int32_t corvane_get_gp_pin_configuration(corvane_bridge* bridge, int32_t which,
                                         uint8_t designations[4], uint8_t directions[4],
                                         uint8_t values[4]) {
    return OnBridge(bridge, [&](Bridge& b) {
        if (designations == nullptr) return INVALID_ARG_2;
        if (directions == nullptr) return INVALID_ARG_3;
        if (values == nullptr) return INVALID_ARG_4;
        return b.Settings->GetGpPinConfiguration(which, std::span(designations, 4),
                                                 std::span(directions, 4), std::span(values, 4));
    });
}

int32_t corvane_set_gp_pin_configuration(corvane_bridge* bridge, int32_t which,
                                         const uint8_t designations[4], const uint8_t directions[4],
                                         const uint8_t values[4]) {
    return OnBridge(bridge, [&](Bridge& b) {
        if (designations == nullptr) return INVALID_ARG_2;
        if (directions == nullptr) return INVALID_ARG_3;
        if (values == nullptr) return INVALID_ARG_4;
        return b.Settings->SetGpPinConfiguration(which, std::span(designations, 4),
                                                 std::span(directions, 4), std::span(values, 4));
    });
}

int32_t corvane_get_gp_pin_direction(corvane_bridge* bridge, int32_t which, uint8_t pin) {
    return OnBridge(bridge, [&](Bridge& b) { return b.Settings->GetGpPinDirection(which, pin); });
}

int32_t corvane_set_gp_pin_direction(corvane_bridge* bridge, int32_t which, uint8_t pin,
                                     uint8_t direction) {
    return OnBridge(
        bridge, [&](Bridge& b) { return b.Settings->SetGpPinDirection(which, pin, direction); });
}

CORVANE_GETTER(int32_t, corvane_get_dac_voltage_reference, GetDacVoltageReference)
CORVANE_SETTER(corvane_set_dac_voltage_reference, SetDacVoltageReference)
CORVANE_GETTER(int32_t, corvane_get_dac_value, GetDacValue)
CORVANE_SETTER(corvane_set_dac_value, SetDacValue)
CORVANE_GETTER(int32_t, corvane_get_adc_voltage_reference, GetAdcVoltageReference)
CORVANE_SETTER(corvane_set_adc_voltage_reference, SetAdcVoltageReference)
CORVANE_SELECTED_GETTER(corvane_get_interrupt_pin_mode, GetInterruptPinMode)

int32_t corvane_set_interrupt_pin_mode(corvane_bridge* bridge, int32_t which, int32_t mode) {
    return OnBridge(bridge,
                    [&](Bridge& b) { return b.Settings->SetInterruptPinMode(which, mode); });
}

CORVANE_SELECTED_GETTER(corvane_get_clock_pin_divider_value, GetClockPinDividerValue)
CORVANE_SELECTED_GETTER(corvane_get_clock_pin_duty_cycle, GetClockPinDutyCycle)

int32_t corvane_set_clock_pin_configuration(corvane_bridge* bridge, int32_t which, int32_t divider,
                                            int32_t duty_cycle) {
    return OnBridge(bridge, [&](Bridge& b) {
        return b.Settings->SetClockPinConfiguration(which, divider, duty_cycle);
    });
}

CORVANE_GETTER(int32_t, corvane_get_initial_pin_value_led_uart_tx, GetInitialPinValueLedUartTx)
CORVANE_SETTER(corvane_set_initial_pin_value_led_uart_tx, SetInitialPinValueLedUartTx)
CORVANE_GETTER(int32_t, corvane_get_initial_pin_value_led_uart_rx, GetInitialPinValueLedUartRx)
CORVANE_SETTER(corvane_set_initial_pin_value_led_uart_rx, SetInitialPinValueLedUartRx)
CORVANE_GETTER(int32_t, corvane_get_initial_pin_value_led_i2c, GetInitialPinValueLedI2c)
CORVANE_SETTER(corvane_set_initial_pin_value_led_i2c, SetInitialPinValueLedI2c)
CORVANE_GETTER(int32_t, corvane_get_initial_pin_value_sspnd, GetInitialPinValueSspnd)
CORVANE_SETTER(corvane_set_initial_pin_value_sspnd, SetInitialPinValueSspnd)
CORVANE_GETTER(int32_t, corvane_get_initial_pin_value_usbcfg, GetInitialPinValueUsbcfg)
CORVANE_SETTER(corvane_set_initial_pin_value_usbcfg, SetInitialPinValueUsbcfg)
CORVANE_TEXT_GETTER(corvane_get_firmware_version, GetFirmwareVersion, std::string)

}  // extern "C"
