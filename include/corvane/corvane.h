// SPDX-License-Identifier: MIT
/* The Corvane host library for C (C99) and for any language with a C
 * foreign-function interface.
 *
 * Conventions:
 * - Every operation returns a result code: 0 (CORVANE_SUCCESS) or a value
 *   asked for (>= 0), a negative code for a failure, or the device's non-zero
 *   status byte (1 to 255). corvane_result_name(), _description() and
 *   _errno() explain a code.
 * - The operations mirror the C++ facets (corvane/VrelUsbI2c.hpp) one to one;
 *   CORVANE_INVALID_ARG_N counts the operation's arguments after the handle,
 *   as the C++ operation does. A null handle gives CORVANE_NULL_HANDLE.
 * - Texts are UTF-8, NUL-terminated. A text getter writes into the caller's
 *   buffer of `size` bytes and returns the number of bytes the text needs,
 *   its NUL included; when that is more than `size` it writes only a NUL
 *   (when size > 0). Malformed UTF-8 given to a setter is refused as an
 *   invalid argument.
 * - No exception leaves the library: running out of memory gives
 *   CORVANE_OUT_OF_MEMORY, anything else unexpected CORVANE_HOST_ERROR.
 * - Thread-safe as the library is: operations wait for each other. A handle
 *   must not be freed while another thread uses it.
 * - A bridge handle is bound to one bridge (its device path; its serial number
 *   when opened by serial): whatever other handles or library objects select,
 *   its operations reach that bridge, or fail with CORVANE_BRIDGE_UNPLUGGED
 *   while it is not attached, and work again once it is back. A bus made on a
 *   bridge handle is bound to the same bridge.
 */
#ifndef CORVANE_CORVANE_H
#define CORVANE_CORVANE_H

#include <stddef.h>
#include <stdint.h>

#include "corvane/Export.hpp"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- result codes (corvane/ResultCodes.hpp) -------------------------------- */
#define CORVANE_SUCCESS 0
#define CORVANE_DEVICE_INDEX_ERROR (-2)
#define CORVANE_REPORT_WRITE_FAILED (-4)
#define CORVANE_REPORT_READ_FAILED (-5)
#define CORVANE_RESPONSE_MISMATCH (-6)
#define CORVANE_SMB_SPEED_CMD_FAILED (-8)
#define CORVANE_VREF_INVALID (-9)
#define CORVANE_PIN_NOT_GPIO (-10)
#define CORVANE_SMB_NO_REPEATED_START (-11)
#define CORVANE_PEC_MISMATCH (-12)
#define CORVANE_FLASH_LOCKED (-13)
#define CORVANE_PASSWORD_REJECTED (-14)
#define CORVANE_POWER_SOURCE_INVALID (-15)
#define CORVANE_I2C_STATE_ERROR (-18)
#define CORVANE_I2C_RETRIES_EXHAUSTED (-19)
#define CORVANE_SPEED_CMD_FAILED (-22)
#define CORVANE_I2C_NOT_ACKNOWLEDGED (-23)
#define CORVANE_READ_CMD_REJECTED (-24)
#define CORVANE_GET_DATA_REJECTED (-25)
#define CORVANE_READ_DATA_ERROR (-26)
#define CORVANE_READ_OVERRUN (-27)
#define CORVANE_INVALID_ARG_1 (-201)
#define CORVANE_INVALID_ARG_2 (-202)
#define CORVANE_INVALID_ARG_3 (-203)
#define CORVANE_INVALID_ARG_4 (-204)
#define CORVANE_I2CBUS_INVALID_ARGUMENT (-300)
#define CORVANE_I2CBUS_NOT_SUPPORTED (-301)
#define CORVANE_I2CBUS_SHORT_READ (-302)
#define CORVANE_I2CBUS_BLOCK_COUNT_INVALID (-303)
#define CORVANE_OUT_OF_MEMORY (-400)
#define CORVANE_HOST_ERROR (-401)
#define CORVANE_NULL_HANDLE (-402)
#define CORVANE_BRIDGE_NOT_FOUND (-500)
#define CORVANE_BRIDGE_UNPLUGGED (-501)
#define CORVANE_BRIDGE_BUSY (-502)

/* Selectors of the settings operations (corvane/DllConstants.hpp). */
#define CORVANE_CURRENT_SETTINGS_ONLY 0
#define CORVANE_PWRUP_DEFAULTS_ONLY 1
#define CORVANE_BOTH 2

