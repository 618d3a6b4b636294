// SPDX-License-Identifier: MIT
// The C interface of the simulated host, the virtual chip and its bus targets.

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "corvane/corvane_sim.h"
#include "corvane/detail/CInterface.hpp"
#include "corvane/sim.hpp"

using namespace Corvane;
using namespace Corvane::Sim;
using Detail::Guard;
using Detail::OnHandle;

struct corvane_sim_host {
    std::shared_ptr<SimulatedHost> object;
};
struct corvane_sim_device {
    std::shared_ptr<VirtualDevice> object;
};
struct corvane_sim_target {
    std::shared_ptr<I2cTarget> object;
};

namespace {

// A target whose behaviour is the caller's callbacks.
class CallbackTarget final : public I2cTarget {
  public:
    CallbackTarget(const corvane_sim_target_callbacks& callbacks, void* user)
        : callbacks_(callbacks), user_(user) {}
    bool Start(bool read) override {
        return callbacks_.start == nullptr || callbacks_.start(user_, read ? 1 : 0) != 0;
    }
    bool WriteByte(std::uint8_t value) override {
        return callbacks_.write_byte == nullptr || callbacks_.write_byte(user_, value) != 0;
    }
    std::uint8_t ReadByte() override {
        return callbacks_.read_byte == nullptr ? 0xFF : callbacks_.read_byte(user_);
    }
    void Stop() override {
        if (callbacks_.stop != nullptr) callbacks_.stop(user_);
    }

  private:
    corvane_sim_target_callbacks callbacks_;
    void* user_;
};

template <typename Handle, typename Object>
std::int32_t NewHandle(Handle** out, std::shared_ptr<Object> object) {
    *out = new Handle{std::move(object)};
    return SUCCESS;
}

// Runs `body` on the target behind the handle when it is a T.
template <typename T, typename Body>
std::int32_t OnTarget(corvane_sim_target* target, Body&& body) noexcept {
    return OnHandle(target, [&](std::shared_ptr<I2cTarget>& object) -> std::int32_t {
        auto* typed = dynamic_cast<T*>(object.get());
        if (typed == nullptr) return NULL_HANDLE;
        return body(*typed);
    });
}

// Runs a void `body` on the device behind the handle.
template <typename Body>
std::int32_t OnDevice(corvane_sim_device* device, Body&& body) noexcept {
    return OnHandle(device, [&](std::shared_ptr<VirtualDevice>& d) {
        body(*d);
        return SUCCESS;
    });
}

template <typename Body>
std::int32_t OnHost(corvane_sim_host* host, Body&& body) noexcept {
    return OnHandle(host, [&](std::shared_ptr<SimulatedHost>& h) {
        body(*h);
        return SUCCESS;
    });
}

template <typename Set>
std::int32_t SetRegister(corvane_sim_target* device, const uint8_t* data, size_t count, Set set) {
    return OnTarget<SmbusDevice>(device, [&](SmbusDevice& d) {
        if (data == nullptr && count > 0) return INVALID_ARG_2;
        set(d, count == 0 ? std::vector<std::uint8_t>()
                          : std::vector<std::uint8_t>(data, data + count));
        return SUCCESS;
    });
}

// The arguments of an EEPROM copy checked in their order: 0 or INVALID_ARG_N.
std::int32_t CheckEepromCopy(const Eeprom& eeprom, std::size_t offset, const void* data,
                             std::size_t count) {
    if (offset > eeprom.Size()) return INVALID_ARG_1;
    if (count > eeprom.Size() - offset) return INVALID_ARG_3;
    if (data == nullptr && count > 0) return INVALID_ARG_2;
    return SUCCESS;
}

}  // namespace

