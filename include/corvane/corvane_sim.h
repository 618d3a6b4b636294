// SPDX-License-Identifier: MIT
/* The simulated host and the virtual Corvane chip for C (C99): run and test
 * programs that use corvane.h without hardware. Library corvane_sim.
 *
 * Conventions as in corvane.h: functions return 0 or a negative result code
 * (CORVANE_INVALID_ARG_N counts the arguments after the handle, a null handle
 * gives CORVANE_NULL_HANDLE), no exception leaves the library, and every
 * object is thread-safe. Handles are references: freeing one never takes the
 * object away from what still uses it (a plugged device, an attached target).
 *
 *   corvane_sim_host* host;   corvane_sim_device* chip;   corvane_sim_target* eeprom;
 *   corvane_sim_host_install(&host);
 *   corvane_sim_device_new(0x3A7C, 0x01D5, &chip);
 *   corvane_sim_eeprom_new(32768, 64, &eeprom);
 *   corvane_sim_device_attach_target(chip, 0x50, eeprom);
 *   corvane_sim_host_plug(host, chip);   // corvane_bridge_new() now finds it
 */
#ifndef CORVANE_CORVANE_SIM_H
#define CORVANE_CORVANE_SIM_H

#include <stddef.h>
#include <stdint.h>

#include "corvane/corvane.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct corvane_sim_host corvane_sim_host;
typedef struct corvane_sim_device corvane_sim_device;
typedef struct corvane_sim_target corvane_sim_target;

/* ---- the simulated host (Corvane::Sim::SimulatedHost) ----------------------- */
/* Makes a new simulated host the process-wide platform. */
CORVANE_SIM_API int32_t corvane_sim_host_install(corvane_sim_host** host);
/* Gives the process back to the operating system's backend. */
CORVANE_SIM_API void corvane_sim_host_uninstall(void);
CORVANE_SIM_API void corvane_sim_host_free(corvane_sim_host* host);
CORVANE_SIM_API int32_t corvane_sim_host_plug(corvane_sim_host* host, corvane_sim_device* device);
/* Plugs the device in at `position` in the host's list of HID interfaces (the
 * order discovery finds them in); past the end means last. */
CORVANE_SIM_API int32_t corvane_sim_host_plug_at(corvane_sim_host* host, corvane_sim_device* device,
                                                 size_t position);
CORVANE_SIM_API int32_t corvane_sim_host_unplug(corvane_sim_host* host, corvane_sim_device* device);

/* One report that crossed (report ID removed). */
typedef struct corvane_sim_report {
    uint8_t to_device; /* 1: library to device, 0: device to library */
    uint8_t bytes[64];
} corvane_sim_report;
/* Copies the first `capacity` reports of the trace into `reports` (may be
 * null when capacity is 0); returns how many the trace holds. */
CORVANE_SIM_API int32_t corvane_sim_host_trace(corvane_sim_host* host, corvane_sim_report* reports,
                                               size_t capacity);
CORVANE_SIM_API int32_t corvane_sim_host_clear_trace(corvane_sim_host* host);
/* Virtual time in microseconds; the bus time of one report. */
CORVANE_SIM_API int64_t corvane_sim_host_now_us(corvane_sim_host* host);
CORVANE_SIM_API int32_t corvane_sim_host_advance_clock_us(corvane_sim_host* host, int64_t us);
CORVANE_SIM_API int32_t corvane_sim_host_set_report_time_us(corvane_sim_host* host, int64_t us);

/* Host faults at one report transfer, counted as corvane_sim_host_transfer_count(). */
#define CORVANE_SIM_FAULT_UNPLUG 0
#define CORVANE_SIM_FAULT_SILENCE 1
#define CORVANE_SIM_FAULT_FAIL_WAIT 2
CORVANE_SIM_API int64_t corvane_sim_host_transfer_count(corvane_sim_host* host);
CORVANE_SIM_API int32_t corvane_sim_host_inject_fault(corvane_sim_host* host, uint64_t transfer,
                                                      int32_t fault);
CORVANE_SIM_API int32_t corvane_sim_host_clear_faults(corvane_sim_host* host);

/* ---- a virtual chip (Corvane::Sim::VirtualDevice) --------------------------- */
CORVANE_SIM_API int32_t corvane_sim_device_new(uint16_t vid, uint16_t pid,
                                               corvane_sim_device** device);
CORVANE_SIM_API void corvane_sim_device_free(corvane_sim_device* device);
/* Puts the target on the chip's bus at a 7-bit address (replacing any). */
CORVANE_SIM_API int32_t corvane_sim_device_attach_target(corvane_sim_device* device,
                                                         uint8_t address7,
                                                         corvane_sim_target* target);
CORVANE_SIM_API int32_t corvane_sim_device_detach_target(corvane_sim_device* device,
                                                         uint8_t address7);
/* Voltage at ADC input 0 to 2; level driven into a GPIO input pin 0 to 3. */
CORVANE_SIM_API int32_t corvane_sim_device_set_adc_input(corvane_sim_device* device,
                                                         uint32_t channel, uint16_t millivolts);
CORVANE_SIM_API int32_t corvane_sim_device_set_pin_input(corvane_sim_device* device, uint32_t pin,
                                                         uint8_t level);
/* Level of a pin as the chip sees it. */
CORVANE_SIM_API int32_t corvane_sim_device_pin_level(corvane_sim_device* device, uint32_t pin);
/* How many command reports with this code the chip has received. */
CORVANE_SIM_API int64_t corvane_sim_device_command_count(corvane_sim_device* device,
                                                         uint8_t command);