/* "SUCCESS", "I2C_NOT_ACKNOWLEDGED", ...: static text, never null. */
CORVANE_API const char* corvane_result_name(int32_t code);
/* One line for people, without a trailing period. Static text, never null. */
CORVANE_API const char* corvane_result_description(int32_t code);
/* The errno a Linux i2c-dev bus gives for the same failure (ENXIO for an
 * address nobody acknowledged, ...); 0 for values >= 0. */
CORVANE_API int corvane_result_errno(int32_t code);

/* The library's version, "MAJOR.MINOR.PATCH", and as MAJOR * 10000 +
 * MINOR * 100 + PATCH. */
CORVANE_API const char* corvane_version(void);
CORVANE_API uint32_t corvane_version_number(void);

/* How the I2C and SMBus transfers wait between reports (corvane/Pacing.hpp),
 * for the whole process: the device's fixed pauses (the default), or only the
 * wire time of the bytes, which is faster; a chunk sent too early is refused
 * by the device and sent again. corvane_set_pacing() returns 0, or
 * CORVANE_INVALID_ARG_1 for another value (nothing changes). */
#define CORVANE_PACING_FIXED 0
#define CORVANE_PACING_BUS_TIME 1
CORVANE_API int32_t corvane_set_pacing(int32_t pacing);
CORVANE_API int32_t corvane_get_pacing(void);

/* How long an operation waits while another program uses the bridge
 * (corvane/BusyTimeout.hpp), for the whole process, in ms: default 60000;
 * 0 tries once. Past it the operation fails with CORVANE_BRIDGE_BUSY and has
 * sent nothing. corvane_busy_holder() names who held the bridge at the
 * calling thread's last CORVANE_BRIDGE_BUSY, "corvane-i2cdev (pid 1234)", or
 * "" where the system cannot tell; the text stays valid until the thread's
 * next call of it. */
CORVANE_API void corvane_set_busy_timeout(uint32_t ms);
CORVANE_API uint32_t corvane_get_busy_timeout(void);
CORVANE_API const char* corvane_busy_holder(void);

/* ---- the bridge (Corvane::VrelUsbI2c) ---------------------------------------- */
typedef struct corvane_bridge corvane_bridge;

/* Makes a handle for bridges with these USB IDs (0x3A7C, 0x01D5 by default
 * in C++); sets *bridge, or leaves it alone on failure. No device is searched
 * for yet: the handle binds to the first bridge its first operation finds, or
 * to the one corvane_select_dev() names. */
CORVANE_API int32_t corvane_bridge_new(uint32_t vendor_id, uint32_t product_id,
                                       corvane_bridge** bridge);
/* Opens a handle on one bridge: the one at `path` when it is not null, else
 * the one whose USB serial number is `serial` when it is not null, else the
 * index-th found (from 0). Sets *bridge, or returns CORVANE_BRIDGE_NOT_FOUND
 * (CORVANE_DEVICE_INDEX_ERROR for a negative index). Handles that exist keep
 * their bridges. */
CORVANE_API int32_t corvane_bridge_open(uint32_t vendor_id, uint32_t product_id, int32_t index,
                                        const char* serial, const char* path,
                                        corvane_bridge** bridge);
/* The device path the handle is bound to (empty while it is not bound yet),
 * and the serial number it was opened by (empty otherwise); text getters. */
CORVANE_API int32_t corvane_bridge_path(corvane_bridge* bridge, char* text, size_t size);
CORVANE_API int32_t corvane_bridge_serial(corvane_bridge* bridge, char* text, size_t size);
/* Null is ignored. Buses made on the bridge stay usable. */
CORVANE_API void corvane_bridge_free(corvane_bridge* bridge);

/* ---- Functions facet -------------------------------------------------------- */
/* The byte count of the transfers is the buffer's length; data may be null
 * when count is 0. Addresses are 8-bit address bytes, as in C++. */
CORVANE_API int32_t corvane_enter_access_password(corvane_bridge* bridge, const char* password);
CORVANE_API int32_t corvane_write_i2c_data(corvane_bridge* bridge, uint8_t address,
                                           const uint8_t* data, uint32_t count, uint32_t speed);
