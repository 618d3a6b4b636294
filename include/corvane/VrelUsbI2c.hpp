// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <memory>

#include "corvane/DevFunctions_M.hpp"
#include "corvane/DevManagement_M.hpp"
#include "corvane/DevSettings_M.hpp"
#include "corvane/Export.hpp"

namespace Corvane {

// The library's entry point. Construction prepares the process-wide device
// state for one vendor and product ID (the most recent construction wins for
// every instance) without touching a device; the first operation searches.
// Every instance and facet addresses the same devices and connection.
//
// Public operations are serialised by one process-wide lock, so calls from
// several threads wait for each other instead of interleaving reports.
class CORVANE_API VrelUsbI2c {
  public:
    VrelUsbI2c();
    VrelUsbI2c(std::uint32_t vendorId, std::uint32_t productId);
    virtual ~VrelUsbI2c();

    // Marks the object disposed; the facets stay usable.
    void Dispose();

    std::shared_ptr<DevFunctions_M> Functions;
    std::shared_ptr<DevSettings_M> Settings;
    std::shared_ptr<DevManagement_M> Management;

  protected:
    virtual void Dispose(bool disposing);

  private:
    bool disposed_ = false;
};

}  // namespace Corvane
