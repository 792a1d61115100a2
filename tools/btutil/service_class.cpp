#include "service_class.h"

#include "common/utf16.h"
#include "numbers.h"
#include "policy/policy_keys.h"

namespace utils::btutil {
namespace {

// The Bluetooth base UUID 00000000-0000-1000-8000-00805F9B34FB.
constexpr GUID kBase = {0x00000000, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};

bool onBase(const GUID& service) {
  return service.Data2 == kBase.Data2 && service.Data3 == kBase.Data3 &&
         std::equal(std::begin(service.Data4), std::end(service.Data4), std::begin(kBase.Data4));
}

constexpr struct {
  DWORD uuid;
  std::string_view name;
} kNames[] = {{0x1101, "Serial Port"},
              {0x1103, "Dial-up Networking"},
              {0x1104, "IrMC Sync"},
              {0x1105, "OBEX Object Push"},
              {0x1106, "OBEX File Transfer"},
              {0x1108, "Headset"},
              {0x110A, "Audio Source"},
              {0x110B, "Audio Sink"},
              {0x110C, "A/V Remote Control Target"},
              {0x110E, "A/V Remote Control"},
              {0x1112, "Headset Audio Gateway"},
              {0x1115, "PAN User"},
              {0x1116, "Network Access Point"},
              {0x1117, "Group Ad-hoc Network"},
              {0x111E, "Handsfree"},
              {0x111F, "Handsfree Audio Gateway"},
              {0x1124, "Human Interface Device"},
              {0x112F, "Phonebook Access Server"},
              {0x1132, "Message Access Server"},
              {0x1200, "PnP Information"}};

}  // namespace

bool parseServiceClass(std::string_view text, GUID* service) {
  if (text.size() == 36) return policy::parseGuidText(utf8ToWide("{" + std::string(text) + "}").c_str(), service);
  if (text.size() == 38) return policy::parseGuidText(utf8ToWide(text).c_str(), service);
  std::string_view digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.remove_prefix(2);
  if (digits.size() != 4 && digits.size() != 8) return false;
  const auto value = parseUnsigned("0x" + std::string(digits), 0xFFFFFFFFu);
  if (!value) return false;
  *service = kBase;
  service->Data1 = static_cast<DWORD>(*value);
  return true;
}

std::string_view serviceClassName(const GUID& service) {
  if (!onBase(service)) return {};
  for (const auto& entry : kNames) {
    if (entry.uuid == service.Data1) return entry.name;
  }
  return {};
}

}  // namespace utils::btutil
