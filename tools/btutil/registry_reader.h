// Reads keys and values through the registry port, whole: names of any length,
// data of any size, a key's tree in order.
#pragma once

#include <string>
#include <vector>

#include "key_path.h"
#include "port/registry_port.h"
#include "reg_value.h"

namespace utils::btutil {

// One key of a tree with its values, the default value first.
struct KeySnapshot {
  KeyPath path;
  std::vector<RegValue> values;
};

// Reads one value of an open key (name empty: the default value).
DWORD readValue(port::RegistryPort& registry, HKEY key, const std::wstring& name, RegValue* value);

// The names of an open key's values, in the registry's order.
DWORD listValueNames(port::RegistryPort& registry, HKEY key, std::vector<std::wstring>* names);

// All values of an open key, the default value first, the rest in the
// registry's order.
DWORD readValues(port::RegistryPort& registry, HKEY key, std::vector<RegValue>* values);

// The names of an open key's direct subkeys, in the registry's order.
DWORD listSubKeys(port::RegistryPort& registry, HKEY key, std::vector<std::wstring>* names);

// The key and every key below it, each before its subkeys. failedPath names the
// key that could not be read when the result is an error.
DWORD snapshotTree(port::RegistryPort& registry, const KeyPath& top, std::vector<KeySnapshot>* keys,
                   KeyPath* failedPath);

}  // namespace utils::btutil
