// btutil permit: asks IsRequestPermitted, and writes or removes the settings it reads.
#include <cstdio>

#include "commands.h"
#include "common/utf16.h"
#include "numbers.h"
#include "permit_args.h"
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

int writeValue(const PermitPair& pair, const std::wstring& name, DWORD type, const std::vector<BYTE>& data,
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

// The consuming check: the answer the suite gets, with its side effect (a
// one-time permission that grants is used up).
int runCheck(std::span<const std::string> args, Console& console) {
  ParsedArgs parsed;
  PermitPair pair;
  WORD code = 0;
  if (int exit = parsePermitArgs(args, {}, "permit check", console, &parsed, &pair, &code); exit >= 0) return exit;
  const bool permitted = IsRequestPermitted(pair.local.bd.data(), pair.remote.bd.data(), code) != 0;
  console.out << (permitted ? "Permitted.\n" : "Not permitted.\n");
  return permitted ? kExitOk : kExitNo;
}

int runGrant(std::span<const std::string> args, Console& console) {
  ParsedArgs parsed;
  PermitPair pair;
  WORD code = 0;
  if (int exit = parsePermitArgs(args, kGrantOptions, "permit grant", console, &parsed, &pair, &code); exit >= 0) {
    return exit;
  }
  const int kinds = int(parsed.has("once")) + int(parsed.has("always")) + int(parsed.has("until"));
  if (kinds != 1) return usageError(console, "Give exactly one of --once, --always and --until TIME.", "permit grant");
  const std::wstring name = policy::requestValueName(code);
  const std::string what = "request " + requestCodeText(code) + " of " + pair.shown();
  if (parsed.has("until")) {
    const auto moment = parsePermitTime(parsed.value("until"), port::platform().clock->systemTimeAsFileTime());
    if (!moment) {
      return usageError(console,
                        "The time \"" + parsed.value("until") +
                            "\" is neither YYYY-MM-DDTHH:MM[:SS] (local time; with Z or +HH:MM another zone) nor +N "
                            "followed by s, m, h or d.",
                        "permit grant");
    }
    if (int exit = writeValue(pair, name + L"_time", REG_QWORD, littleEndianBytes(*moment, 8), console)) return exit;
    console.out << "Granted " << what << " until " << localTimeText(*moment) << " local time (" << utcTimeText(*moment)
                << ").\n";
    return kExitOk;
  }
  const bool once = parsed.has("once");
  if (int exit = writeValue(pair, name, REG_DWORD, littleEndianBytes(once ? 1 : kAlways, 4), console)) return exit;
  console.out << "Granted " << what << (once ? " once (the request it permits uses it up).\n" : " always.\n");
  return kExitOk;
}

int runAllowAll(std::span<const std::string> args, Console& console) {
  ParsedArgs parsed;
  PermitPair pair;
  if (int exit = parsePermitArgs(args, {}, "permit allow-all", console, &parsed, &pair, nullptr); exit >= 0) {
    return exit;
  }
  if (int exit = writeValue(pair, L"AllowAll", REG_QWORD, littleEndianBytes(1, 8), console)) return exit;
  console.out << "Allowed every request of " << pair.shown() << ".\n";
  return kExitOk;
}

int runRevoke(std::span<const std::string> args, Console& console) {
  // --allow-all takes the place of CODE: look for it before counting arguments.
  ParsedArgs probe;
  std::string error;
  if (!parseArgs(args, kRevokeOptions, &probe, &error)) return usageError(console, error, "permit revoke");
  const bool allowAll = probe.has("allow-all");
  ParsedArgs parsed;
  PermitPair pair;
  WORD code = 0;
  if (int exit =
          parsePermitArgs(args, kRevokeOptions, "permit revoke", console, &parsed, &pair, allowAll ? nullptr : &code);
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
  const std::wstring path = pair.keyPath();
  std::string removed;
  for (const std::wstring& name : names) {
    const DWORD result = registry.deleteKeyValue(HKEY_CURRENT_USER, path.c_str(), name.c_str());
    if (result == ERROR_FILE_NOT_FOUND) continue;
    if (result != ERROR_SUCCESS) {
      return failure(console, "The value " + wideToUtf8(name) + " could not be removed: " + errorText(result));
    }
    removed += (removed.empty() ? "" : " and ") + wideToUtf8(name);
  }
  const std::string what =
      allowAll ? "allow-all of " + pair.shown() : "request " + requestCodeText(code) + " of " + pair.shown();
  if (removed.empty()) {
    console.out << "Nothing to revoke: no " << (allowAll ? "allow-all setting" : "permission") << " was stored for "
                << (allowAll ? pair.shown() : "request " + requestCodeText(code) + " of " + pair.shown()) << ".\n";
  } else {
    console.out << "Revoked " << what << " (removed " << removed << ").\n";
  }
  return kExitOk;
}

}  // namespace

std::wstring PermitPair::keyPath() const {
  return policy::deviceKeyPath(policy::bdAddrUpper(local.bd.data()), policy::bdAddrUpper(remote.bd.data()));
}

std::string PermitPair::shown() const {
  return wideToUtf8(policy::bdAddrUpper(remote.bd.data())) + " on radio " +
         wideToUtf8(policy::bdAddrUpper(local.bd.data()));
}

std::string requestCodeText(WORD code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(code));
  return text;
}

