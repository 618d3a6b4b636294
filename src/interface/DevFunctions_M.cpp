#include "corvane/DevFunctions_M.hpp"

#include "functions/DevFunctions.hpp"
#include "interface/ApiLock.hpp"

namespace Corvane {

DevFunctions_M::DevFunctions_M() : Functions_UM(new DevFunctions()) {}

DevFunctions_M::~DevFunctions_M() { Dispose(true); }

void DevFunctions_M::Dispose() { Dispose(true); }

void DevFunctions_M::Dispose(bool disposing) {
    if (disposing) {
        delete Functions_UM;
        Functions_UM = nullptr;
    }
}

}  // namespace Corvane