/* Device faults, as the C++ VirtualDevice methods of the same names. */
CORVANE_SIM_API int32_t corvane_sim_device_drop_responses(corvane_sim_device* device,
                                                          uint8_t command, int32_t count);
/* `edit` changes each of the next `count` answers to `command` before it leaves. */
typedef void (*corvane_sim_edit_fn)(void* user, uint8_t report[64]);
CORVANE_SIM_API int32_t corvane_sim_device_edit_responses(corvane_sim_device* device,
                                                          uint8_t command, corvane_sim_edit_fn edit,
                                                          void* user, int32_t count);
CORVANE_SIM_API int32_t corvane_sim_device_time_out_writes(corvane_sim_device* device,
                                                           int32_t count);
CORVANE_SIM_API int32_t corvane_sim_device_fail_waits(corvane_sim_device* device, int32_t count);
CORVANE_SIM_API int32_t corvane_sim_device_refuse_commands(corvane_sim_device* device,
                                                           uint8_t command, uint8_t status,
                                                           int32_t count);
CORVANE_SIM_API int32_t corvane_sim_device_set_silent(corvane_sim_device* device, int32_t silent);
CORVANE_SIM_API int32_t corvane_sim_device_clear_faults(corvane_sim_device* device);
CORVANE_SIM_API int32_t corvane_sim_device_refuse_i2c_chunks(corvane_sim_device* device,
                                                             int32_t count, uint8_t engine_state);
CORVANE_SIM_API int32_t corvane_sim_device_refuse_i2c_status_polls(corvane_sim_device* device,
                                                                   int32_t count);
CORVANE_SIM_API int32_t corvane_sim_device_delay_i2c_read_data(corvane_sim_device* device,
                                                               int32_t count);
CORVANE_SIM_API int32_t corvane_sim_device_offer_extra_i2c_bytes(corvane_sim_device* device,
                                                                 uint8_t extra);
CORVANE_SIM_API int32_t corvane_sim_device_fail_next_i2c_transfer(corvane_sim_device* device,
                                                                  uint8_t engine_state);
CORVANE_SIM_API int32_t corvane_sim_device_corrupt_i2c_read_tail(corvane_sim_device* device,
                                                                 int32_t count);
CORVANE_SIM_API int32_t corvane_sim_device_stretch_i2c_clock(corvane_sim_device* device,
                                                             int32_t hold);
CORVANE_SIM_API int32_t corvane_sim_device_skip_next_i2c_restart_wait(corvane_sim_device* device);
CORVANE_SIM_API int32_t corvane_sim_device_end_next_i2c_read_early(corvane_sim_device* device);

/* ---- targets on the virtual bus ---------------------------------------------- */
CORVANE_SIM_API void corvane_sim_target_free(corvane_sim_target* target);

/* A 24-series EEPROM with two address bytes (Corvane::Sim::Eeprom). */
CORVANE_SIM_API int32_t corvane_sim_eeprom_new(size_t size, size_t page,
                                               corvane_sim_target** target);
/* Copies between its memory and the caller's buffer; CORVANE_INVALID_ARG_N
 * when offset + count passes the end of the memory. */
CORVANE_SIM_API int32_t corvane_sim_eeprom_read(corvane_sim_target* eeprom, size_t offset,
                                                uint8_t* data, size_t count);
CORVANE_SIM_API int32_t corvane_sim_eeprom_write(corvane_sim_target* eeprom, size_t offset,
                                                 const uint8_t* data, size_t count);

/* An SMBus register device (Corvane::Sim::SmbusDevice). */
CORVANE_SIM_API int32_t corvane_sim_smbus_new(uint8_t address7, corvane_sim_target** target);
CORVANE_SIM_API int32_t corvane_sim_smbus_enable_pec(corvane_sim_target* device, int32_t on);
CORVANE_SIM_API int32_t corvane_sim_smbus_enable_byte_count(corvane_sim_target* device, int32_t on);
CORVANE_SIM_API int32_t corvane_sim_smbus_set_register(corvane_sim_target* device, uint8_t index,
                                                       const uint8_t* data, size_t count);
/* A register whose reads start with its length and whose writes carry one. */
CORVANE_SIM_API int32_t corvane_sim_smbus_set_block_register(corvane_sim_target* device,
                                                             uint8_t index, const uint8_t* data,
                                                             size_t count);
/* Copies the register's first `capacity` bytes; returns its length. */
CORVANE_SIM_API int32_t corvane_sim_smbus_register(corvane_sim_target* device, uint8_t index,
                                                   uint8_t* data, size_t capacity);

/* A target implemented by callbacks, called on the thread of the library
 * operation that drives the bus, with the user pointer. A missing callback
 * acts as: start and write_byte acknowledge, read_byte gives 0xFF. */
typedef struct corvane_sim_target_callbacks {
    /* A START or repeated START addressed the target; read is the R/W bit.
     * Non-zero: acknowledge. */
    int (*start)(void* user, int read);
    /* A byte written by the master. Non-zero: acknowledge. */
    int (*write_byte)(void* user, uint8_t value);
    /* A byte read by the master. */
    uint8_t (*read_byte)(void* user);
    /* STOP: the transfer with the target ends. */
    void (*stop)(void* user);
} corvane_sim_target_callbacks;
CORVANE_SIM_API int32_t corvane_sim_callback_target_new(
    const corvane_sim_target_callbacks* callbacks, void* user, corvane_sim_target** target);

#ifdef __cplusplus
}
#endif

#endif
