// An in-memory registry with the same contract as the real ones: case-insensitive
// names, typed values, access checks on handles, stable enumeration order. A test
// can make the next calls of any operation fail with a chosen error.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "port/registry_port.h"

namespace utils::sim {

class SimRegistry : public port::RegistryPort {
 public:
  SimRegistry();
  ~SimRegistry() override;

  DWORD openKey(HKEY root, const wchar_t* subKey, REGSAM access, HKEY* result) override;
  DWORD createKey(HKEY root, const wchar_t* subKey, REGSAM access, HKEY* result, DWORD* disposition) override;
  DWORD closeKey(HKEY key) override;
  DWORD queryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* size) override;
  DWORD setValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) override;
  DWORD deleteValue(HKEY key, const wchar_t* name) override;
  // Atomic: read, compare and delete under one lock; counts as a Delete call.
  DWORD takeValue(HKEY key, const wchar_t* name, const BYTE* expected, DWORD size) override;
  DWORD deleteTree(HKEY key, const wchar_t* subKey) override;
  // All or none: the changes go through the calls above (so failNext reaches
  // them) and both roots are put back as they were when one fails. Not isolated
  // from other threads while it runs.
  DWORD applyChanges(HKEY key, const port::RegistryChange* changes, size_t count, size_t* failedIndex) override;
  DWORD enumValue(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* type, BYTE* data,
                  DWORD* dataSize) override;
  DWORD enumKey(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars) override;
  DWORD queryInfoKey(HKEY key, DWORD* subKeys, DWORD* values) override;

  // Test controls.
  enum class Op { Open, Create, Query, Set, Delete, Enum };
  // The next `count` calls of op fail with error (0 count: every call).
  void failNext(Op op, DWORD error, int count = 1);
  // Makes a root read-only, as a machine-wide store without write permission is.
  void setReadOnly(HKEY root, bool readOnly);
  // Removes every key and value.
  void clear();
  // Handles still open (a leak check for tests).
  size_t openHandles() const;
  // Calls made so far of op.
  int calls(Op op) const;

 private:
  struct Value {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
  };
  struct Node {
    std::wstring name;
    uint64_t serial = 0;  // unique per key ever made: a handle names this key, not its path
    std::map<std::wstring, std::unique_ptr<Node>> children;  // by folded name
    std::map<std::wstring, Value> values;                    // by folded name
  };
  struct Handle {
    HKEY root;
    std::vector<std::wstring> path;  // folded components from the root
    REGSAM access;
    uint64_t serial;  // of the key opened
  };

  static std::unique_ptr<Node> cloneNode(const Node& node);
  DWORD injected(Op op);
  Node* rootNode(HKEY root);
  // ERROR_INVALID_HANDLE for an unknown handle; ERROR_KEY_DELETED (with the
  // outputs filled) when its key was deleted. Callers check access before that.
  DWORD resolve(HKEY key, HKEY* root, std::vector<std::wstring>* path, REGSAM* access);
  Node* find(HKEY root, const std::vector<std::wstring>& path);
  // A handle resolved for one call: where its key is and whether it still exists.
  struct Target {
    HKEY root = nullptr;
    std::vector<std::wstring> path;
    REGSAM access = 0;
    DWORD state = ERROR_SUCCESS;  // ERROR_KEY_DELETED when the key is gone
    Node* node = nullptr;         // the key, while it exists
  };
  // Answers what every call answers first: an unknown handle, then a handle
  // opened without the `needed` access. The key's own state is left in
  // target->state, which callers answer after checking their arguments.
  DWORD resolveFor(HKEY key, REGSAM needed, Target* target);
  bool readOnly(HKEY root) const { return root == HKEY_LOCAL_MACHINE ? machineReadOnly_ : userReadOnly_; }
  HKEY newHandle(HKEY root, std::vector<std::wstring> path, REGSAM access, uint64_t serial);

  mutable std::mutex mutex_;
  Node machine_;
  Node user_;
  std::map<HKEY, Handle> handles_;
  uintptr_t nextHandle_ = 0x1000;
  uint64_t nextSerial_ = 1;  // 0 is every root's
  bool machineReadOnly_ = false;
  bool userReadOnly_ = false;
  struct Fault {
    DWORD error = 0;
    int remaining = 0;  // -1: always
  };
  std::map<Op, Fault> faults_;
  std::map<Op, int> calls_;
};

// Splits a key path at backslashes. False for an empty component inside the path
// (a trailing backslash is allowed).
bool splitKeyPath(const wchar_t* path, std::vector<std::wstring>* components);

// Upper-cases a name for comparison (ASCII and Latin-1 letters).
std::wstring foldName(const std::wstring& name);

}  // namespace utils::sim
