// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>

// Calls of operator new so far in this program, the library's included (it
// is linked in statically): counts heap use on the transfer path.
std::size_t AllocationCount();
