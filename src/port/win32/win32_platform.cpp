#include "port/win32/win32_platform.h"

#include "port/platform.h"
#include "port/win32/bus_device_interface.h"
#include "port/win32/notification_window.h"
#include "port/win32/radio_bluetooth.h"
#include "port/win32/ras_dialup.h"
#include "port/win32/rfcomm_winsock.h"
#include "port/win32/win32_clock.h"
#include "port/win32/win32_credentials.h"
#include "port/win32/win32_debug_output.h"
#include "port/win32/win32_modules.h"
#include "port/win32/win32_registry.h"
#include "port/win32/win32_shell.h"
#include "port/win32/xml_msxml.h"

namespace utils::win32port {

void installNativePlatform() {
  // The adapters hold no state; one instance each serves the whole process.
  static Win32Registry registry;
  static Win32DebugOutput debugOutput;
  static Win32Clock clock;
  static MsxmlDom xmlDom;
  static Win32Bus bus;
  static Win32Radio radio;
  static Win32Rfcomm rfcomm;
  static Win32Notification notification;
  static Win32Shell shell;
  static Win32Modules modules;
  static Win32Dialup dialup;
  static Win32Credentials credentials;
  port::installPlatform(port::Platform{.registry = &registry,
                                       .debugOutput = &debugOutput,
                                       .clock = &clock,
                                       .bus = &bus,
                                       .radio = &radio,
                                       .rfcomm = &rfcomm,
                                       .notification = &notification,
                                       .xmlDom = &xmlDom,
                                       .dialup = &dialup,
                                       .credentials = &credentials,
                                       .module = &modules,
                                       .shell = &shell});
}

}  // namespace utils::win32port
