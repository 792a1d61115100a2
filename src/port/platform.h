// The one record through which the library logic reaches every platform service.
// The shared library installs the native adapters when it is loaded; the unit
// tests install the simulation. Installation happens before any other thread
// uses the library.
#pragma once

#include "port/bus_port.h"
#include "port/clock_port.h"
#include "port/credentials_port.h"
#include "port/debug_output_port.h"
#include "port/dialup_port.h"
#include "port/module_port.h"
#include "port/notification_port.h"
#include "port/radio_port.h"
#include "port/registry_port.h"
#include "port/rfcomm_port.h"
#include "port/shell_port.h"
#include "port/xml_dom_port.h"

namespace utils::port {

struct Platform {
  RegistryPort* registry = nullptr;
  DebugOutputPort* debugOutput = nullptr;
  ClockPort* clock = nullptr;

  // The ports below stay null until the adapters of the features that use them
  // arrive; logic that needs one is built together with its adapters.
  BusPort* bus = nullptr;
  RadioPort* radio = nullptr;
  RfcommPort* rfcomm = nullptr;
  NotificationPort* notification = nullptr;
  XmlDomPort* xmlDom = nullptr;
  DialupPort* dialup = nullptr;
  CredentialsPort* credentials = nullptr;
  ModulePort* module = nullptr;
  ShellPort* shell = nullptr;
};

// The installed record. The first three members are non-null once a platform is
// installed; the others as their adapters exist.
const Platform& platform();

// Replaces the installed record; the ports it points to must outlive their use.
void installPlatform(const Platform& record);

}  // namespace utils::port