extern "C" {

// ---- host ------------------------------------------------------------------------------

int32_t corvane_sim_host_install(corvane_sim_host** host) {
    if (host == nullptr) return INVALID_ARG_1;
    return Guard([&] { return NewHandle(host, SimulatedHost::Install()); });
}

void corvane_sim_host_uninstall(void) {
    Guard([] {
        SetPlatform(nullptr);
        return SUCCESS;
    });
}

void corvane_sim_host_free(corvane_sim_host* host) {
    delete host;
}

int32_t corvane_sim_host_plug(corvane_sim_host* host, corvane_sim_device* device) {
    if (device == nullptr) return NULL_HANDLE;
    return OnHost(host, [&](SimulatedHost& h) { h.Plug(device->object); });
}

int32_t corvane_sim_host_plug_at(corvane_sim_host* host, corvane_sim_device* device,
                                 size_t position) {
    if (device == nullptr) return NULL_HANDLE;
    return OnHost(host, [&](SimulatedHost& h) { h.Plug(device->object, position); });
}

int32_t corvane_sim_host_unplug(corvane_sim_host* host, corvane_sim_device* device) {
    if (device == nullptr) return NULL_HANDLE;
    return OnHost(host, [&](SimulatedHost& h) { h.Unplug(device->object); });
}

int32_t corvane_sim_host_trace(corvane_sim_host* host, corvane_sim_report* reports,
                               size_t capacity) {
    return OnHandle(host, [&](std::shared_ptr<SimulatedHost>& h) -> std::int32_t {
        if (reports == nullptr && capacity > 0) return INVALID_ARG_1;
        const auto trace = h->Trace();
        const std::size_t copied = std::min(capacity, trace.size());
        for (std::size_t i = 0; i < copied; ++i) {
            reports[i].to_device = trace[i].toDevice ? 1 : 0;
            std::memcpy(reports[i].bytes, trace[i].bytes.data(), trace[i].bytes.size());
        }
        return static_cast<std::int32_t>(std::min<std::size_t>(trace.size(), INT32_MAX));
    });
}

int32_t corvane_sim_host_clear_trace(corvane_sim_host* host) {
    return OnHost(host, [](SimulatedHost& h) { h.ClearTrace(); });
}

int64_t corvane_sim_host_now_us(corvane_sim_host* host) {
    return OnHandle(
        host, [](std::shared_ptr<SimulatedHost>& h) -> std::int64_t { return h->Now().count(); });
}

int32_t corvane_sim_host_advance_clock_us(corvane_sim_host* host, int64_t us) {
    if (us < 0) return INVALID_ARG_1;
    return OnHost(host, [&](SimulatedHost& h) { h.AdvanceClock(std::chrono::microseconds(us)); });
}

int32_t corvane_sim_host_set_report_time_us(corvane_sim_host* host, int64_t us) {
    if (us < 0) return INVALID_ARG_1;
    return OnHost(host, [&](SimulatedHost& h) { h.SetReportTime(std::chrono::microseconds(us)); });
}

int64_t corvane_sim_host_transfer_count(corvane_sim_host* host) {
    return OnHandle(host, [](std::shared_ptr<SimulatedHost>& h) -> std::int64_t {
        return static_cast<std::int64_t>(h->TransferCount());
    });
}

int32_t corvane_sim_host_inject_fault(corvane_sim_host* host, uint64_t transfer, int32_t fault) {
    static constexpr HostFault kFaults[] = {HostFault::Unplug, HostFault::Silence,
                                            HostFault::FailWait};
    if (fault < 0 || fault > 2) return INVALID_ARG_2;
    return OnHost(host, [&](SimulatedHost& h) {
        h.InjectFault(static_cast<std::size_t>(transfer), kFaults[fault]);
    });
}

int32_t corvane_sim_host_clear_faults(corvane_sim_host* host) {
    return OnHost(host, [](SimulatedHost& h) { h.ClearFaults(); });
}

// ---- device ----------------------------------------------------------------------------

int32_t corvane_sim_device_new(uint16_t vid, uint16_t pid, corvane_sim_device** device) {
    if (device == nullptr) return INVALID_ARG_3;
    return Guard([&] { return NewHandle(device, std::make_shared<VirtualDevice>(vid, pid)); });
}

void corvane_sim_device_free(corvane_sim_device* device) {
    delete device;
}

int32_t corvane_sim_device_attach_target(corvane_sim_device* device, uint8_t address7,
                                         corvane_sim_target* target) {
    if (target == nullptr) return NULL_HANDLE;
    if (address7 > 0x7F) return INVALID_ARG_1;
    return OnDevice(device, [&](VirtualDevice& d) { d.AttachTarget(address7, target->object); });
}

int32_t corvane_sim_device_detach_target(corvane_sim_device* device, uint8_t address7) {
    return OnDevice(device, [&](VirtualDevice& d) { d.DetachTarget(address7); });
}

int32_t corvane_sim_device_set_adc_input(corvane_sim_device* device, uint32_t channel,
                                         uint16_t millivolts) {
    if (channel > 2) return INVALID_ARG_1;
    return OnDevice(device, [&](VirtualDevice& d) { d.SetAdcInput(channel, millivolts); });
}

int32_t corvane_sim_device_set_pin_input(corvane_sim_device* device, uint32_t pin, uint8_t level) {
    if (pin > 3) return INVALID_ARG_1;
    return OnDevice(device, [&](VirtualDevice& d) { d.SetPinInput(pin, level); });
}

int32_t corvane_sim_device_pin_level(corvane_sim_device* device, uint32_t pin) {
    if (pin > 3) return INVALID_ARG_1;
    return OnHandle(device, [&](std::shared_ptr<VirtualDevice>& d) -> std::int32_t {
        return d->PinLevel(pin);
    });
}

int64_t corvane_sim_device_command_count(corvane_sim_device* device, uint8_t command) {
    return OnHandle(device, [&](std::shared_ptr<VirtualDevice>& d) -> std::int64_t {
        return static_cast<std::int64_t>(d->CommandCount(command));
    });
}

int32_t corvane_sim_device_drop_responses(corvane_sim_device* device, uint8_t command,
                                          int32_t count) {
    return OnDevice(device, [&](VirtualDevice& d) { d.DropResponses(command, count); });
}

int32_t corvane_sim_device_edit_responses(corvane_sim_device* device, uint8_t command,
                                          corvane_sim_edit_fn edit, void* user, int32_t count) {
    if (edit == nullptr) return INVALID_ARG_2;
    return OnDevice(device, [&](VirtualDevice& d) {
        d.EditResponses(
            command, [edit, user](Report& report) { edit(user, report.data()); }, count);
    });
}

int32_t corvane_sim_device_time_out_writes(corvane_sim_device* device, int32_t count) {
    return OnDevice(device, [&](VirtualDevice& d) { d.TimeOutWrites(count); });
}

int32_t corvane_sim_device_fail_waits(corvane_sim_device* device, int32_t count) {
    return OnDevice(device, [&](VirtualDevice& d) { d.FailWaits(count); });
}

int32_t corvane_sim_device_refuse_commands(corvane_sim_device* device, uint8_t command,
                                           uint8_t status, int32_t count) {
    if (status == 0) return INVALID_ARG_2;
    return OnDevice(device, [&](VirtualDevice& d) { d.RefuseCommands(command, status, count); });
}

int32_t corvane_sim_device_set_silent(corvane_sim_device* device, int32_t silent) {
    return OnDevice(device, [&](VirtualDevice& d) { d.SetSilent(silent != 0); });
}

int32_t corvane_sim_device_clear_faults(corvane_sim_device* device) {
    return OnDevice(device, [](VirtualDevice& d) { d.ClearFaults(); });
}

int32_t corvane_sim_device_refuse_i2c_chunks(corvane_sim_device* device, int32_t count,
                                             uint8_t engine_state) {
    return OnDevice(device, [&](VirtualDevice& d) { d.RefuseI2cChunks(count, engine_state); });
}

int32_t corvane_sim_device_refuse_i2c_status_polls(corvane_sim_device* device, int32_t count) {
    return OnDevice(device, [&](VirtualDevice& d) { d.RefuseI2cStatusPolls(count); });
}

int32_t corvane_sim_device_delay_i2c_read_data(corvane_sim_device* device, int32_t count) {
    return OnDevice(device, [&](VirtualDevice& d) { d.DelayI2cReadData(count); });
}

int32_t corvane_sim_device_offer_extra_i2c_bytes(corvane_sim_device* device, uint8_t extra) {
    return OnDevice(device, [&](VirtualDevice& d) { d.OfferExtraI2cBytes(extra); });
}

int32_t corvane_sim_device_fail_next_i2c_transfer(corvane_sim_device* device,
                                                  uint8_t engine_state) {
    return OnDevice(device, [&](VirtualDevice& d) { d.FailNextI2cTransfer(engine_state); });
}

int32_t corvane_sim_device_corrupt_i2c_read_tail(corvane_sim_device* device, int32_t count) {
    return OnDevice(device, [&](VirtualDevice& d) { d.CorruptI2cReadTail(count); });
}

int32_t corvane_sim_device_stretch_i2c_clock(corvane_sim_device* device, int32_t hold) {
    return OnDevice(device, [&](VirtualDevice& d) { d.StretchI2cClock(hold != 0); });
}

int32_t corvane_sim_device_skip_next_i2c_restart_wait(corvane_sim_device* device) {
    return OnDevice(device, [](VirtualDevice& d) { d.SkipNextI2cRestartWait(); });
}

int32_t corvane_sim_device_end_next_i2c_read_early(corvane_sim_device* device) {
    return OnDevice(device, [](VirtualDevice& d) { d.EndNextI2cReadEarly(); });
}

// ---- targets ---------------------------------------------------------------------------

void corvane_sim_target_free(corvane_sim_target* target) {
    delete target;
}

int32_t corvane_sim_eeprom_new(size_t size, size_t page, corvane_sim_target** target) {
    if (size == 0 || size > 65536) return INVALID_ARG_1;
    if (page == 0 || page > size) return INVALID_ARG_2;
    if (target == nullptr) return INVALID_ARG_3;
    return Guard([&] { return NewHandle(target, std::make_shared<Eeprom>(size, page)); });
}

int32_t corvane_sim_eeprom_read(corvane_sim_target* eeprom, size_t offset, uint8_t* data,
                                size_t count) {
    return OnTarget<Eeprom>(eeprom, [&](Eeprom& e) {
        const std::int32_t rc = CheckEepromCopy(e, offset, data, count);
        // The memory is copied under the EEPROM's lock: a transfer may be writing it.
        if (rc == SUCCESS) e.Read(offset, {data, count});
        return rc;
    });
}

int32_t corvane_sim_eeprom_write(corvane_sim_target* eeprom, size_t offset, const uint8_t* data,
                                 size_t count) {
    return OnTarget<Eeprom>(eeprom, [&](Eeprom& e) {
        const std::int32_t rc = CheckEepromCopy(e, offset, data, count);
        // The memory is copied under the EEPROM's lock: a transfer may be writing it.
        if (rc == SUCCESS) e.Write(offset, {data, count});
        return rc;
    });
}

int32_t corvane_sim_smbus_new(uint8_t address7, corvane_sim_target** target) {
    if (address7 > 0x7F) return INVALID_ARG_1;
    if (target == nullptr) return INVALID_ARG_2;
    return Guard([&] { return NewHandle(target, std::make_shared<SmbusDevice>(address7)); });
}

int32_t corvane_sim_smbus_enable_pec(corvane_sim_target* device, int32_t on) {
    return OnTarget<SmbusDevice>(device, [&](SmbusDevice& d) {
        d.EnablePec(on != 0);
        return SUCCESS;
    });
}

int32_t corvane_sim_smbus_enable_byte_count(corvane_sim_target* device, int32_t on) {
    return OnTarget<SmbusDevice>(device, [&](SmbusDevice& d) {
        d.EnableByteCount(on != 0);
        return SUCCESS;
    });
}

int32_t corvane_sim_smbus_set_register(corvane_sim_target* device, uint8_t index,
                                       const uint8_t* data, size_t count) {
    return SetRegister(device, data, count, [&](SmbusDevice& d, std::vector<std::uint8_t> v) {
        d.SetRegister(index, std::move(v));
    });
}

int32_t corvane_sim_smbus_set_block_register(corvane_sim_target* device, uint8_t index,
                                             const uint8_t* data, size_t count) {
    return SetRegister(device, data, count, [&](SmbusDevice& d, std::vector<std::uint8_t> v) {
        d.SetBlockRegister(index, std::move(v));
    });
}

int32_t corvane_sim_smbus_register(corvane_sim_target* device, uint8_t index, uint8_t* data,
                                   size_t capacity) {
    return OnTarget<SmbusDevice>(device, [&](SmbusDevice& d) -> std::int32_t {
        if (data == nullptr && capacity > 0) return INVALID_ARG_2;
        const auto contents = d.Register(index);
        std::copy_n(contents.begin(), std::min(capacity, contents.size()), data);
        return static_cast<std::int32_t>(contents.size());
    });
}

int32_t corvane_sim_callback_target_new(const corvane_sim_target_callbacks* callbacks, void* user,
                                        corvane_sim_target** target) {
    if (callbacks == nullptr) return INVALID_ARG_1;
    if (target == nullptr) return INVALID_ARG_3;
    return Guard(
        [&] { return NewHandle(target, std::make_shared<CallbackTarget>(*callbacks, user)); });
}

}  // extern "C"
