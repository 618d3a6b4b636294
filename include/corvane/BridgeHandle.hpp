// SPDX-License-Identifier: MIT
#pragma once

// A handle on one bridge, as an open /dev/i2c-N is a handle on one adapter.
//
// The library object (VrelUsbI2c) addresses one process-wide device table and
// selection: whoever selects a device or constructs another object moves it
// for everyone. A BridgeHandle is bound to the device it was opened on — its
// path, and its USB serial number when it was chosen by serial — and runs
// every operation with the library's lock held and the selection put back on
// its own device first. So handles on different bridges, in any number of
// threads, each reach their own chip:
//
//   Corvane::BridgeChoice choice;
//   choice.serial = "CVS000002";
//   std::shared_ptr<Corvane::BridgeHandle> sensor;
//   if (Corvane::BridgeHandle::Open(choice, sensor) == Corvane::SUCCESS) {
//       Corvane::I2cBus bus(sensor);
//       sensor->Run([](Corvane::VrelUsbI2c& b) { return b.Functions->ReadGpioPinValue(0); });
//   }
//
// When the device is unplugged, operations fail with BRIDGE_UNPLUGGED and
// never run on another device; when it is back (the same path, or for a
// handle opened by serial any path with that serial), they work again.
// Handles are thread-safe; I2cBus and the C interface are built on them.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "corvane/Export.hpp"

namespace Corvane {

class VrelUsbI2c;

// A callable passed down for the length of one call, without copying it.
template <typename Signature>
class FunctionRef;

template <typename Result, typename... Args>
class FunctionRef<Result(Args...)> {
  public:
    template <typename Callable>
    requires(!std::is_same_v<std::remove_cvref_t<Callable>, FunctionRef> &&
             std::is_invocable_r_v<Result, Callable&, Args...>)
        FunctionRef(Callable&& callable)  // NOLINT: converts like std::function
        : object_(const_cast<void*>(static_cast<const void*>(&callable))),
          call_([](void* object, Args... args) -> Result {
              return (*static_cast<std::remove_reference_t<Callable>*>(object))(
                  std::forward<Args>(args)...);
          }) {}

    Result operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

  private:
    void* object_;
    Result (*call_)(void*, Args...);
};

// Which bridge to open: the one at `path`, else the one whose USB serial
// number is `serial`, else the index-th found (in the order Management
// numbers them).
struct BridgeChoice {
    std::uint32_t vendorId = 0x3A7C;
    std::uint32_t productId = 0x01D5;
    std::int32_t index = 0;
    std::string serial;
    std::string path;
};

class CORVANE_API BridgeHandle {
  public:
    // Opens a handle on the chosen bridge: 0 and `handle`, or BRIDGE_NOT_FOUND
    // (DEVICE_INDEX_ERROR for a negative index). Runs a discovery pass, and
    // with a serial asks each bridge found for its own until one matches.
    // Handles that exist keep working: nothing they rely on is reset.
    static std::int32_t Open(const BridgeChoice& choice, std::shared_ptr<BridgeHandle>& handle);

    // A handle on the first bridge with these IDs that its first operation
    // finds (or the one Select() names); nothing is searched for yet.
    static std::shared_ptr<BridgeHandle> Unbound(std::uint32_t vendorId = 0x3A7C,
                                                 std::uint32_t productId = 0x01D5);

    // A handle on the device `bridge` has selected (after a discovery pass
    // when it has found none yet); a handle opened before any device is
    // attached binds to the first one its first operation finds. `bridge`
    // must outlive the handle, which runs its operations through it.
    explicit BridgeHandle(VrelUsbI2c& bridge);

    ~BridgeHandle();
    BridgeHandle(const BridgeHandle&) = delete;
    BridgeHandle& operator=(const BridgeHandle&) = delete;

    std::uint32_t VendorId() const { return vendorId_; }
    std::uint32_t ProductId() const { return productId_; }
    // The device path (UTF-8) the handle is bound to; empty until it is bound.
    std::string Path() const;
    // The serial number the handle was opened by; empty otherwise.
    std::string Serial() const;

    // Runs `operation` on the library object with the library's lock held and
    // the selection and connection on this handle's device, and returns its
    // result; BRIDGE_UNPLUGGED, without running it, when the device is not
    // attached.
    std::int32_t Run(FunctionRef<std::int32_t(VrelUsbI2c&)> operation);

    // Runs `operation` with the lock held and the library searching for this
    // handle's vendor and product ID, whether its device is attached or not
    // (device counts, discovery).
    std::int32_t RunUnbound(FunctionRef<std::int32_t(VrelUsbI2c&)> operation);

    // Binds the handle to device `index` of those the last discovery pass
    // found (as Management numbers them): 0, or DEVICE_INDEX_ERROR (the
    // binding is then unchanged). Nothing is searched for.
    std::int32_t Select(std::int32_t index);

    // The handle's device number among those the last discovery pass found,
    // or -1 when it is not among them. Nothing is searched for.
    std::int32_t Index();

    // Runs a discovery pass: whether the handle's device is attached (an
    // unbound handle binds to the first device found).
    bool IsAttached();

    // Presents the access password on this handle's bridge. The library
    // remembers one password for the process; the handle keeps the one its
    // bridge accepted and presents it again whenever another handle's work
    // may have replaced it.
    std::int32_t EnterAccessPassword(const char* password);

  private:
    BridgeHandle(std::shared_ptr<VrelUsbI2c> object, const BridgeChoice& choice);
    // With the lock held: the library searching for this handle's IDs.
    void UseIds();
    // With the lock held: the selection and connection on this handle's
    // device; false when it is not attached.
    bool Reselect();
    bool ConnectTo(const std::string& path);
    bool SerialMatches();
    bool FindBySerial();

    std::shared_ptr<VrelUsbI2c> object_;
    std::uint32_t vendorId_;
    std::uint32_t productId_;
    // Guarded by the library's lock.
    std::string path_;
    std::string serial_;
    std::optional<std::string> password_;
    // The discovery pass count when the device behind path_ was last known
    // to be this handle's.
    std::uint64_t verifiedAt_ = 0;
};

}  // namespace Corvane