/* The reads store the bytes that arrived into data and their number into
 * *received; a read the device ends early still returns 0 then. With received
 * null, a read that ends early returns CORVANE_I2CBUS_SHORT_READ. */
CORVANE_API int32_t corvane_read_i2c_data(corvane_bridge* bridge, uint8_t address, uint8_t* data,
                                          uint32_t count, uint32_t speed, uint32_t* received);
CORVANE_API int32_t corvane_stop_i2c_data_transfer(corvane_bridge* bridge);
CORVANE_API int32_t corvane_smb_write_block(corvane_bridge* bridge, uint8_t address,
                                            const uint8_t* data, uint32_t count, uint32_t speed,
                                            uint8_t uses_pec);
CORVANE_API int32_t corvane_smb_read_block(corvane_bridge* bridge, uint8_t address, uint8_t* data,
                                           uint32_t count, uint32_t speed, uint8_t uses_pec,
                                           uint8_t register_index, uint32_t* received);
CORVANE_API int32_t corvane_reset_device(corvane_bridge* bridge);
CORVANE_API int32_t corvane_clear_interrupt_pin_state(corvane_bridge* bridge);
/* 1 when the interrupt flag is set, 0 when not, or a negative code. */
CORVANE_API int32_t corvane_get_interrupt_pin_state(corvane_bridge* bridge);
/* On 0, readings[0..2] hold the three 10-bit ADC readings. */
CORVANE_API int32_t corvane_get_adc_data(corvane_bridge* bridge, uint16_t readings[3]);
CORVANE_API int32_t corvane_read_gpio_pin_value(corvane_bridge* bridge, uint8_t pin);
CORVANE_API int32_t corvane_write_gpio_pin_value(corvane_bridge* bridge, uint8_t pin,
                                                 uint8_t value);

/* ---- Management facet ------------------------------------------------------- */
/* On a bridge handle these name the handle's own bridge: the selected device
 * is the handle's (its number among those the last search found), and
 * corvane_select_dev() binds this handle to another bridge, leaving every
 * other handle where it is. */
CORVANE_API int32_t corvane_get_dev_count(corvane_bridge* bridge);
CORVANE_API int32_t corvane_get_selected_dev_num(corvane_bridge* bridge);
CORVANE_API int32_t corvane_get_selected_dev_info(corvane_bridge* bridge, char* text, size_t size);
CORVANE_API int32_t corvane_select_dev(corvane_bridge* bridge, int32_t index);

/* ---- Settings facet ---------------------------------------------------------- */
/* Runs a discovery pass: 1 when the selected device is connected, else 0. */
CORVANE_API int32_t corvane_get_connection_status(corvane_bridge* bridge);
CORVANE_API int32_t corvane_get_serial_number(corvane_bridge* bridge, char* text, size_t size);
CORVANE_API int32_t corvane_set_serial_number(corvane_bridge* bridge, const char* text);
CORVANE_API int32_t corvane_get_serial_number_enumeration_enable(corvane_bridge* bridge);
CORVANE_API int32_t corvane_set_serial_number_enumeration_enable(corvane_bridge* bridge,
                                                                 int32_t enable);
CORVANE_API int64_t corvane_get_usb_vid(corvane_bridge* bridge);
CORVANE_API int64_t corvane_get_usb_pid(corvane_bridge* bridge);
CORVANE_API int32_t corvane_set_usb_vid_pid(corvane_bridge* bridge, uint32_t vid, uint32_t pid);
CORVANE_API int32_t corvane_get_usb_power_source(corvane_bridge* bridge);
CORVANE_API int32_t corvane_set_usb_power_source(corvane_bridge* bridge, int32_t source);
CORVANE_API int32_t corvane_get_usb_remote_wakeup_enable(corvane_bridge* bridge);
CORVANE_API int32_t corvane_set_usb_remote_wakeup_enable(corvane_bridge* bridge, int32_t enable);
CORVANE_API int32_t corvane_get_usb_current_requirement(corvane_bridge* bridge);
CORVANE_API int32_t corvane_set_usb_current_requirement(corvane_bridge* bridge,
                                                        int32_t milliamperes);
CORVANE_API int32_t corvane_get_usb_string_manufacturer(corvane_bridge* bridge, char* text,
                                                        size_t size);