int parsePermitArgs(std::span<const std::string> args, std::span<const OptionSpec> specs, std::string_view topic,
                    Console& console, ParsedArgs* parsed, PermitPair* pair, WORD* code) {
  std::string error;
  if (!parseArgs(args, specs, parsed, &error)) return usageError(console, error, topic);
  if (parsed->help) {
    printUsage(console.out, topic);
    return kExitOk;
  }
  const size_t wanted = code != nullptr ? 3 : 2;
  if (parsed->positional.size() != wanted) {
    return usageError(console,
                      "btutil " + std::string(topic) + " needs " + std::to_string(wanted) + " arguments (" +
                          (code != nullptr ? "LOCAL REMOTE CODE" : "LOCAL REMOTE") + "), " +
                          std::to_string(parsed->positional.size()) + " given.",
                      topic);
  }
  if (!parseAddress(parsed->positional[0], &pair->local, &error) ||
      !parseAddress(parsed->positional[1], &pair->remote, &error)) {
    return usageError(console, error, topic);
  }
  if (code != nullptr) {
    const auto value = parseUnsigned(parsed->positional[2], 0xFFFF);
    if (!value) {
      return usageError(console, "The request code \"" + parsed->positional[2] + "\" is not a number from 0 to 0xFFFF.",
                        topic);
    }
    *code = static_cast<WORD>(*value);
  }
  return -1;
}

int runPermit(std::span<const std::string> args, Console& console) {
  using Operation = int (*)(std::span<const std::string>, Console&);
  static constexpr struct {
    std::string_view name;
    Operation run;
  } kOperations[] = {{"show", runPermitShow},
                     {"check", runCheck},
                     {"grant", runGrant},
                     {"allow-all", runAllowAll},
                     {"revoke", runRevoke}};
  if (args.empty()) {
    return usageError(console, "btutil permit needs an operation: show, check, grant, allow-all or revoke.", "permit");
  }
  const std::string verb = lowerAscii(args[0]);
  for (const auto& operation : kOperations) {
    if (operation.name == verb) return operation.run(args.subspan(1), console);
  }
  AddressInput address;
  std::string ignored;
  if (parseAddress(args[0], &address, &ignored)) {
    return usageError(console,
                      "btutil permit needs an operation before the addresses: \"permit show LOCAL REMOTE\" shows what "
                      "is stored, \"permit check LOCAL REMOTE CODE\" asks as the suite does (and uses up a one-time "
                      "permission that grants).",
                      "permit");
  }
  return usageError(
      console, "Unknown permit operation \"" + args[0] + "\": use show, check, grant, allow-all or revoke.", "permit");
}

}  // namespace utils::btutil
