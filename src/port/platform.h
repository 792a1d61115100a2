// The one record through which the library logic reaches every platform service.
// The shared library installs the native adapters when it is loaded; the unit
// tests install the simulation. Installation happens before any other thread
// uses the library.
#pragma once

#include "port/clock_port.h"
#include "port/debug_output_port.h"
#include "port/registry_port.h"

namespace utils::port {

struct Platform {
  RegistryPort* registry = nullptr;
  DebugOutputPort* debugOutput = nullptr;
  ClockPort* clock = nullptr;
};

// The installed record. Every member is non-null once a platform is installed.
const Platform& platform();

// Replaces the installed record; the ports it points to must outlive their use.
void installPlatform(const Platform& record);

}  // namespace utils::port
