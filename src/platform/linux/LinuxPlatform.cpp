#include "platform/NullPlatform.hpp"

namespace Corvane {

// The hidraw backend takes this place; until then Linux finds no devices.
std::shared_ptr<Platform> MakeSystemPlatform() { return std::make_shared<NullPlatform>(); }

}  // namespace Corvane
