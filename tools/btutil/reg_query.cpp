// btutil reg query KEY [/v NAME | /ve] [/s] [/json]
#include "command_args.h"
#include "common/utf16.h"
#include "json_output.h"
#include "reg_commands.h"
#include "registry_reader.h"
#include "win_error.h"

namespace utils::btutil {
namespace {

constexpr std::string_view kTopic = "reg query";
constexpr OptionSpec kSpecs[] = {{"v", true}, {"ve", false}, {"s", false}, {"json", false}};

// What a query found: the keys with the values shown for each, and for a
// one-key query the paths of its direct subkeys.
struct KeyReport {
  KeyPath path;
  std::vector<RegValue> values;
  std::vector<KeyPath> subkeys;
};

enum class Shape { kKey, kTree, kValue, kValueSearch };

// A key or value that does not exist is the query's negative answer.
int notFound(Console& console, std::string_view message) {
  failure(console, message);
  return kExitNo;
}

int readFailure(Console& console, const KeyPath& path, DWORD code) {
  return failure(console, "Cannot read " + shownPath(path) + ": " + errorText(code));
}

// The key's values, then its direct subkeys' paths.
int queryKey(port::RegistryPort& registry, HKEY key, const KeyPath& path, std::vector<KeyReport>* found,
             Console& console) {
  KeyReport report{path, {}, {}};
  std::vector<std::wstring> children;
  DWORD code = readValues(registry, key, &report.values);
  if (code == ERROR_SUCCESS) code = listSubKeys(registry, key, &children);
  if (code != ERROR_SUCCESS) return readFailure(console, path, code);
  for (const auto& child : children) report.subkeys.push_back(childPath(path, child));
  found->push_back(std::move(report));
  return kExitOk;
}

// Every key of the tree with its values.
int queryTree(port::RegistryPort& registry, const KeyPath& path, std::vector<KeyReport>* found, Console& console) {
  std::vector<KeySnapshot> keys;
  KeyPath failed;
  if (DWORD code = snapshotTree(registry, path, &keys, &failed); code != ERROR_SUCCESS) {
    return readFailure(console, failed, code);
  }
  for (auto& key : keys) found->push_back(KeyReport{std::move(key.path), std::move(key.values), {}});
  return kExitOk;
}

// One value of the key, or with recursive of every key of its tree that has it.
// A key's default value that is not set is still an answer to a one-key /ve
// query ("(value not set)"); a search simply does not count it.
int queryValue(port::RegistryPort& registry, const KeyPath& path, const std::wstring& name, bool recursive,
               std::vector<KeyReport>* found, Console& console) {
  std::vector<KeyPath> paths{path};
  if (recursive) {
    std::vector<KeySnapshot> keys;
    KeyPath failed;
    if (DWORD code = snapshotTree(registry, path, &keys, &failed); code != ERROR_SUCCESS) {
      return readFailure(console, failed, code);
    }
    paths.clear();
    for (auto& key : keys) paths.push_back(std::move(key.path));
  }
  for (const auto& keyPath : paths) {
    port::ScopedKey key(registry);
    RegValue value;
    DWORD code = registry.openKey(keyPath.root, keyPath.subKey.c_str(), KEY_QUERY_VALUE, key.out());
    if (code == ERROR_SUCCESS) code = readValue(registry, key.get(), name, &value);
    if (code == ERROR_FILE_NOT_FOUND && recursive) continue;  // keys without it are skipped
    if (code == ERROR_FILE_NOT_FOUND && name.empty()) {
      found->push_back(KeyReport{keyPath, {}, {}});
      continue;
    }
    if (code == ERROR_FILE_NOT_FOUND) {
      return notFound(console, "The value " + displayName(name) + " was not found under " + shownPath(keyPath) + ".");
    }
    if (code != ERROR_SUCCESS) return readFailure(console, keyPath, code);
    found->push_back(KeyReport{keyPath, {std::move(value)}, {}});
  }
  return kExitOk;
}

// reg stores and shows a REG_DWORD_BIG_ENDIAN as a little-endian REG_DWORD
// under its own type name.
std::string shownLine(const RegValue& value) {
  const bool bigEndian = value.type == REG_DWORD_BIG_ENDIAN;
  const std::string data = bigEndian ? displayData(RegValue{value.name, REG_DWORD, value.data}) : displayData(value);
  return "    " + displayName(value.name) + "    " + queryTypeName(value.type) + "    " + data + "\n";
}

void printValues(const KeyReport& key, std::ostream& out) {
  out << shownPath(key.path) << '\n';
  for (const auto& value : key.values) out << shownLine(value);
}

// What reg prints: a blank line, then per key its path, its values and a blank
// line. A one-key listing shows its key's path only when it has values (a key
// with only subkeys lists just them), then the subkeys' paths; a tree listing
// likewise leaves out a top key without values.
void printText(const std::vector<KeyReport>& found, Shape shape, std::ostream& out) {
  out << '\n';
  for (size_t i = 0; i < found.size(); ++i) {
    const KeyReport& key = found[i];
    const bool unsetDefault = shape == Shape::kValue && key.values.empty();
    if (unsetDefault) {
      out << shownPath(key.path) << "\n    (Default)    REG_SZ    (value not set)\n";
      continue;
    }
    if (key.values.empty() && i == 0 && (shape == Shape::kKey || shape == Shape::kTree)) {
      for (const auto& child : key.subkeys) out << shownPath(child) << '\n';
      continue;
    }
    printValues(key, out);
    out << '\n';
    for (const auto& child : key.subkeys) out << shownPath(child) << '\n';
  }
  if (shape == Shape::kValueSearch) out << "End of search: " << found.size() << " match(es) found.\n";
}

// {"keys": [{"key": "HKEY_...", "values": [...], "subkeys": [...]}]}; subkeys only
// for a one-key query, as reg prints them.
Json jsonDocument(const std::vector<KeyReport>& found, Shape shape) {
  Json keys = Json::array();
  for (const KeyReport& key : found) {
    Json values = Json::array();
    for (const auto& value : key.values) values.push_back(regValueJson(value));
    Json entry{{"key", shownPath(key.path)}, {"values", std::move(values)}};
    if (shape == Shape::kKey) {
      Json subkeys = Json::array();
      for (const auto& child : key.subkeys) subkeys.push_back(shownPath(child));
      entry["subkeys"] = std::move(subkeys);
    }
    keys.push_back(std::move(entry));
  }
  return Json{{"keys", std::move(keys)}};
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
  const bool valueQuery = parsed.has("v") || parsed.has("ve");
  const bool recursive = parsed.has("s");
  const Shape shape =
      valueQuery ? (recursive ? Shape::kValueSearch : Shape::kValue) : (recursive ? Shape::kTree : Shape::kKey);
  std::vector<KeyReport> found;
  int code = kExitOk;
  if (valueQuery) {
    code = queryValue(registry, path, utf8ToWide(parsed.value("v")), recursive, &found, console);
  } else {
    code =
        recursive ? queryTree(registry, path, &found, console) : queryKey(registry, key.get(), path, &found, console);
  }
  if (code != kExitOk) return code;
  if (parsed.has("json")) {
    printJson(console, jsonDocument(found, shape));
  } else {
    printText(found, shape, console.out);
  }
  return kExitOk;
}

}  // namespace utils::btutil
