// The Win32 registry adapter on the real registry: the registry contract, run on
// a scratch key under HKCU\Software\utils-test whose subkeys stand in for the
// predefined roots, and what only the real predefined keys and Wine show.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "port/win32/win32_registry.h"
#include "unit/registry_contract.h"
#include "wine_detect.h"

namespace {

using registry_contract::dwordBytes;
using registry_contract::setBytes;
using utils::port::RegistryPort;
using utils::port::ScopedKey;
using utils::win32port::Win32Registry;

constexpr const wchar_t* kScratchParent = L"Software\\utils-test";

// The adapter with HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE mapped to two keys of
// a fresh scratch tree (removed again with the registry); the other predefined
// roots are mapped to no key, which the system refuses as a handle.
class ScratchRegistry : public RegistryPort {
 public:
  ScratchRegistry() {
    static int made = 0;
    path_ = std::wstring(kScratchParent) + L"\\contract-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++made);
    inner_.createKey(HKEY_CURRENT_USER, (path_ + L"\\user").c_str(), KEY_ALL_ACCESS, &user_, nullptr);
    inner_.createKey(HKEY_CURRENT_USER, (path_ + L"\\machine").c_str(), KEY_ALL_ACCESS, &machine_, nullptr);
  }
  ~ScratchRegistry() override {
    inner_.closeKey(user_);
    inner_.closeKey(machine_);
    inner_.deleteTree(HKEY_CURRENT_USER, path_.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, kScratchParent);  // when no other program uses it
  }
  ScratchRegistry(const ScratchRegistry&) = delete;
  ScratchRegistry& operator=(const ScratchRegistry&) = delete;
  size_t openHandles() const { return open_; }

  DWORD openKey(HKEY root, const wchar_t* subKey, REGSAM access, HKEY* result) override {
    return opened(inner_.openKey(map(root), subKey, access, result));
  }
  DWORD createKey(HKEY root, const wchar_t* subKey, REGSAM access, HKEY* result, DWORD* disposition) override {
    return opened(inner_.createKey(map(root), subKey, access, result, disposition));
  }
  DWORD closeKey(HKEY key) override {
    if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    const DWORD error = inner_.closeKey(map(key));
    if (error == ERROR_SUCCESS) --open_;
    return error;
  }
  DWORD queryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* size) override {
    return inner_.queryValue(map(key), name, type, data, size);
  }
  DWORD getValue(HKEY key, const wchar_t* subKey, const wchar_t* name, DWORD flags, DWORD* type, void* data,
                 DWORD* size) override {
    return inner_.getValue(map(key), subKey, name, flags, type, data, size);
  }
  DWORD setValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) override {
    return inner_.setValue(map(key), name, type, data, size);
  }
  DWORD deleteValue(HKEY key, const wchar_t* name) override { return inner_.deleteValue(map(key), name); }
  DWORD deleteKeyValue(HKEY key, const wchar_t* subKey, const wchar_t* name) override {
    return inner_.deleteKeyValue(map(key), subKey, name);
  }
  DWORD deleteTree(HKEY key, const wchar_t* subKey) override { return inner_.deleteTree(map(key), subKey); }
  DWORD enumValue(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* type, BYTE* data,
                  DWORD* dataSize) override {
    return inner_.enumValue(map(key), index, name, nameChars, type, data, dataSize);
  }
  DWORD enumKey(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars) override {
    return inner_.enumKey(map(key), index, name, nameChars);
  }
  DWORD queryInfoKey(HKEY key, DWORD* subKeys, DWORD* values) override {
    return inner_.queryInfoKey(map(key), subKeys, values);
  }

 private:
  HKEY map(HKEY key) const {
    if (key == HKEY_CURRENT_USER) return user_;
    if (key == HKEY_LOCAL_MACHINE) return machine_;
    const auto value = reinterpret_cast<intptr_t>(key);  // the predefined roots: 0x80000000 on, sign-extended
    return value < 0 && value >= INT32_MIN ? nullptr : key;
  }
  DWORD opened(DWORD error) {
    if (error == ERROR_SUCCESS) ++open_;
    return error;
  }

  Win32Registry inner_;
  std::wstring path_;
  HKEY user_ = nullptr;
  HKEY machine_ = nullptr;
  std::atomic<size_t> open_{0};
};

