// btutil reg query KEY [/v NAME | /ve] [/s]
#include "command_args.h"
#include "common/utf16.h"
#include "reg_commands.h"
#include "registry_reader.h"
#include "win_error.h"

namespace utils::btutil {
namespace {

constexpr std::string_view kTopic = "reg query";
constexpr OptionSpec kSpecs[] = {{"v", true}, {"ve", false}, {"s", false}};

// A key or value that does not exist is the query's negative answer.
int notFound(Console& console, std::string_view message) {
  failure(console, message);
  return kExitNo;
}

void printValue(std::ostream& out, const RegValue& value) {
  out << "    " << displayName(value.name) << "    " << typeName(value.type) << "    " << displayData(value) << '\n';
}

void printKeyHeader(std::ostream& out, const KeyPath& path) { out << '\n' << shownPath(path) << '\n'; }

// The key's values, then its direct subkeys' paths.
int queryKey(port::RegistryPort& registry, HKEY key, const KeyPath& path, Console& console) {
  std::vector<RegValue> values;
  std::vector<std::wstring> children;
  DWORD code = readValues(registry, key, &values);
  if (code == ERROR_SUCCESS) code = listSubKeys(registry, key, &children);
  if (code != ERROR_SUCCESS) return failure(console, "Cannot read " + shownPath(path) + ": " + errorText(code));
  printKeyHeader(console.out, path);
  for (const auto& value : values) printValue(console.out, value);
  if (!values.empty()) console.out << '\n';
  for (const auto& child : children) console.out << shownPath(childPath(path, child)) << '\n';
  return kExitOk;
}

// Every key of the tree with its values.
int queryTree(port::RegistryPort& registry, const KeyPath& path, Console& console) {
  std::vector<KeySnapshot> keys;
  KeyPath failed;
  if (DWORD code = snapshotTree(registry, path, &keys, &failed); code != ERROR_SUCCESS) {
    return failure(console, "Cannot read " + shownPath(failed) + ": " + errorText(code));
  }
  for (const auto& key : keys) {
    printKeyHeader(console.out, key.path);
    for (const auto& value : key.values) printValue(console.out, value);
  }
  return kExitOk;
}

// One value of the key, or with recursive of every key of its tree.
int queryValue(port::RegistryPort& registry, const KeyPath& path, const std::wstring& name, bool recursive,
               Console& console) {
  std::vector<KeyPath> paths{path};
  if (recursive) {
    std::vector<KeySnapshot> keys;
    KeyPath failed;
    if (DWORD code = snapshotTree(registry, path, &keys, &failed); code != ERROR_SUCCESS) {
      return failure(console, "Cannot read " + shownPath(failed) + ": " + errorText(code));
    }
    paths.clear();
    for (auto& key : keys) paths.push_back(std::move(key.path));
  }
  size_t matches = 0;
  for (const auto& keyPath : paths) {
    port::ScopedKey key(registry);
    RegValue value;
    DWORD code = registry.openKey(keyPath.root, keyPath.subKey.c_str(), KEY_QUERY_VALUE, key.out());
    if (code == ERROR_SUCCESS) code = readValue(registry, key.get(), name, &value);
    if (code == ERROR_FILE_NOT_FOUND && recursive) continue;  // keys without it are skipped
    if (code == ERROR_FILE_NOT_FOUND) {
      return notFound(console, "The value " + displayName(name) + " was not found under " + shownPath(keyPath) + ".");
    }
    if (code != ERROR_SUCCESS) return failure(console, "Cannot read " + shownPath(keyPath) + ": " + errorText(code));
    printKeyHeader(console.out, keyPath);
    printValue(console.out, value);
    ++matches;
  }
  if (!recursive) {
    console.out << '\n';
    return kExitOk;
  }
  if (matches == 0) {
    return notFound(console,
                    "The value " + displayName(name) + " was not found under " + shownPath(path) + " or below it.");
  }
  console.out << "\nEnd of search: " << matches << " match(es) found.\n";
  return kExitOk;
}

}  // namespace

int regQuery(std::span<const std::string> args, port::RegistryPort& registry, Console& console) {
  ParsedArgs parsed;
  if (int code = prepareArgs(args, kSpecs, 1, kTopic, console, &parsed); code >= 0) return code;
  KeyPath path;
  if (!keyArgument(parsed.positional[0], kTopic, console, &path)) return kExitUsage;
  if (parsed.has("v") && parsed.has("ve")) return usageError(console, "Use either /v NAME or /ve, not both.", kTopic);

  port::ScopedKey key(registry);
  if (DWORD code = registry.openKey(path.root, path.subKey.c_str(), KEY_READ, key.out()); code != ERROR_SUCCESS) {
    const std::string message = "Cannot open " + shownPath(path) + ": " + errorText(code);
    return code == ERROR_FILE_NOT_FOUND ? notFound(console, message) : failure(console, message);
  }
  if (parsed.has("v") || parsed.has("ve")) {
    return queryValue(registry, path, utf8ToWide(parsed.value("v")), parsed.has("s"), console);
  }
  return parsed.has("s") ? queryTree(registry, path, console) : queryKey(registry, key.get(), path, console);
}

}  // namespace utils::btutil
