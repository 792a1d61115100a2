#include "port/sim/sim_registry.h"

#include <cstring>

namespace utils::sim {
namespace {

constexpr REGSAM kWriteBits = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE;

bool isPredefined(HKEY key) { return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER; }

std::wstring valueKey(const wchar_t* name) { return foldName(name == nullptr ? std::wstring() : name); }

}  // namespace

std::wstring foldName(const std::wstring& name) {
  std::wstring folded = name;
  for (wchar_t& c : folded) {
    if ((c >= L'a' && c <= L'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c = static_cast<wchar_t>(c - 0x20);
  }
  return folded;
}

bool splitKeyPath(const wchar_t* path, std::vector<std::wstring>* components) {
  components->clear();
  if (path == nullptr || path[0] == L'\0') return true;
  std::wstring current;
  for (const wchar_t* p = path;; ++p) {
    if (*p == L'\\' || *p == L'\0') {
      if (current.empty()) {
        if (*p == L'\0' && !components->empty()) return true;  // trailing backslash
        return false;
      }
      components->push_back(current);
      current.clear();
      if (*p == L'\0') return true;
    } else {
      current.push_back(*p);
    }
  }
}

SimRegistry::SimRegistry() = default;
SimRegistry::~SimRegistry() = default;

void SimRegistry::failNext(Op op, DWORD error, int count) {
  std::lock_guard lock(mutex_);
  faults_[op] = Fault{error, count == 0 ? -1 : count};
}

void SimRegistry::setReadOnly(HKEY root, bool readOnly) {
  std::lock_guard lock(mutex_);
  (root == HKEY_LOCAL_MACHINE ? machineReadOnly_ : userReadOnly_) = readOnly;
}

void SimRegistry::clear() {
  std::lock_guard lock(mutex_);
  machine_ = Node{};
  user_ = Node{};
  faults_.clear();
  calls_.clear();
}

size_t SimRegistry::openHandles() const {
  std::lock_guard lock(mutex_);
  return handles_.size();
}

int SimRegistry::calls(Op op) const {
  std::lock_guard lock(mutex_);
  auto it = calls_.find(op);
  return it == calls_.end() ? 0 : it->second;
}

DWORD SimRegistry::injected(Op op) {
  ++calls_[op];
  auto it = faults_.find(op);
  if (it == faults_.end() || it->second.remaining == 0) return ERROR_SUCCESS;
  if (it->second.remaining > 0) --it->second.remaining;
  return it->second.error;
}

SimRegistry::Node* SimRegistry::rootNode(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return &machine_;
  if (root == HKEY_CURRENT_USER) return &user_;
  return nullptr;
}

DWORD SimRegistry::resolve(HKEY key, HKEY* root, std::vector<std::wstring>* path, REGSAM* access) {
  if (isPredefined(key)) {
    *root = key;
    path->clear();
    *access = KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  auto it = handles_.find(key);
  if (it == handles_.end()) return ERROR_INVALID_HANDLE;
  *root = it->second.root;
  *path = it->second.path;
  *access = it->second.access;
  // A key made again at the same path is another key: the handle stays deleted.
  const Node* node = find(*root, *path);
  return (node == nullptr || node->serial != it->second.serial) ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

SimRegistry::Node* SimRegistry::find(HKEY root, const std::vector<std::wstring>& path) {
  Node* node = rootNode(root);
  for (const auto& component : path) {
    if (node == nullptr) return nullptr;
    auto it = node->children.find(component);
    node = (it == node->children.end()) ? nullptr : it->second.get();
  }
  return node;
}

HKEY SimRegistry::newHandle(HKEY root, std::vector<std::wstring> path, REGSAM access, uint64_t serial) {
  HKEY handle = reinterpret_cast<HKEY>(nextHandle_);
  nextHandle_ += 0x10;
  handles_[handle] = Handle{root, std::move(path), access, serial};
  return handle;
}

DWORD SimRegistry::resolveFor(HKEY key, REGSAM needed, Target* target) {
  target->state = resolve(key, &target->root, &target->path, &target->access);
  if (target->state == ERROR_INVALID_HANDLE) return target->state;
  if ((target->access & needed) != needed) return ERROR_ACCESS_DENIED;
  if (target->state == ERROR_SUCCESS) target->node = find(target->root, target->path);
  return ERROR_SUCCESS;
}

DWORD SimRegistry::openKey(HKEY root, const wchar_t* subKey, REGSAM access, HKEY* result) {
  std::lock_guard lock(mutex_);
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (DWORD error = injected(Op::Open)) return error;
  Target base;
  if (DWORD error = resolveFor(root, 0, &base)) return error;
  if (base.state != ERROR_SUCCESS) return base.state;
  std::vector<std::wstring> components;
  if (!splitKeyPath(subKey, &components)) return ERROR_BAD_PATHNAME;
  for (const auto& c : components) base.path.push_back(foldName(c));
  const Node* node = find(base.root, base.path);
  if (node == nullptr) return ERROR_FILE_NOT_FOUND;
  if (readOnly(base.root) && (access & kWriteBits) != 0) return ERROR_ACCESS_DENIED;
  *result = newHandle(base.root, std::move(base.path), access, node->serial);
  return ERROR_SUCCESS;
}

DWORD SimRegistry::createKey(HKEY root, const wchar_t* subKey, REGSAM access, HKEY* result, DWORD* disposition) {
  std::lock_guard lock(mutex_);
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (DWORD error = injected(Op::Create)) return error;
  Target base;
  if (DWORD error = resolveFor(root, 0, &base)) return error;
  if (base.state != ERROR_SUCCESS) return base.state;
  std::vector<std::wstring> components;
  if (!splitKeyPath(subKey, &components)) return ERROR_BAD_PATHNAME;
  if (base.path.size() + components.size() > port::kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  for (const auto& c : components) {
    if (port::utf16Length(c) > port::kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
  }
  const bool locked = readOnly(base.root);
  Node* node = base.node;
  bool created = false;
  for (const auto& c : components) {
    const std::wstring folded = foldName(c);
    base.path.push_back(folded);
    auto it = node->children.find(folded);
    if (it == node->children.end()) {
      if (locked) return ERROR_ACCESS_DENIED;
      auto child = std::make_unique<Node>();
      child->name = c;
      child->serial = nextSerial_++;
      it = node->children.emplace(folded, std::move(child)).first;
      created = true;
    }
    node = it->second.get();
  }
  if (locked && (access & kWriteBits) != 0) return ERROR_ACCESS_DENIED;
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = newHandle(base.root, std::move(base.path), access, node->serial);
  return ERROR_SUCCESS;
}

DWORD SimRegistry::closeKey(HKEY key) {
  std::lock_guard lock(mutex_);
  if (isPredefined(key)) return ERROR_SUCCESS;
  return handles_.erase(key) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

DWORD SimRegistry::queryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* size) {
  std::lock_guard lock(mutex_);
  if (DWORD error = injected(Op::Query)) return error;
  Target k;
  if (DWORD error = resolveFor(key, KEY_QUERY_VALUE, &k)) return error;
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  if (k.state != ERROR_SUCCESS) return k.state;
  auto it = k.node->values.find(valueKey(name));
  if (it == k.node->values.end()) return ERROR_FILE_NOT_FOUND;
  return port::copyValueOut(it->second.type, it->second.data, type, data, size);
}

DWORD SimRegistry::setValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) {
  std::lock_guard lock(mutex_);
  if (DWORD error = injected(Op::Set)) return error;
  Target k;
  if (DWORD error = resolveFor(key, KEY_SET_VALUE, &k)) return error;
  if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  if (name != nullptr && port::utf16Length(name) > port::kMaxValueNameChars) return ERROR_INVALID_PARAMETER;
  if (k.state != ERROR_SUCCESS) return k.state;
  if (readOnly(k.root)) return ERROR_ACCESS_DENIED;
  // An existing value keeps the spelling it was created with.
  Value& value = k.node->values[valueKey(name)];
  if (value.name.empty() && name != nullptr) value.name = name;
  value.type = type;
  value.data.assign(data, data + size);
  return ERROR_SUCCESS;
}

DWORD SimRegistry::deleteValue(HKEY key, const wchar_t* name) {
  std::lock_guard lock(mutex_);
  if (DWORD error = injected(Op::Delete)) return error;
  Target k;
  if (DWORD error = resolveFor(key, KEY_SET_VALUE, &k)) return error;
  if (k.state != ERROR_SUCCESS) return k.state;
  if (readOnly(k.root)) return ERROR_ACCESS_DENIED;
  return k.node->values.erase(valueKey(name)) == 1 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

DWORD SimRegistry::takeValue(HKEY key, const wchar_t* name, const BYTE* expected, DWORD size) {
  std::lock_guard lock(mutex_);
  if (DWORD error = injected(Op::Delete)) return error;
  Target k;
  if (DWORD error = resolveFor(key, KEY_QUERY_VALUE | KEY_SET_VALUE, &k)) return error;
  if (expected == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  if (k.state != ERROR_SUCCESS) return k.state;
  if (readOnly(k.root)) return ERROR_ACCESS_DENIED;
  auto& values = k.node->values;
  auto it = values.find(valueKey(name));
  if (it == values.end()) return ERROR_FILE_NOT_FOUND;
  const std::vector<BYTE>& data = it->second.data;
  if (data.size() != size || (size > 0 && std::memcmp(data.data(), expected, size) != 0)) return ERROR_INVALID_DATA;
  values.erase(it);
  return ERROR_SUCCESS;
}

DWORD SimRegistry::deleteTree(HKEY key, const wchar_t* subKey) {
  std::lock_guard lock(mutex_);
  if (DWORD error = injected(Op::Delete)) return error;
  Target k;
  if (DWORD error = resolveFor(key, 0, &k)) return error;
  if (k.state != ERROR_SUCCESS) return k.state;
  std::vector<std::wstring> components;
  if (!splitKeyPath(subKey, &components)) return ERROR_BAD_PATHNAME;
  for (const auto& c : components) k.path.push_back(foldName(c));
  Node* node = find(k.root, k.path);
  if (node == nullptr) return ERROR_FILE_NOT_FOUND;
  if (readOnly(k.root)) return ERROR_ACCESS_DENIED;
  if (components.empty()) {  // everything below the key, the key itself stays
    node->children.clear();
    node->values.clear();
    return ERROR_SUCCESS;
  }
  const std::wstring last = k.path.back();
  k.path.pop_back();
  find(k.root, k.path)->children.erase(last);
  return ERROR_SUCCESS;
}

std::unique_ptr<SimRegistry::Node> SimRegistry::cloneNode(const Node& node) {
  auto copy = std::make_unique<Node>();
  copy->name = node.name;
  copy->serial = node.serial;
  copy->values = node.values;
  for (const auto& [folded, child] : node.children) copy->children.emplace(folded, cloneNode(*child));
  return copy;
}

DWORD SimRegistry::applyChanges(HKEY key, const port::RegistryChange* changes, size_t count, size_t* failedIndex) {
  std::unique_ptr<Node> machineBefore;
  std::unique_ptr<Node> userBefore;
  {
    std::lock_guard lock(mutex_);
    machineBefore = cloneNode(machine_);
    userBefore = cloneNode(user_);
  }
  const DWORD error = RegistryPort::applyChanges(key, changes, count, failedIndex);
  if (error != ERROR_SUCCESS) {
    std::lock_guard lock(mutex_);
    machine_ = std::move(*machineBefore);
    user_ = std::move(*userBefore);
  }
  return error;
}

DWORD SimRegistry::enumValue(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* type, BYTE* data,
                             DWORD* dataSize) {
  std::lock_guard lock(mutex_);
  if (DWORD error = injected(Op::Enum)) return error;
  Target k;
  if (DWORD error = resolveFor(key, KEY_QUERY_VALUE, &k)) return error;
  if (k.state != ERROR_SUCCESS) return k.state;
  if (index >= k.node->values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& value = std::next(k.node->values.begin(), index)->second;
  if (DWORD error = port::copyNameOut(value.name, name, nameChars)) return error;
  return port::copyValueOut(value.type, value.data, type, data, dataSize);
}

DWORD SimRegistry::enumKey(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars) {
  std::lock_guard lock(mutex_);
  if (DWORD error = injected(Op::Enum)) return error;
  Target k;
  if (DWORD error = resolveFor(key, KEY_ENUMERATE_SUB_KEYS, &k)) return error;
  if (k.state != ERROR_SUCCESS) return k.state;
  if (index >= k.node->children.size()) return ERROR_NO_MORE_ITEMS;
  return port::copyNameOut(std::next(k.node->children.begin(), index)->second->name, name, nameChars);
}

DWORD SimRegistry::queryInfoKey(HKEY key, DWORD* subKeys, DWORD* values) {
  std::lock_guard lock(mutex_);
  Target k;
  if (DWORD error = resolveFor(key, 0, &k)) return error;
  if (k.state != ERROR_SUCCESS) return k.state;
  if (subKeys != nullptr) *subKeys = static_cast<DWORD>(k.node->children.size());
  if (values != nullptr) *values = static_cast<DWORD>(k.node->values.size());
  return ERROR_SUCCESS;
}

}  // namespace utils::sim
