// SPDX-License-Identifier: MIT
/* The C interfaces from C: a program compiled as C99 against corvane.h and
 * corvane_sim.h, on the simulated host. Exits non-zero at the first failure. */
#include <corvane/corvane.h>
#include <corvane/corvane_sim.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define CHECK(condition)                                                            \
    do {                                                                            \
        if (!(condition)) {                                                         \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
            exit(1);                                                                \
        }                                                                           \
    } while (0)
#define CHECK_RC(call, expected)                                                             \
    do {                                                                                     \
        long long rc_ = (long long)(call);                                                   \
        if (rc_ != (long long)(expected)) {                                                  \
            fprintf(stderr, "%s:%d: %s gave %lld (%s), expected %lld\n", __FILE__, __LINE__, \
                    #call, rc_, corvane_result_name((int32_t)rc_), (long long)(expected));   \
            exit(1);                                                                         \
        }                                                                                    \
    } while (0)

/* A target modelled in C: a one-byte register file with a pointer. */
typedef struct {
    uint8_t registers[4];
    uint8_t pointer;
    int fresh; /* the next byte written is the pointer */
    int starts, stops;
} Registers;

static int RegStart(void* user, int read) {
    Registers* r = user;
    r->starts++;
    r->fresh = !read;
    return 1;
}
static int RegWrite(void* user, uint8_t value) {
    Registers* r = user;
    if (r->fresh) {
        r->fresh = 0;
        r->pointer = value & 3;
    } else {
        r->registers[r->pointer++ & 3] = value;
    }
    return 1;
}
static uint8_t RegRead(void* user) {
    Registers* r = user;
    return r->registers[r->pointer++ & 3];
}
static void RegStop(void* user) {
    ((Registers*)user)->stops++;
}

static void Stamp(void* user, uint8_t report[64]) {
    report[1] = *(uint8_t*)user;
}

/* The last report of this command code the library sent. */
static int LastSent(corvane_sim_host* host, uint8_t command, uint8_t out[64]) {
    static corvane_sim_report trace[512];
    int32_t n = corvane_sim_host_trace(host, trace, 512);
    int32_t i;
    for (i = (n < 512 ? n : 512) - 1; i >= 0; --i) {
        if (trace[i].to_device && trace[i].bytes[0] == command) {
            memcpy(out, trace[i].bytes, 64);
            return 1;
        }
    }
    return 0;
}

int main(void) {
    corvane_sim_host* host = NULL;
    corvane_sim_device* chip = NULL;
    corvane_sim_target *eeprom = NULL, *battery = NULL, *regs = NULL;
    corvane_bridge* bridge = NULL;
    Registers model;
    corvane_sim_target_callbacks callbacks = {RegStart, RegWrite, RegRead, RegStop};
    uint8_t report[64], bytes[8];
    uint32_t got = 0;
    char text[64], version[32];
    uint16_t adc[3];
    uint8_t status = 0x42;

    /* Result codes and version. */
    CHECK(strcmp(corvane_result_name(CORVANE_I2C_NOT_ACKNOWLEDGED), "I2C_NOT_ACKNOWLEDGED") == 0);
    CHECK(strcmp(corvane_result_name(7), "DEVICE_STATUS") == 0);
    CHECK(strcmp(corvane_result_name(CORVANE_NULL_HANDLE), "NULL_HANDLE") == 0);
    CHECK(strlen(corvane_result_description(-1000)) > 0);
    sprintf(version, "%u.%u.%u", corvane_version_number() / 10000,
            corvane_version_number() / 100 % 100, corvane_version_number() % 100);
    CHECK(strcmp(version, corvane_version()) == 0);
    CHECK_RC(corvane_set_pacing(2), CORVANE_INVALID_ARG_1);
    CHECK_RC(corvane_get_pacing(), CORVANE_PACING_FIXED);
    CHECK_RC(corvane_set_pacing(CORVANE_PACING_BUS_TIME), 0);
    CHECK_RC(corvane_get_pacing(), CORVANE_PACING_BUS_TIME);
    CHECK(corvane_get_busy_timeout() == 60000);
    corvane_set_busy_timeout(0);
    CHECK(corvane_get_busy_timeout() == 0);
    CHECK(strcmp(corvane_busy_holder(), "") == 0);
    corvane_set_busy_timeout(60000);

    /* Null handles and missing out-pointers. */
    CHECK_RC(corvane_get_dev_count(NULL), CORVANE_NULL_HANDLE);
    CHECK_RC(corvane_get_usb_vid(NULL), CORVANE_NULL_HANDLE);
    CHECK_RC(corvane_sim_eeprom_read(NULL, 0, bytes, 1), CORVANE_NULL_HANDLE);
    CHECK_RC(corvane_bridge_new(0x3A7C, 0x01D5, NULL), CORVANE_INVALID_ARG_3);
    CHECK_RC(corvane_sim_eeprom_new(100, 101, &eeprom), CORVANE_INVALID_ARG_2);
    corvane_bridge_free(NULL);

    /* A virtual chip with an EEPROM, an SMBus device with PEC and a C model. */
    CHECK_RC(corvane_sim_host_install(&host), 0);
    CHECK_RC(corvane_sim_device_new(0x3A7C, 0x01D5, &chip), 0);
    CHECK_RC(corvane_sim_eeprom_new(32768, 64, &eeprom), 0);
    CHECK_RC(corvane_sim_smbus_new(0x0B, &battery), 0);
    CHECK_RC(corvane_sim_smbus_enable_pec(battery, 1), 0);
    CHECK_RC(corvane_sim_smbus_enable_pec(eeprom, 1),
             CORVANE_NULL_HANDLE); /* not an SMBus device */
    memset(&model, 0, sizeof model);
    CHECK_RC(corvane_sim_callback_target_new(&callbacks, &model, &regs), 0);
    CHECK_RC(corvane_sim_device_attach_target(chip, 0x50, eeprom), 0);
    CHECK_RC(corvane_sim_device_attach_target(chip, 0x0B, battery), 0);
    CHECK_RC(corvane_sim_device_attach_target(chip, 0x20, regs), 0);
    CHECK_RC(corvane_sim_host_plug(host, chip), 0);
    CHECK_RC(corvane_bridge_new(0x3A7C, 0x01D5, &bridge), 0);

    /* Management, and texts through caller buffers. */
    CHECK_RC(corvane_get_connection_status(bridge), 1);
    CHECK_RC(corvane_get_dev_count(bridge), 1);
    CHECK_RC(corvane_select_dev(bridge, 1), CORVANE_DEVICE_INDEX_ERROR);
    CHECK(corvane_get_selected_dev_info(bridge, NULL, 0) > 1);
    CHECK_RC(corvane_get_usb_string_manufacturer(bridge, text, sizeof text), 16);
    CHECK(strcmp(text, "Corvane Systems") == 0);
    CHECK_RC(corvane_get_usb_string_manufacturer(bridge, text, 4), 16);
    CHECK(text[0] == '\0');
    CHECK_RC(corvane_set_usb_string_descriptor(bridge, "B\xc3\xa4nch \xf0\x9f\x94\xa7"), 0);
    CHECK_RC(corvane_get_usb_string_descriptor(bridge, text, sizeof text), 12);
    CHECK(strcmp(text, "B\xc3\xa4nch \xf0\x9f\x94\xa7") == 0);
    CHECK_RC(corvane_set_usb_string_descriptor(bridge, "bad \xc3"), CORVANE_INVALID_ARG_1);
    CHECK_RC(corvane_set_usb_string_descriptor(bridge, NULL), CORVANE_INVALID_ARG_1);
    CHECK_RC(corvane_get_firmware_version(bridge, text, sizeof text), 4);
    CHECK(strcmp(text, "1.2") == 0);
    CHECK_RC(corvane_get_usb_vid(bridge), 0x3A7C);

    /* Pins and ADC. */
    {
        const uint8_t designations[4] = {0, 2, 0, 0}, directions[4] = {1, 1, 0, 1},
                      values[4] = {0, 0, 1, 0};
        uint8_t got[3][4];
        CHECK_RC(corvane_set_gp_pin_configuration(bridge, CORVANE_CURRENT_SETTINGS_ONLY,
                                                  designations, directions, values),
                 0);
        CHECK_RC(corvane_get_gp_pin_configuration(bridge, CORVANE_CURRENT_SETTINGS_ONLY, got[0],
                                                  got[1], NULL),
                 CORVANE_INVALID_ARG_4);
        CHECK_RC(corvane_get_gp_pin_configuration(bridge, CORVANE_CURRENT_SETTINGS_ONLY, got[0],
                                                  got[1], got[2]),
                 0);
        CHECK(memcmp(got[0], designations, 4) == 0 && memcmp(got[2], values, 4) == 0);
        CHECK_RC(corvane_sim_device_pin_level(chip, 2), 1);
        CHECK_RC(corvane_write_gpio_pin_value(bridge, 2, 0), 0);
        CHECK_RC(corvane_sim_device_pin_level(chip, 2), 0);
        CHECK_RC(corvane_sim_device_set_pin_input(chip, 0, 1), 0);
        CHECK_RC(corvane_read_gpio_pin_value(bridge, 0), 1);
        CHECK_RC(corvane_read_gpio_pin_value(bridge, 4), CORVANE_INVALID_ARG_1);
        CHECK_RC(corvane_sim_device_set_adc_input(chip, 0, 1650), 0);
        CHECK_RC(corvane_get_adc_data(bridge, adc), 0);
        CHECK(adc[0] == 511);
    }

    /* I2C: a write to the EEPROM, checked on the wire and in its memory. */
    {
        const uint8_t write[] = {0x00, 0x10, 0xDE, 0xAD};
        CHECK_RC(corvane_write_i2c_data(bridge, 0xA0, write, 4, 100000), 0);
        CHECK(LastSent(host, 0x90, report));
        CHECK(report[1] == 4 && report[2] == 0 && report[3] == 0xA0);
        CHECK(memcmp(report + 4, write, 4) == 0);
        CHECK_RC(corvane_sim_eeprom_read(eeprom, 0x10, bytes, 2), 0);
        CHECK(bytes[0] == 0xDE && bytes[1] == 0xAD);
        CHECK_RC(corvane_write_i2c_data(bridge, 0xA0, write, 2, 100000), 0);
        CHECK_RC(corvane_read_i2c_data(bridge, 0xA1, bytes, 2, 100000, &got), 0);
        CHECK(got == 2);
        CHECK(bytes[0] == 0xDE && bytes[1] == 0xAD);
        CHECK_RC(corvane_write_i2c_data(bridge, 0xA0, NULL, 4, 100000), CORVANE_INVALID_ARG_2);
        CHECK_RC(corvane_read_i2c_data(bridge, 0xA3, bytes, 1, 100000, &got),
                 CORVANE_I2C_NOT_ACKNOWLEDGED);
    }

    /* The target modelled in C. */
    {
        const uint8_t write[] = {1, 0x11, 0x22};
        CHECK_RC(corvane_write_i2c_data(bridge, 0x40, write, 3, 400000), 0);
        CHECK(model.registers[1] == 0x11 && model.registers[2] == 0x22);
        CHECK(model.starts == 1 && model.stops == 1);
        CHECK_RC(corvane_read_i2c_data(bridge, 0x41, bytes, 2, 400000, NULL), 0);
        CHECK(bytes[0] == 0x00 && bytes[1] == 0x00); /* pointer after the write: 3, 0 */
    }

    /* SMBus block with PEC. */
    {
        const uint8_t block[] = {'C', 'v'};
        CHECK_RC(corvane_sim_smbus_set_register(battery, 0x20, block, 2), 0);
        CHECK_RC(corvane_smb_read_block(bridge, 0x16, bytes, 2, 100000, 1, 0x20, &got), 0);
        CHECK(got == 2);
        CHECK(bytes[0] == 'C' && bytes[1] == 'v');
        CHECK_RC(corvane_sim_device_corrupt_i2c_read_tail(chip, 1), 0);
        CHECK_RC(corvane_smb_read_block(bridge, 0x16, bytes, 2, 100000, 1, 0x20, NULL),
                 CORVANE_PEC_MISMATCH);
        CHECK_RC(corvane_smb_write_block(bridge, 0x16, block, 2, 100000, 1), 0);
    }

    /* The bus as Linux programs speak it: 7-bit addresses, combined transfers. */
    {
        corvane_bus* bus = NULL;
        uint8_t offset[2] = {0x00, 0x10};
        const uint8_t block[] = {'a', 'b', 'c'};
        corvane_i2c_message messages[2];
        CHECK_RC(corvane_bus_new(bridge, 400000, &bus), 0);
        CHECK_RC(corvane_bus_speed(bus), 400000);
        CHECK_RC(corvane_bus_write_read(bus, 0x50, offset, 2, bytes, 2), 2);
        CHECK(bytes[0] == 0xDE && bytes[1] == 0xAD);
        messages[0].address7 = 0x50, messages[0].read = 0, messages[0].length = 2;
        messages[0].data = offset;
        messages[1].address7 = 0x50, messages[1].read = 1, messages[1].length = 1;
        messages[1].data = bytes + 4;
        CHECK_RC(corvane_bus_transfer(bus, messages, 2), 2);
        CHECK(bytes[4] == 0xDE);
        CHECK_RC(corvane_bus_quick(bus, 0x51), CORVANE_I2C_NOT_ACKNOWLEDGED);
        CHECK(corvane_result_errno(CORVANE_I2C_NOT_ACKNOWLEDGED) == ENXIO);
        CHECK_RC(corvane_bus_read(bus, 0x50, NULL, 2), CORVANE_I2CBUS_INVALID_ARGUMENT);
        CHECK_RC(corvane_bus_set_pec(bus, 1), 0);
        CHECK_RC(corvane_bus_pec(bus), 1);
        CHECK_RC(corvane_sim_smbus_set_block_register(battery, 0x21, block, 3), 0);
        CHECK_RC(corvane_bus_read_block_data(bus, 0x0B, 0x21, bytes, sizeof bytes), 3);
        CHECK(memcmp(bytes, block, 3) == 0);
        CHECK_RC(corvane_bus_speed(NULL), CORVANE_NULL_HANDLE);
        corvane_bus_free(bus);
    }

    /* A read the device ends early: the count says so, or the call fails. */
    CHECK_RC(corvane_sim_device_end_next_i2c_read_early(chip), 0);
    CHECK_RC(corvane_read_i2c_data(bridge, 0xA1, bytes, 4, 100000, &got), 0);
    CHECK(got == 3);
    CHECK_RC(corvane_sim_device_end_next_i2c_read_early(chip), 0);
    CHECK_RC(corvane_read_i2c_data(bridge, 0xA1, bytes, 4, 100000, NULL),
             CORVANE_I2CBUS_SHORT_READ);
    CHECK_RC(corvane_sim_device_end_next_i2c_read_early(chip), 0);
    CHECK_RC(corvane_smb_read_block(bridge, 0x16, bytes, 2, 100000, 0, 0x20, &got), 0);
    CHECK(got == 1);

    /* A second bridge in front: handles stay on their own chips, whatever is
     * made and selected meanwhile, and a bus outlives its bridge handle. */
    {
        corvane_sim_device* front = NULL;
        corvane_sim_target* frontEeprom = NULL;
        corvane_bridge *second = NULL, *other = NULL;
        corvane_bus* bus = NULL;
        const uint8_t mark[3] = {0x00, 0x40, 0x5A};
        CHECK_RC(corvane_sim_device_new(0x3A7C, 0x01D5, &front), 0);
        CHECK_RC(corvane_sim_eeprom_new(32768, 64, &frontEeprom), 0);
        CHECK_RC(corvane_sim_device_attach_target(front, 0x50, frontEeprom), 0);
        CHECK_RC(corvane_sim_host_plug_at(host, front, 0), 0);
        CHECK_RC(corvane_bridge_open(0x3A7C, 0x01D5, 1, NULL, NULL, &second), 0);
        CHECK_RC(corvane_bridge_open(0x3A7C, 0x01D5, 2, NULL, NULL, &other),
                 CORVANE_BRIDGE_NOT_FOUND);
        CHECK_RC(corvane_bus_new(second, 100000, &bus), 0);
        corvane_bridge_free(second);
        CHECK_RC(corvane_bridge_new(0x3A7C, 0x01D5, &other), 0);
        CHECK_RC(corvane_get_connection_status(other), 1); /* binds to the first: front */
        CHECK_RC(corvane_bus_write(bus, 0x50, mark, 3), 0);
        CHECK_RC(corvane_sim_eeprom_read(eeprom, 0x40, bytes, 1), 0);
        CHECK(bytes[0] == 0x5A);
        CHECK_RC(corvane_sim_eeprom_read(frontEeprom, 0x40, bytes, 1), 0);
        CHECK(bytes[0] == 0xFF);
        CHECK_RC(corvane_bus_read(bus, 0x50, NULL, 0), CORVANE_I2CBUS_INVALID_ARGUMENT);
        CHECK_RC(corvane_bus_read(bus, 0x50, NULL, 1), CORVANE_I2CBUS_INVALID_ARGUMENT);
        CHECK_RC(corvane_bus_read(bus, 0x50, bytes, (size_t)65536),
                 CORVANE_I2CBUS_INVALID_ARGUMENT);
        CHECK_RC(corvane_sim_host_unplug(host, chip), 0);
        CHECK_RC(corvane_bus_write(bus, 0x50, mark, 3), CORVANE_BRIDGE_UNPLUGGED);
        CHECK(corvane_result_errno(CORVANE_BRIDGE_UNPLUGGED) == ENODEV);
        CHECK_RC(corvane_sim_host_plug(host, chip), 0);
        CHECK_RC(corvane_bus_write(bus, 0x50, mark, 3), 0);
        corvane_bus_free(bus);
        corvane_bridge_free(other);
        CHECK_RC(corvane_sim_host_unplug(host, front), 0);
        corvane_sim_target_free(frontEeprom);
        corvane_sim_device_free(front);
    }

    /* Injected faults: an edited status byte, a silent chip. */
    CHECK_RC(corvane_sim_device_edit_responses(chip, 0x51, Stamp, &status, 1), 0);
    CHECK_RC(corvane_read_gpio_pin_value(bridge, 0), 0x42);
    CHECK_RC(corvane_sim_device_set_silent(chip, 1), 0);
    CHECK(corvane_read_gpio_pin_value(bridge, 0) < 0);
    CHECK(corvane_sim_host_now_us(host) > 1000000); /* time-outs cost virtual time */
    CHECK_RC(corvane_sim_device_clear_faults(chip), 0);
    CHECK_RC(corvane_read_gpio_pin_value(bridge, 0), 1);

    corvane_bridge_free(bridge);
    corvane_sim_target_free(regs);
    corvane_sim_target_free(battery);
    corvane_sim_target_free(eeprom);
    CHECK_RC(corvane_sim_host_unplug(host, chip), 0);
    corvane_sim_device_free(chip);
    corvane_sim_host_free(host);
    corvane_sim_host_uninstall();
    puts("C interface: all checks passed");
    return 0;
}
