// btutil permit: asks IsRequestPermitted, and writes or removes the settings it reads.
#include "address_input.h"
#include "commands.h"
#include "common/utf16.h"
#include "numbers.h"
#include "options.h"
#include "permit_time.h"
#include "policy/policy_keys.h"
#include "port/platform.h"
#include "usage.h"
#include "utils/policy.h"
#include "win_error.h"

namespace utils::btutil {
namespace {

constexpr OptionSpec kGrantOptions[] = {{"once", false}, {"always", false}, {"until", true}};
constexpr OptionSpec kRevokeOptions[] = {{"allow-all", false}};

// The standing permission written by --always (any nonzero number but 1).
constexpr DWORD kAlways = 2;

struct Pair {
  AddressInput local;
  AddressInput remote;
  std::wstring keyPath() const {
    return policy::deviceKeyPath(policy::bdAddrUpper(local.bd.data()), policy::bdAddrUpper(remote.bd.data()));
  }
};

// Parses the switches; then LOCAL REMOTE and, when withCode, CODE. Returns -1 to
// go on, else the exit code.
int parseCommand(std::span<const std::string> args, std::span<const OptionSpec> specs, bool withCode,
                 std::string_view topic, Console& console, ParsedArgs* parsed, Pair* pair, WORD* code) {
  std::string error;
  if (!parseArgs(args, specs, parsed, &error)) return usageError(console, error, topic);
  if (parsed->help) {
    printUsage(console.out, topic);
    return kExitOk;
  }
  const size_t wanted = withCode ? 3 : 2;
  if (parsed->positional.size() != wanted) {
    return usageError(console,
                      "btutil " + std::string(topic) + " needs " + std::to_string(wanted) + " arguments, " +
                          std::to_string(parsed->positional.size()) + " given.",
                      topic);
  }
  if (!parseAddress(parsed->positional[0], &pair->local, &error) ||
      !parseAddress(parsed->positional[1], &pair->remote, &error)) {
    return usageError(console, error, topic);
  }
  if (withCode) {
    const auto value = parseUnsigned(parsed->positional[2], 0xFFFF);
    if (!value) {
      return usageError(console, "The request code \"" + parsed->positional[2] + "\" is not a number from 0 to 0xFFFF.",
                        topic);
    }
    *code = static_cast<WORD>(*value);
  }
  return -1;
}

int writeValue(const Pair& pair, const std::wstring& name, DWORD type, const std::vector<BYTE>& data,
               Console& console) {
  port::RegistryPort& registry = *port::platform().registry;
  port::ScopedKey key(registry);
  const std::wstring path = pair.keyPath();
  if (const DWORD error = registry.createKey(HKEY_CURRENT_USER, path.c_str(), KEY_WRITE, key.out(), nullptr)) {
    return failure(console, "HKCU\\" + wideToUtf8(path) + " could not be created: " + errorText(error));
  }
  if (const DWORD error =
          registry.setValue(key.get(), name.c_str(), type, data.data(), static_cast<DWORD>(data.size()))) {
    return failure(console, "The value " + wideToUtf8(name) + " could not be written: " + errorText(error));
  }
  return kExitOk;
}

int runCheck(std::span<const std::string> args, Console& console) {
  ParsedArgs parsed;
  Pair pair;
  WORD code = 0;
  if (int exit = parseCommand(args, {}, true, "permit", console, &parsed, &pair, &code); exit >= 0) return exit;
  const bool permitted = IsRequestPermitted(pair.local.bd.data(), pair.remote.bd.data(), code) != 0;
  console.out << (permitted ? "Permitted.\n" : "Not permitted.\n");
  return permitted ? kExitOk : kExitNo;
}

int runGrant(std::span<const std::string> args, Console& console) {
  ParsedArgs parsed;
  Pair pair;
  WORD code = 0;
  if (int exit = parseCommand(args, kGrantOptions, true, "permit grant", console, &parsed, &pair, &code); exit >= 0) {
    return exit;
  }
  const int kinds = int(parsed.has("once")) + int(parsed.has("always")) + int(parsed.has("until"));
  if (kinds != 1) return usageError(console, "Give exactly one of --once, --always and --until TIME.", "permit grant");
  const std::wstring name = policy::requestValueName(code);
  if (parsed.has("until")) {
    const auto moment = parsePermitTime(parsed.value("until"), port::platform().clock->systemTimeAsFileTime());
    if (!moment) {
      return usageError(console,
                        "The time \"" + parsed.value("until") +
                            "\" is neither YYYY-MM-DDTHH:MM:SSZ (UTC) nor +N followed by s, m, h or d.",
                        "permit grant");
    }
    return writeValue(pair, name + L"_time", REG_QWORD, littleEndianBytes(*moment, 8), console);
  }
  const DWORD value = parsed.has("once") ? 1 : kAlways;
  return writeValue(pair, name, REG_DWORD, littleEndianBytes(value, 4), console);
}

int runAllowAll(std::span<const std::string> args, Console& console) {
  ParsedArgs parsed;
  Pair pair;
  if (int exit = parseCommand(args, {}, false, "permit allow-all", console, &parsed, &pair, nullptr); exit >= 0) {
    return exit;
  }
  return writeValue(pair, L"AllowAll", REG_QWORD, littleEndianBytes(1, 8), console);
}

int runRevoke(std::span<const std::string> args, Console& console) {
  // --allow-all takes the place of CODE: look for it before counting arguments.
  ParsedArgs probe;
  std::string error;
  if (!parseArgs(args, kRevokeOptions, &probe, &error)) return usageError(console, error, "permit revoke");
  const bool allowAll = probe.has("allow-all");
  ParsedArgs parsed;
  Pair pair;
  WORD code = 0;
  if (int exit = parseCommand(args, kRevokeOptions, !allowAll, "permit revoke", console, &parsed, &pair, &code);
      exit >= 0) {
    return exit;
  }
  std::vector<std::wstring> names;
  if (allowAll) {
    names.push_back(L"AllowAll");
  } else {
    names.push_back(policy::requestValueName(code));
    names.push_back(names.back() + L"_time");
  }
  port::RegistryPort& registry = *port::platform().registry;
  for (const std::wstring& name : names) {
    const std::wstring path = pair.keyPath();
    const DWORD result = registry.deleteKeyValue(HKEY_CURRENT_USER, path.c_str(), name.c_str());
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
      return failure(console, "The value " + wideToUtf8(name) + " could not be removed: " + errorText(result));
    }
  }
  return kExitOk;
}

}  // namespace

int runPermit(std::span<const std::string> args, Console& console) {
  const std::string verb = args.empty() ? std::string() : lowerAscii(args[0]);
  if (verb == "grant") return runGrant(args.subspan(1), console);
  if (verb == "allow-all") return runAllowAll(args.subspan(1), console);
  if (verb == "revoke") return runRevoke(args.subspan(1), console);
  return runCheck(args, console);
}

}  // namespace utils::btutil
