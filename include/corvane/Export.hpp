// SPDX-License-Identifier: MIT
#pragma once

// Marks the public API. Static builds need nothing; a shared build exports
// these symbols and hides everything else. CORVANE_API marks the library,
// CORVANE_SIM_API the simulation library.
#if defined(CORVANE_SHARED)
#if defined(_WIN32)
#define CORVANE_EXPORT_ __declspec(dllexport)
#define CORVANE_IMPORT_ __declspec(dllimport)
#else
#define CORVANE_EXPORT_ __attribute__((visibility("default")))
#define CORVANE_IMPORT_ __attribute__((visibility("default")))
#endif
#if defined(CORVANE_BUILDING_LIBRARY)
#define CORVANE_API CORVANE_EXPORT_
#else
#define CORVANE_API CORVANE_IMPORT_
#endif
#if defined(CORVANE_BUILDING_SIM)
#define CORVANE_SIM_API CORVANE_EXPORT_
#else
#define CORVANE_SIM_API CORVANE_IMPORT_
#endif
#else
#define CORVANE_API
#define CORVANE_SIM_API
#endif
