#include "registry_reader.h"

#include <algorithm>

namespace utils::btutil {
namespace {

// Longest value name Windows allows, in wide characters; key names are shorter.
constexpr DWORD kMaxNameChars = 16383;

// Calls enumerate(index, buffer, &chars) for rising indexes until
// ERROR_NO_MORE_ITEMS and collects the names.
template <typename Enumerate>
DWORD enumerateNames(Enumerate enumerate, std::vector<std::wstring>* names) {
  names->clear();
  std::vector<wchar_t> buffer(kMaxNameChars + 1);
  for (DWORD index = 0;; ++index) {
    DWORD chars = static_cast<DWORD>(buffer.size());
    const DWORD error = enumerate(index, buffer.data(), &chars);
    if (error == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) return error;
    names->emplace_back(buffer.data(), std::min<size_t>(chars, buffer.size() - 1));
  }
}

}  // namespace

DWORD readValue(port::RegistryPort& registry, HKEY key, const std::wstring& name, RegValue* value) {
  value->name = name;
  // The value may grow between the size query and the read: ask again then.
  for (;;) {
    DWORD size = 0;
    DWORD error = registry.queryValue(key, name.c_str(), &value->type, nullptr, &size);
    if (error != ERROR_SUCCESS) return error;
    value->data.resize(size);
    error = registry.queryValue(key, name.c_str(), &value->type, value->data.data(), &size);
    if (error == ERROR_MORE_DATA) continue;
    if (error != ERROR_SUCCESS) return error;
    value->data.resize(size);
    return ERROR_SUCCESS;
  }
}

DWORD listValueNames(port::RegistryPort& registry, HKEY key, std::vector<std::wstring>* names) {
  return enumerateNames(
      [&](DWORD index, wchar_t* name, DWORD* chars) {
        return registry.enumValue(key, index, name, chars, nullptr, nullptr, nullptr);
      },
      names);
}

DWORD readValues(port::RegistryPort& registry, HKEY key, std::vector<RegValue>* values) {
  values->clear();
  std::vector<std::wstring> names;
  DWORD error = listValueNames(registry, key, &names);
  if (error != ERROR_SUCCESS) return error;
  // The default value leads, as regedit and reg query show it.
  std::stable_partition(names.begin(), names.end(), [](const std::wstring& n) { return n.empty(); });
  for (const auto& name : names) {
    RegValue value;
    error = readValue(registry, key, name, &value);
    if (error == ERROR_FILE_NOT_FOUND) continue;  // deleted by someone else meanwhile
    if (error != ERROR_SUCCESS) return error;
    values->push_back(std::move(value));
  }
  return ERROR_SUCCESS;
}

DWORD listSubKeys(port::RegistryPort& registry, HKEY key, std::vector<std::wstring>* names) {
  return enumerateNames(
      [&](DWORD index, wchar_t* name, DWORD* chars) { return registry.enumKey(key, index, name, chars); }, names);
}

DWORD snapshotTree(port::RegistryPort& registry, const KeyPath& top, std::vector<KeySnapshot>* keys,
                   KeyPath* failedPath) {
  keys->clear();
  // Depth first without recursion: a deep tree cannot exhaust the stack.
  std::vector<KeyPath> pending{top};
  while (!pending.empty()) {
    KeySnapshot snapshot{std::move(pending.back()), {}};
    pending.pop_back();
    port::ScopedKey key(registry);
    DWORD error = registry.openKey(snapshot.path.root, snapshot.path.subKey.c_str(), KEY_READ, key.out());
    std::vector<std::wstring> children;
    if (error == ERROR_SUCCESS) error = readValues(registry, key.get(), &snapshot.values);
    if (error == ERROR_SUCCESS) error = listSubKeys(registry, key.get(), &children);
    if (error == ERROR_FILE_NOT_FOUND && keys->size() > 0) continue;  // a subkey deleted meanwhile
    if (error != ERROR_SUCCESS) {
      *failedPath = snapshot.path;
      return error;
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back(childPath(snapshot.path, *it));
    keys->push_back(std::move(snapshot));
  }
  return ERROR_SUCCESS;
}

}  // namespace utils::btutil