CORVANE_API int32_t corvane_set_usb_string_manufacturer(corvane_bridge* bridge, const char* text);
CORVANE_API int32_t corvane_get_usb_string_descriptor(corvane_bridge* bridge, char* text,
                                                      size_t size);
CORVANE_API int32_t corvane_set_usb_string_descriptor(corvane_bridge* bridge, const char* text);
CORVANE_API int32_t corvane_get_flash_protection_state(corvane_bridge* bridge);
CORVANE_API int32_t corvane_set_flash_protection_off(corvane_bridge* bridge);
CORVANE_API int32_t corvane_set_flash_permanent_lock(corvane_bridge* bridge);
CORVANE_API int32_t corvane_set_flash_password_protection(corvane_bridge* bridge,
                                                          const char* password);
/* Pin arrays hold GP0 to GP3. */
CORVANE_API int32_t corvane_get_gp_pin_configuration(corvane_bridge* bridge, int32_t which,
                                                     uint8_t designations[4], uint8_t directions[4],
                                                     uint8_t values[4]);
CORVANE_API int32_t corvane_set_gp_pin_configuration(corvane_bridge* bridge, int32_t which,
                                                     const uint8_t designations[4],
                                                     const uint8_t directions[4],
                                                     const uint8_t values[4]);
CORVANE_API int32_t corvane_get_gp_pin_direction(corvane_bridge* bridge, int32_t which,
                                                 uint8_t pin);
CORVANE_API int32_t corvane_set_gp_pin_direction(corvane_bridge* bridge, int32_t which, uint8_t pin,
                                                 uint8_t direction);
CORVANE_API int32_t corvane_get_dac_voltage_reference(corvane_bridge* bridge);
CORVANE_API int32_t corvane_set_dac_voltage_reference(corvane_bridge* bridge, int32_t vref);
CORVANE_API int32_t corvane_get_dac_value(corvane_bridge* bridge);
CORVANE_API int32_t corvane_set_dac_value(corvane_bridge* bridge, int32_t value);
CORVANE_API int32_t corvane_get_adc_voltage_reference(corvane_bridge* bridge);
CORVANE_API int32_t corvane_set_adc_voltage_reference(corvane_bridge* bridge, int32_t vref);
CORVANE_API int32_t corvane_get_interrupt_pin_mode(corvane_bridge* bridge, int32_t which);
CORVANE_API int32_t corvane_set_interrupt_pin_mode(corvane_bridge* bridge, int32_t which,
                                                   int32_t mode);
CORVANE_API int32_t corvane_get_clock_pin_divider_value(corvane_bridge* bridge, int32_t which);
CORVANE_API int32_t corvane_get_clock_pin_duty_cycle(corvane_bridge* bridge, int32_t which);
CORVANE_API int32_t corvane_set_clock_pin_configuration(corvane_bridge* bridge, int32_t which,
                                                        int32_t divider, int32_t duty_cycle);
CORVANE_API int32_t corvane_get_initial_pin_value_led_uart_tx(corvane_bridge* bridge);
CORVANE_API int32_t corvane_set_initial_pin_value_led_uart_tx(corvane_bridge* bridge,
                                                              int32_t value);
CORVANE_API int32_t corvane_get_initial_pin_value_led_uart_rx(corvane_bridge* bridge);
CORVANE_API int32_t corvane_set_initial_pin_value_led_uart_rx(corvane_bridge* bridge,
                                                              int32_t value);
CORVANE_API int32_t corvane_get_initial_pin_value_led_i2c(corvane_bridge* bridge);
CORVANE_API int32_t corvane_set_initial_pin_value_led_i2c(corvane_bridge* bridge, int32_t value);
CORVANE_API int32_t corvane_get_initial_pin_value_sspnd(corvane_bridge* bridge);
CORVANE_API int32_t corvane_set_initial_pin_value_sspnd(corvane_bridge* bridge, int32_t value);
CORVANE_API int32_t corvane_get_initial_pin_value_usbcfg(corvane_bridge* bridge);
CORVANE_API int32_t corvane_set_initial_pin_value_usbcfg(corvane_bridge* bridge, int32_t value);
/* "X.Y". */
CORVANE_API int32_t corvane_get_firmware_version(corvane_bridge* bridge, char* text, size_t size);

