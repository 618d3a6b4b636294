// SPDX-License-Identifier: MIT
#pragma once

// How the I2C and SMBus transfers pace themselves against the device's bus
// engine. The choice is process-wide and takes effect at the next transfer.
//
// Pacing::Fixed (the default) pauses a fixed D = 1,320,000 / speed ms after
// every accepted 60-byte chunk and before every data request, and D/2 after a
// refused chunk or a "not ready" answer, whatever the chunk's real bus time.
//
// Pacing::BusTime waits only as long as the bytes need on the wire: 9 bit
// times per byte at the requested speed (plus the address byte of a
// transfer's first chunk), counted from the moment the chunk, read command
// or data request was handed to the device, so the time of the report
// exchange itself is not paid twice. A chunk that arrives while the previous
// one is still on the wire (a target that stretches the clock, a slow host
// clock) is refused by the device and sent again, unchanged, after a short
// pause that doubles up to D/2; a data request that comes too early is
// answered "not ready" and asked again the same way. Nothing is lost or sent
// twice to the target, and the refusal budgets stay as generous as with fixed
// pacing. Use it for long transfers at 100 kHz and 400 kHz, where it is two
// to three times as fast; keep Fixed where the exact report timing of the
// device's documentation is wanted.

#include "corvane/Export.hpp"

namespace Corvane {

enum class Pacing { Fixed, BusTime };

CORVANE_API void SetPacing(Pacing pacing);
CORVANE_API Pacing GetPacing();

}  // namespace Corvane