struct ScratchFactory {
  using Registry = ScratchRegistry;
  std::unique_ptr<ScratchRegistry> make() { return std::make_unique<ScratchRegistry>(); }
  // A read-only root is a matter of the key's security, which a test cannot set
  // for itself on every system.
  std::unique_ptr<ScratchRegistry> makeReadOnlyMachine() { return nullptr; }

  // Where Wine 8's registry answers otherwise than Windows and the contract.
  static const char* deviation(std::string_view step) {
    if (!utils::testing::runningUnderWine()) return nullptr;
    static const std::map<std::string_view, const char*> wine = {
        {"malformed key paths", "Wine opens and creates paths that start with or hold two backslashes"},
        {"no data for a size", "Wine answers ERROR_NOACCESS"},
        {"a failed getValue leaves the buffer",
         "Wine copies the data before it checks the type and zeroes nothing "
         "for a missing key"},
        {"getValue without a type flag", "Wine answers ERROR_UNSUPPORTED_TYPE (checked below)"},
        {"name and depth limits", "Wine keeps neither the key name length nor the depth limit"},
    };
    const auto found = wine.find(step);
    return found != wine.end() ? found->second : nullptr;
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, RegistryContract, ::testing::Types<ScratchFactory>);

// The adapter on the real predefined key, and the answers that differ between
// Windows and Wine.
TEST(Win32Registry, RealRootAndSystemAnswers) {
  Win32Registry registry;
  const std::wstring path = std::wstring(kScratchParent) + L"\\real-" + std::to_wstring(GetCurrentProcessId());
  ScopedKey key(registry);
  DWORD disposition = 0;
  ASSERT_EQ(registry.createKey(HKEY_CURRENT_USER, (path + L"\\Sub").c_str(), KEY_ALL_ACCESS, key.out(), &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY)) << "a scratch key was left behind";
  ASSERT_EQ(setBytes(registry, key.get(), L"Number", REG_DWORD, dwordBytes(42)), ERROR_SUCCESS);
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  const DWORD noType =
      registry.getValue(HKEY_CURRENT_USER, (path + L"\\sub").c_str(), L"number", 0, &type, &value, &size);
  EXPECT_EQ(noType, utils::testing::runningUnderWine() ? ERROR_UNSUPPORTED_TYPE : ERROR_INVALID_PARAMETER);
  size = sizeof value;
  ASSERT_EQ(
      registry.getValue(HKEY_CURRENT_USER, (path + L"\\sub").c_str(), L"number", RRF_RT_DWORD, &type, &value, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(value, 42u);
  BYTE tiny[2] = {1, 1};
  size = sizeof tiny;
  EXPECT_EQ(registry.getValue(key.get(), nullptr, L"Number", RRF_RT_ANY | RRF_ZEROONFAILURE, &type, tiny, &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(tiny[0] | tiny[1], 0) << "zeroed on failure";
  EXPECT_EQ(registry.deleteKeyValue(key.get(), nullptr, L"Number"), ERROR_SUCCESS);
  EXPECT_EQ(registry.closeKey(HKEY(nullptr)), ERROR_INVALID_HANDLE);
  key.reset();
  EXPECT_EQ(registry.deleteTree(HKEY_CURRENT_USER, path.c_str()), ERROR_SUCCESS);
  HKEY gone = nullptr;
  EXPECT_EQ(registry.openKey(HKEY_CURRENT_USER, path.c_str(), KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  RegDeleteKeyW(HKEY_CURRENT_USER, kScratchParent);
}

}  // namespace
