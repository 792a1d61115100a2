// What btutil does without arguments: shows, with real calls, what it reads and
// converts on built-in samples.
#include <array>
#include <iomanip>

#include "address_input.h"
#include "commands.h"
#include "common/utf16.h"
#include "diag/debug_settings.h"
#include "key_path.h"
#include "registry_reader.h"
#include "utils/trace.h"
#include "win_error.h"

namespace utils::btutil {
namespace {

constexpr const wchar_t* kSettingsKey = L"Software\\vorlane";
constexpr std::array<const wchar_t*, 2> kSettingNames = {L"LogDebug", L"EnableAppDebug"};
constexpr std::string_view kSampleAddress = "00:1a:7d:da:71:13";
constexpr DWORD kSampleValue = 0x1234;
constexpr const char* kSampleType = "DWORD";

void showDebugSettings(port::RegistryPort& registry, std::ostream& out) {
  const KeyPath path{HKEY_LOCAL_MACHINE, kSettingsKey};
  out << "Debug settings under " << wideToUtf8(fullPath(path)) << ":\n";
  port::ScopedKey key(registry);
  const DWORD openError = registry.openKey(path.root, path.subKey.c_str(), KEY_READ, key.out());
  for (const wchar_t* name : kSettingNames) {
    out << "    " << std::left << std::setw(16) << wideToUtf8(name);
    RegValue value;
    const DWORD error = openError != ERROR_SUCCESS ? openError : readValue(registry, key.get(), name, &value);
    if (error == ERROR_SUCCESS) {
      out << typeName(value.type) << "    " << displayData(value) << '\n';
    } else if (error == ERROR_FILE_NOT_FOUND) {
      out << "(not set)\n";
    } else {
      out << "cannot be read: " << errorText(error) << '\n';
    }
  }
  // The library's own reading of the two values, as a process that loads it.
  diag::processAttach();
  out << "  the library reads: log level mask 0x" << std::hex << std::uppercase << diag::logLevelMask()
      << ", application trace mask 0x" << diag::GetAppDebugMask() << std::dec << std::nouppercase << '\n'
      << "  (the library announces the trace mask as \"AppDebug=N\" on its debug output)\n";
}

void showAddress(std::ostream& out) {
  AddressInput address;
  std::string error;
  out << "Address " << kSampleAddress << ":\n";
  if (!parseAddress(kSampleAddress, &address, &error)) {
    out << "    " << error << '\n';
    return;
  }
  std::array<BYTE, 6> back{};
  BtAddrToBDAddr(address.bt, back.data());
  out << "    BdaddrToBtaddr  " << btValueText(address.bt) << '\n'
      << "    BtAddrToBDAddr  " << bdBytesText(back) << '\n'
      << "    BT2Lptstr       " << addressText(address.bt) << '\n';
}

void showDecoder(std::ostream& out) {
  out << "Value decoder:\n"
      << "    XAD_Decode(0x" << std::hex << std::uppercase << kSampleValue << std::dec << std::nouppercase << ", \""
      << kSampleType << "\")  " << XAD_Decode(kSampleValue, kSampleType) << '\n';
}

}  // namespace

int runDemo(port::RegistryPort& registry, Console& console) {
  console.out << "btutil self-demonstration (\"btutil --help\" lists the commands)\n\n";
  showDebugSettings(registry, console.out);
  console.out << '\n';
  showAddress(console.out);
  console.out << '\n';
  showDecoder(console.out);
  return kExitOk;
}

}  // namespace utils::btutil
