// Registry set-up shared by the policy tests: values written straight into the
// simulated registry, and the trace lines without their time prefix.
#pragma once

#include <string>
#include <vector>

#include "sim_fixture.h"

namespace utils::test {

class PolicyTest : public SimTest {
 protected:
  void put(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, std::vector<BYTE> data) {
    HKEY key = nullptr;
    ASSERT_EQ(0u, sim_.registry.createKey(root, path.c_str(), KEY_ALL_ACCESS, &key, nullptr));
    ASSERT_EQ(0u, sim_.registry.setValue(key, name, type, data.data(), static_cast<DWORD>(data.size())));
    sim_.registry.closeKey(key);
  }
  void makeKey(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    ASSERT_EQ(0u, sim_.registry.createKey(root, path.c_str(), KEY_ALL_ACCESS, &key, nullptr));
    sim_.registry.closeKey(key);
  }
  static std::vector<BYTE> le(uint64_t value, size_t width) {
    std::vector<BYTE> bytes(width);
    for (size_t i = 0; i < width; ++i) bytes[i] = static_cast<BYTE>(value >> (8 * i));
    return bytes;
  }
  // The value's data, or nothing when it is absent.
  bool read(HKEY root, const std::wstring& path, const wchar_t* name, std::vector<BYTE>* data = nullptr) {
    HKEY key = nullptr;
    if (sim_.registry.openKey(root, path.c_str(), KEY_READ, &key) != 0) return false;
    BYTE buffer[64];
    DWORD size = sizeof buffer;
    const DWORD error = sim_.registry.queryValue(key, name, nullptr, buffer, &size);
    sim_.registry.closeKey(key);
    if (error != 0) return false;
    if (data != nullptr) data->assign(buffer, buffer + size);
    return true;
  }
  bool keyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (sim_.registry.openKey(root, path.c_str(), KEY_READ, &key) != 0) return false;
    sim_.registry.closeKey(key);
    return true;
  }
  // The messages of the prefixed lines written so far, after "[utils]".
  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (const std::string& line : lines()) {
      const size_t at = line.find("[utils]");
      out.push_back(at == std::string::npos ? line : line.substr(at + 7));
    }
    return out;
  }
};

}  // namespace utils::test
