#include "services_list.h"

#include "common/utf16.h"
#include "json_output.h"
#include "numbers.h"
#include "policy/policy_keys.h"
#include "registry_reader.h"
#include "service_class.h"
#include "win_error.h"

namespace utils::btutil {
namespace {

// One value of the list, judged as "services enable" judges it: a REG_DWORD
// named by a GUID (38 characters), nonzero for supported.
struct Entry {
  std::string name;
  std::string status;  // "supported", "not supported" or "ignored"
  std::string reason;  // why an entry is ignored, or what else to know of it
  std::string_view serviceName;
};

Entry judge(const RegValue& value) {
  Entry entry{wideToUtf8(value.name), "ignored", "", {}};
  GUID service{};
  if (value.name.size() != 38 || !policy::parseGuidText(value.name.c_str(), &service)) {
    entry.reason = "the name is no service class GUID in braces";
  } else if (value.type == REG_BINARY && value.data.size() == 4) {
    entry.status = littleEndianValue(value.data) != 0 ? "supported" : "not supported";
    entry.reason = "REG_BINARY: services supported reads it, services enable passes over it";
  } else if (value.type != REG_DWORD || value.data.size() != 4) {
    entry.reason = "the value is not a REG_DWORD";
  } else {
    entry.status = littleEndianValue(value.data) != 0 ? "supported" : "not supported";
  }
  if (value.name.size() == 38 && policy::parseGuidText(value.name.c_str(), &service)) {
    entry.serviceName = serviceClassName(service);
  }
  return entry;
}

}  // namespace

int printSupportList(port::RegistryPort& registry, bool json, Console& console) {
  const std::string shownKey = "HKEY_LOCAL_MACHINE\\" + wideToUtf8(policy::kSupportListKey);
  port::ScopedKey key(registry);
  std::vector<RegValue> values;
  const DWORD openError = registry.openKey(HKEY_LOCAL_MACHINE, policy::kSupportListKey, KEY_READ, key.out());
  if (openError != ERROR_SUCCESS && openError != ERROR_FILE_NOT_FOUND) {
    return failure(console, "Cannot open " + shownKey + ": " + errorText(openError));
  }
  if (openError == ERROR_SUCCESS) {
    if (const DWORD error = readValues(registry, key.get(), &values)) {
      return failure(console, "Cannot read " + shownKey + ": " + errorText(error));
    }
  }
  std::vector<Entry> entries;
  for (const RegValue& value : values) entries.push_back(judge(value));
  if (json) {
    Json list = Json::array();
    for (const Entry& entry : entries) {
      Json item = {{"service", entry.name}, {"name", entry.serviceName}, {"status", entry.status}};
      if (!entry.reason.empty()) item["reason"] = entry.reason;
      list.push_back(std::move(item));
    }
    printJson(console, Json{{"key", shownKey}, {"exists", openError == ERROR_SUCCESS}, {"services", std::move(list)}});
    return kExitOk;
  }
  console.out << "Support list (" << shownKey << "):\n";
  if (openError != ERROR_SUCCESS) console.out << "  the key does not exist: no service class is supported\n";
  if (openError == ERROR_SUCCESS && entries.empty()) console.out << "  empty: no service class is supported\n";
  for (const Entry& entry : entries) {
    console.out << "  " << entry.name << "  " << entry.status;
    if (!entry.reason.empty()) console.out << " (" << entry.reason << ")";
    if (!entry.serviceName.empty()) console.out << "  " << entry.serviceName;
    console.out << '\n';
  }
  return kExitOk;
}

}  // namespace utils::btutil
