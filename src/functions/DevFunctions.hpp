#pragma once

#include <cstdint>

namespace Corvane {

// Native counterpart of DevFunctions_M: bus transfers and pin functions.
// Holds no data; every operation is static and returns a result code.
class DevFunctions {
public:
    DevFunctions() = default;

    // ---- pin, ADC, reset and password functions --------------------------------
    // Writes the reset report; 0, or -4 when it was not sent.
    static std::int32_t int_ResetDevice();
    // On 0, adc[0..2] hold the three 10-bit readings; otherwise adc is untouched.
    // Also cancels any bus transfer the chip is carrying out.
    static std::int32_t int_GetAdcData(std::uint16_t* adc);
    static std::int32_t int_ClearInterruptPinState();
    // The pin's level (0 or 1), -10 when the pin is not a GPIO, or a failure.
    static std::int32_t int_ReadGpioPinValue(std::uint8_t pinNumber);
    static std::int32_t int_WriteGpioPinValue(std::uint8_t pinNumber, std::uint8_t pinValue);
    // Presents the first 8 bytes of `password` (at least 8 required); on
    // acceptance they become the remembered access password.
    static std::int32_t int_EnterAccessPassword(const char* password);
};

}  // namespace Corvane
