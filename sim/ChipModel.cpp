#include "ChipModel.hpp"

namespace Corvane::Sim {

ChipModel::ChipModel(std::uint16_t vid, std::uint16_t pid)
    : enumeratedVid_(vid), enumeratedPid_(pid) {}

std::optional<Report> ChipModel::Execute(const Report& command, std::chrono::microseconds now,
                                         bool& resetRequested) {
    Report response{};
    response[0] = command[0];
    switch (command[0]) {
        case 0x10:
            engine_.HandleStatus(command, response, now);
            response[46] = 'A';
            response[47] = '6';
            response[48] = '1';
            response[49] = '2';
            break;
        case 0x90:
        case 0x91:
        case 0x93:
        case 0x94:
        case 0x40:
            engine_.HandleBusCommand(command, response, now);
            break;
        case 0x70:
            if (command[1] == 0xAB && command[2] == 0xCD && command[3] == 0xEF) {
                engine_.Reset();
                resetRequested = true;
                return std::nullopt;
            }
            response[1] = 0x01;
            break;
        default:
            break;
    }
    return response;
}

}  // namespace Corvane::Sim
