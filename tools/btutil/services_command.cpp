// btutil services: the support list, the support query and the service switch of
// a paired device.
#include "address_input.h"
#include "command_args.h"
#include "commands.h"
#include "common/utf16.h"
#include "json_output.h"
#include "policy/policy_keys.h"
#include "port/platform.h"
#include "service_class.h"
#include "services_list.h"
#include "utils/policy.h"
#include "win_error.h"

namespace utils::btutil {
namespace {

constexpr OptionSpec kJsonOption[] = {{"json", false}};

int runSupported(std::span<const std::string> args, Console& console) {
  ParsedArgs parsed;
  if (int exit = prepareArgs(args, kJsonOption, 1, "services supported", console, &parsed); exit >= 0) return exit;
  GUID service{};
  if (!parseServiceClass(parsed.positional[0], &service)) {
    return usageError(console,
                      "\"" + parsed.positional[0] +
                          "\" is not a service class: give a UUID (0000110b-0000-1000-8000-00805f9b34fb, also in "
                          "braces) or its short form (0x110b).",
                      "services supported");
  }
  const bool supported = UTILS_BluetoothIsLocalServiceSupported(&service) != 0;
  const std::string text = wideToUtf8(policy::guidText(service));
  const std::string_view name = serviceClassName(service);
  if (parsed.has("json")) {
    printJson(console, Json{{"service", text}, {"name", name}, {"supported", supported}});
  } else {
    console.out << text << (name.empty() ? "" : " (" + std::string(name) + ")")
                << (supported ? " is supported.\n" : " is not supported.\n");
  }
  return supported ? kExitOk : kExitNo;
}

// The installed record that UTILS_EnableNewServices keeps for the device on the
// first radio.
int printInstalled(BtAddr device, bool json, Console& console) {
  port::RadioPort& radio = *port::platform().radio;
  HANDLE search = nullptr;
  HANDLE handle = nullptr;
  if (const DWORD error = radio.findFirstRadio(&search, &handle)) {
    return failure(console, "No Bluetooth radio was found: " + errorText(error));
  }
  radio.findRadioClose(search);
  BLUETOOTH_RADIO_INFO info{};
  info.dwSize = sizeof info;
  const DWORD infoError = radio.getRadioInfo(handle, &info);
  radio.close(handle);
  if (infoError != ERROR_SUCCESS) return failure(console, "The radio could not be read: " + errorText(infoError));

  wchar_t radioText[30];
  wchar_t deviceText[30];
  BT2Lptstr(radioText, &info.address.ullLong);
  BT2Lptstr(deviceText, &device);
  const std::wstring path =
      std::wstring(L"Software\\Vorlane\\Pelmora\\Devices\\") + radioText + L"\\" + deviceText + L"\\InstalledServices";
  port::RegistryPort& registry = *port::platform().registry;
  port::ScopedKey key(registry);
  if (registry.openKey(HKEY_CURRENT_USER, path.c_str(), KEY_READ, key.out()) != ERROR_SUCCESS) {
    return failure(console, "No services were recorded for " + wideToUtf8(deviceText) +
                                " (\"btutil --trace 0x4 services enable ...\" shows why).");
  }
  Json services = Json::array();
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD chars = 256;
    if (registry.enumValue(key.get(), index, name, &chars, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    services.push_back(wideToUtf8(name));
  }
  if (json) {
    printJson(
        console,
        Json{{"device", wideToUtf8(deviceText)}, {"radio", wideToUtf8(radioText)}, {"services", std::move(services)}});
    return kExitOk;
  }
  console.out << "Services enabled for " << wideToUtf8(deviceText) << " on radio " << wideToUtf8(radioText) << ":\n";
  for (const auto& service : services) console.out << "  " << service.get<std::string>() << '\n';
  return kExitOk;
}

int runEnable(std::span<const std::string> args, Console& console) {
  ParsedArgs parsed;
  if (int exit = prepareArgs(args, kJsonOption, 1, "services enable", console, &parsed); exit >= 0) return exit;
  AddressInput address;
  std::string error;
  if (!parseAddress(parsed.positional[0], &address, &error)) return usageError(console, error, "services enable");
  if (port::platform().radio == nullptr) return failure(console, "This build has no Bluetooth radio support.");
  UTILS_EnableNewServices(&address.bt);
  return printInstalled(address.bt, parsed.has("json"), console);
}

int runList(std::span<const std::string> args, Console& console) {
  ParsedArgs parsed;
  if (int exit = prepareArgs(args, kJsonOption, 0, "services list", console, &parsed); exit >= 0) return exit;
  return printSupportList(*port::platform().registry, parsed.has("json"), console);
}

}  // namespace

int runServices(std::span<const std::string> args, Console& console) {
  const std::string verb = args.empty() ? std::string() : lowerAscii(args[0]);
  if (verb == "supported") return runSupported(args.subspan(1), console);
  if (verb == "enable") return runEnable(args.subspan(1), console);
  if (verb == "list") return runList(args.subspan(1), console);
  return usageError(console,
                    args.empty() ? "btutil services needs list, supported or enable."
                                 : "Unknown services operation \"" + args[0] + "\": use list, supported or enable.",
                    "services");
}

}  // namespace utils::btutil
