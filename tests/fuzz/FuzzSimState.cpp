// SPDX-License-Identifier: MIT
// libFuzzer target: the virtual bench's state file, which the tool, the
// daemon and the virtual-bridge tool load at every start. A file is either
// taken whole, and then written back as it was read, or refused with a reason;
// the chip takes the flash it holds whole or not at all. No file may crash the
// reader. The bench's EEPROM is 16 bytes here, so that whole files are short.

#include <corvane/sim.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "SimState.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kEeprom = 16;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CorvaneTool::SimState state;
    try {
        state = CorvaneTool::ParseSimState(text, kEeprom);
    } catch (const CorvaneTool::StateError& e) {
        if (std::string_view(e.what()).empty()) std::abort();
        return 0;
    }
    if (state.eeprom.size() != kEeprom || state.eepromCounter >= kEeprom) std::abort();
    if (CorvaneTool::ParseSimState(CorvaneTool::FormatSimState(state), kEeprom) != state) {
        std::abort();
    }
    Corvane::Sim::VirtualDevice chip;
    const std::string before = chip.SaveState();
    if (!chip.LoadState(state.chip) && chip.SaveState() != before) std::abort();
    return 0;
}
