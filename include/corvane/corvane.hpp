// SPDX-License-Identifier: MIT
#pragma once

// Umbrella header of the Corvane host library.
#include "corvane/BridgeHandle.hpp"
#include "corvane/BusTrace.hpp"
#include "corvane/BusyTimeout.hpp"
#include "corvane/DevFunctions_M.hpp"
#include "corvane/DevManagement_M.hpp"
#include "corvane/DevSettings_M.hpp"
#include "corvane/Diagnostics.hpp"
#include "corvane/DllConstants.hpp"
#include "corvane/I2cBus.hpp"
#include "corvane/LibraryLock.hpp"
#include "corvane/Pacing.hpp"
#include "corvane/Platform.hpp"
#include "corvane/ReportTrace.hpp"
#include "corvane/ResultCodes.hpp"
#include "corvane/Utf.hpp"
#include "corvane/VrelUsbI2c.hpp"