/* ---- the bus as Linux programs speak it (Corvane::I2cBus) ------------------ */
/* 7-bit addresses; results >= 0 are values (bytes read, a byte, a word, a
 * count), negative ones result codes. A null data pointer with a count above
 * 0 gives CORVANE_I2CBUS_INVALID_ARGUMENT. */
typedef struct corvane_bus corvane_bus;

/* One message of corvane_bus_transfer(), as Linux's struct i2c_msg. */
typedef struct corvane_i2c_message {
    uint8_t address7;
    uint8_t read;    /* non-zero: the bytes are received into data */
    uint16_t length; /* bytes at data */
    uint8_t* data;   /* for a write, the bytes sent (not changed) */
} corvane_i2c_message;

/* The bus is bound to the bridge handle's bridge and keeps it: the bridge
 * handle may be freed first. Transfers above 65,535 bytes are refused. */
CORVANE_API int32_t corvane_bus_new(corvane_bridge* bridge, uint32_t speed, corvane_bus** bus);
CORVANE_API void corvane_bus_free(corvane_bus* bus);
CORVANE_API int32_t corvane_bus_set_speed(corvane_bus* bus, uint32_t speed);
CORVANE_API int64_t corvane_bus_speed(corvane_bus* bus);
CORVANE_API int32_t corvane_bus_set_pec(corvane_bus* bus, int32_t on);
CORVANE_API int32_t corvane_bus_pec(corvane_bus* bus);
CORVANE_API int32_t corvane_bus_write(corvane_bus* bus, uint8_t address7, const uint8_t* data,
                                      size_t count);
CORVANE_API int32_t corvane_bus_read(corvane_bus* bus, uint8_t address7, uint8_t* data,
                                     size_t count);
/* Write without STOP, repeated START, read. */
CORVANE_API int32_t corvane_bus_write_read(corvane_bus* bus, uint8_t address7, const uint8_t* out,
                                           size_t out_count, uint8_t* in, size_t in_count);
/* One write, one read, or a write followed by a read of the same address;
 * returns the number of messages carried out. */
CORVANE_API int32_t corvane_bus_transfer(corvane_bus* bus, corvane_i2c_message* messages,
                                         size_t count);
CORVANE_API int32_t corvane_bus_quick(corvane_bus* bus, uint8_t address7);
CORVANE_API int32_t corvane_bus_read_byte(corvane_bus* bus, uint8_t address7);
CORVANE_API int32_t corvane_bus_write_byte(corvane_bus* bus, uint8_t address7, uint8_t value);
CORVANE_API int32_t corvane_bus_read_byte_data(corvane_bus* bus, uint8_t address7, uint8_t command);
CORVANE_API int32_t corvane_bus_write_byte_data(corvane_bus* bus, uint8_t address7, uint8_t command,
                                                uint8_t value);
CORVANE_API int32_t corvane_bus_read_word_data(corvane_bus* bus, uint8_t address7, uint8_t command);
CORVANE_API int32_t corvane_bus_write_word_data(corvane_bus* bus, uint8_t address7, uint8_t command,
                                                uint16_t value);
CORVANE_API int32_t corvane_bus_process_call(corvane_bus* bus, uint8_t address7, uint8_t command,
                                             uint16_t value);
/* The block's bytes (without its count) into out; returns the count. */
CORVANE_API int32_t corvane_bus_read_block_data(corvane_bus* bus, uint8_t address7, uint8_t command,
                                                uint8_t* out, size_t capacity);
CORVANE_API int32_t corvane_bus_write_block_data(corvane_bus* bus, uint8_t address7,
                                                 uint8_t command, const uint8_t* data,
                                                 size_t count);
/* SMBus block write-block read process call: sends data (1 to 32 bytes)
 * with its count, reads a counted block into out; returns the count. */
CORVANE_API int32_t corvane_bus_block_process_call(corvane_bus* bus, uint8_t address7,
                                                   uint8_t command, const uint8_t* data,
                                                   size_t count, uint8_t* out, size_t capacity);
CORVANE_API int32_t corvane_bus_read_i2c_block_data(corvane_bus* bus, uint8_t address7,
                                                    uint8_t command, uint8_t* out, size_t count);
CORVANE_API int32_t corvane_bus_write_i2c_block_data(corvane_bus* bus, uint8_t address7,
                                                     uint8_t command, const uint8_t* data,
                                                     size_t count);

#ifdef __cplusplus
}
#endif

#endif
