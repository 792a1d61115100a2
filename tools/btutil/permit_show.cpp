// btutil permit show LOCAL REMOTE [--json]: the permission settings stored for a
// pair of radio and device, decoded as IsRequestPermitted reads them. Read-only:
// the key is opened for reading and a one-time permission stays.
#include <map>
#include <optional>

#include "common/utf16.h"
#include "json_output.h"
#include "numbers.h"
#include "permit_args.h"
#include "permit_time.h"
#include "policy/policy_keys.h"
#include "port/platform.h"
#include "registry_reader.h"
#include "win_error.h"

namespace utils::btutil {
namespace {

constexpr OptionSpec kShowOptions[] = {{"json", false}};

// What is stored for one request code; a field without a value stays empty.
struct RequestSettings {
  std::optional<std::string> standing;  // "none" (0), "once", "always" or "unreadable"
  std::optional<std::string> until;     // "unreadable", or set with moment
  uint64_t moment = 0;
};

struct Settings {
  bool skipPermit = false;
  std::optional<std::string> allowAll;  // "yes", "no" (0) or "unreadable"
  std::map<WORD, RequestSettings> requests;
};

// The request code that a value name stands for, as the library prints it
// ("1105" for 0x1105); nothing for any other name.
std::optional<WORD> requestCode(const std::wstring& name) {
  const std::string text = lowerAscii(wideToUtf8(name));
  const auto code = text.empty() ? std::nullopt : parseUnsigned("0x" + text, 0xFFFF);
  if (!code || policy::requestValueName(static_cast<WORD>(*code)) != utf8ToWide(text)) return std::nullopt;
  return static_cast<WORD>(*code);
}

void decode(const RegValue& value, Settings* settings) {
  const std::string lower = lowerAscii(wideToUtf8(value.name));
  if (lower == "allowall") {
    settings->allowAll = value.data.size() > 8 ? "unreadable" : littleEndianValue(value.data) != 0 ? "yes" : "no";
    return;
  }
  constexpr std::string_view kTimeSuffix = "_time";
  const bool timed = lower.size() > kTimeSuffix.size() && lower.ends_with(kTimeSuffix);
  const auto code = requestCode(timed ? value.name.substr(0, value.name.size() - kTimeSuffix.size()) : value.name);
  if (!code) return;  // not a setting the check reads
  RequestSettings& request = settings->requests[*code];
  if (timed) {
    request.until = value.data.size() > 8 ? "unreadable" : "set";
    request.moment = littleEndianValue(value.data);
  } else {
    const uint64_t number = littleEndianValue(value.data);
    request.standing = value.data.size() > 4 ? "unreadable" : number == 0 ? "none" : number == 1 ? "once" : "always";
  }
}

bool readSkipPermit(port::RegistryPort& registry) {
  port::ScopedKey key(registry);
  RegValue value;
  if (registry.openKey(HKEY_LOCAL_MACHINE, policy::kSuiteKey, KEY_READ, key.out()) != ERROR_SUCCESS) return false;
  if (readValue(registry, key.get(), L"SkipPermit", &value) != ERROR_SUCCESS) return false;
  return (value.type == REG_DWORD || value.type == REG_BINARY) && value.data.size() == 4 &&
         littleEndianValue(value.data) == 1;
}

bool grants(const RequestSettings& request, uint64_t now) {
  if (request.standing == "once" || request.standing == "always") return true;
  return request.until == "set" && request.moment >= now;
}

std::string untilText(const RequestSettings& request, uint64_t now) {
  if (request.until != "set") return "until: unreadable (more than 8 bytes; grants nothing)";
  return "until " + localTimeText(request.moment) + " local time (" + utcTimeText(request.moment) + ")" +
         (request.moment >= now ? "" : ", expired");
}

void printText(const PermitPair& pair, const Settings& settings, uint64_t now, Console& console) {
  console.out << "Permissions of " << pair.shown() << "\n(HKEY_CURRENT_USER\\" << wideToUtf8(pair.keyPath()) << "):\n";
  if (settings.skipPermit) {
    console.out << "  SkipPermit is 1 under HKEY_LOCAL_MACHINE\\" << wideToUtf8(policy::kSuiteKey)
                << ": every request of every device is permitted\n";
  }
  if (settings.allowAll) {
    console.out << "  every request    "
                << (*settings.allowAll == "yes"  ? "allowed (AllowAll)"
                    : *settings.allowAll == "no" ? "not allowed (AllowAll is 0)"
                                                 : "AllowAll unreadable (more than 8 bytes; grants nothing)")
                << '\n';
  }
  for (const auto& [code, request] : settings.requests) {
    std::string parts;
    if (request.standing) {
      parts = *request.standing == "unreadable" ? "standing value unreadable (more than 4 bytes; grants nothing)"
              : *request.standing == "none"     ? "no standing permission (0)"
              : *request.standing == "once"     ? "once"
                                                : "always";
    }
    if (request.until) parts += (parts.empty() ? "" : "; ") + untilText(request, now);
    console.out << "  request " << requestCodeText(code) << "   " << parts << '\n';
  }
  if (!settings.allowAll && settings.requests.empty()) console.out << "  nothing is stored\n";
}

void printJsonDocument(const PermitPair& pair, const Settings& settings, uint64_t now, Console& console) {
  Json requests = Json::array();
  for (const auto& [code, request] : settings.requests) {
    Json entry = {{"code", code},
                  {"codeText", requestCodeText(code)},
                  {"standing", request.standing ? Json(*request.standing) : Json(nullptr)}};
    entry["until"] = !request.until            ? Json(nullptr)
                     : *request.until == "set" ? Json(utcTimeText(request.moment))
                                               : Json("unreadable");
    entry["expired"] = request.until == "set" && request.moment < now;
    entry["grants"] = grants(request, now);
    requests.push_back(std::move(entry));
  }
  printJson(console, Json{{"local", wideToUtf8(policy::bdAddrUpper(pair.local.bd.data()))},
                          {"remote", wideToUtf8(policy::bdAddrUpper(pair.remote.bd.data()))},
                          {"key", "HKEY_CURRENT_USER\\" + wideToUtf8(pair.keyPath())},
                          {"skipPermit", settings.skipPermit},
                          {"allowAll", settings.allowAll == "yes"},
                          {"requests", std::move(requests)}});
}

}  // namespace

int runPermitShow(std::span<const std::string> args, Console& console) {
  ParsedArgs parsed;
  PermitPair pair;
  if (int exit = parsePermitArgs(args, kShowOptions, "permit show", console, &parsed, &pair, nullptr); exit >= 0) {
    return exit;
  }
  port::RegistryPort& registry = *port::platform().registry;
  Settings settings;
  settings.skipPermit = readSkipPermit(registry);
  port::ScopedKey key(registry);
  const std::wstring path = pair.keyPath();
  const DWORD openError = registry.openKey(HKEY_CURRENT_USER, path.c_str(), KEY_READ, key.out());
  if (openError != ERROR_SUCCESS && openError != ERROR_FILE_NOT_FOUND) {
    return failure(console, "Cannot open HKEY_CURRENT_USER\\" + wideToUtf8(path) + ": " + errorText(openError));
  }
  if (openError == ERROR_SUCCESS) {
    std::vector<RegValue> values;
    if (const DWORD error = readValues(registry, key.get(), &values)) {
      return failure(console, "Cannot read HKEY_CURRENT_USER\\" + wideToUtf8(path) + ": " + errorText(error));
    }
    for (const RegValue& value : values) decode(value, &settings);
  }
  const uint64_t now = port::platform().clock->systemTimeAsFileTime();
  if (parsed.has("json")) {
    printJsonDocument(pair, settings, now, console);
  } else {
    printText(pair, settings, now, console);
  }
  return kExitOk;
}

}  // namespace utils::btutil
