// btutil radio: the first local radio's information.
#include <cstdio>

#include "address_input.h"
#include "command_args.h"
#include "common/utf16.h"
#include "json_output.h"
#include "radio_commands.h"
#include "utils/radio.h"

namespace utils::btutil {

std::string resultText(DWORD result) {
  const char* meaning = nullptr;
  switch (result) {
    case 0: meaning = "success"; break;
    case UTILS_NO_RADIO: meaning = "no local radio"; break;
    case 0xFFFFFFFE: meaning = "failed"; break;
    case 1: meaning = "not supported (ERROR_INVALID_FUNCTION)"; break;
    case 2: meaning = "not found (ERROR_FILE_NOT_FOUND)"; break;
    case 5: meaning = "access denied"; break;
    case 87: meaning = "invalid parameter"; break;
    case 121: meaning = "the driver did not answer in time"; break;
    case 259: meaning = "the bus driver is not installed (no vrlbusd)"; break;
    case 997: meaning = "pending"; break;
    case 1167: meaning = "the bus driver went away"; break;
    default: meaning = "error"; break;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%lu (0x%lX, ", static_cast<unsigned long>(result),
                static_cast<unsigned long>(result));
  return text + std::string(meaning) + ")";
}

int runRadio(std::span<const std::string> args, Console& console) {
  static constexpr OptionSpec kSpecs[] = {{"json", false}};
  ParsedArgs parsed;
  if (int code = prepareArgs(args, kSpecs, 0, "radio", console, &parsed); code >= 0) return code;
  BLUETOOTH_RADIO_INFO info{};
  HANDLE radio = EnumerateFirstBthRadioHandle(&info);
  if (radio == nullptr) return failure(console, "No local Bluetooth radio was found.");
  CloseHandle(radio);
  std::u16string units;
  for (size_t i = 0; i < BLUETOOTH_MAX_NAME_SIZE && info.szName[i] != 0; ++i) {
    units += static_cast<char16_t>(info.szName[i]);
  }
  const std::string name = wideToUtf8(utf16ToWide(units));
  if (parsed.has("json")) {
    printJson(console, Json{{"address", addressText(info.address.ullLong)},
                            {"name", name},
                            {"class", info.ulClassofDevice},
                            {"manufacturer", info.manufacturer},
                            {"lmpSubversion", info.lmpSubversion}});
    return kExitOk;
  }
  char numbers[128];
  std::snprintf(numbers, sizeof numbers, "Class:          0x%06lX\nManufacturer:   0x%04X\nLMP subversion: 0x%04X\n",
                static_cast<unsigned long>(info.ulClassofDevice), info.manufacturer, info.lmpSubversion);
  console.out << "Address:        " << addressText(info.address.ullLong) << '\n'
              << "Name:           " << name << '\n'
              << numbers;
  return kExitOk;
}

}  // namespace utils::btutil
