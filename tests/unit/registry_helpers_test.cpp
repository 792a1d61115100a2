#include <algorithm>
#include <vector>

#include "sim_fixture.h"
#include "utils/registry.h"

namespace utils::test {
namespace {

class RegistryHelpersTest : public SimTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(0u, sim_.registry.openHandles()) << "a helper left a key open";
    SimTest::TearDown();
  }
  // The value's bytes (empty when missing) and type, read past the helpers.
  std::vector<BYTE> raw(const wchar_t* name, DWORD* type) {
    HKEY key = nullptr;
    std::vector<BYTE> data;
    if (sim_.registry.openKey(HKEY_CURRENT_USER, kPath, KEY_READ, &key) != 0) return data;
    DWORD size = 0;
    if (sim_.registry.queryValue(key, name, type, nullptr, &size) == 0) {
      data.resize(size);
      sim_.registry.queryValue(key, name, type, data.data(), &size);
    }
    sim_.registry.closeKey(key);
    return data;
  }
  // Stores bytes the helpers would not write.
  void put(const wchar_t* name, DWORD type, std::vector<BYTE> bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(0u, sim_.registry.createKey(HKEY_CURRENT_USER, kPath, KEY_WRITE, &key, nullptr));
    sim_.registry.setValue(key, name, type, bytes.data(), static_cast<DWORD>(bytes.size()));
    sim_.registry.closeKey(key);
  }
  static constexpr const wchar_t* kPath = L"SOFTWARE\\Vorlane\\Pelmora\\Test";
};

TEST_F(RegistryHelpersTest, DwordsRoundTripAndFailClearly) {
  ASSERT_TRUE(SetRegisterDWORD(kPath, L"Count", 0x11223344, HKEY_CURRENT_USER));
  DWORD type = 0;
  EXPECT_EQ((std::vector<BYTE>{0x44, 0x33, 0x22, 0x11}), raw(L"count", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  DWORD value = 0;
  EXPECT_TRUE(GetRegisterDWORD(L"software\\vorlane\\PELMORA\\test", L"COUNT", &value, HKEY_CURRENT_USER));
  EXPECT_EQ(0x11223344u, value);

  EXPECT_FALSE(GetRegisterDWORD(L"No\\Such\\Key", L"x", &value, HKEY_CURRENT_USER));
  EXPECT_FALSE(GetRegisterDWORD(kPath, L"x", nullptr, HKEY_CURRENT_USER));
  put(L"Big", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_FALSE(GetRegisterDWORD(kPath, L"Big", &value, HKEY_CURRENT_USER)) << "8 bytes do not fit";
  // A shorter value replaces only the low bytes, as a direct read would.
  put(L"Short", REG_BINARY, {0xAA, 0xBB});
  value = 0x11223344;
  EXPECT_TRUE(GetRegisterDWORD(kPath, L"Short", &value, HKEY_CURRENT_USER));
  EXPECT_EQ(0x1122BBAAu, value);
}

TEST_F(RegistryHelpersTest, StringsAreUtf16WithTerminatorAndFitTheCallersBuffer) {
  ASSERT_TRUE(SetRegisterStr(kPath, L"Empty", L"", HKEY_CURRENT_USER));
  DWORD type = 0;
  EXPECT_EQ((std::vector<BYTE>{0, 0}), raw(L"Empty", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  // A character outside the basic plane takes two UTF-16 units: 5 with the terminator.
  ASSERT_TRUE(SetRegisterStr(kPath, L"Name", L"A\u00e9\U0001F600", HKEY_CURRENT_USER));
  EXPECT_EQ((std::vector<BYTE>{'A', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0}), raw(L"Name", &type));
  EXPECT_FALSE(SetRegisterStr(kPath, L"Null", nullptr, HKEY_CURRENT_USER));
  put(L"Raw", REG_SZ, {'a', 0, 'b', 0});  // stored without its terminator

  const std::wstring text = L"A\u00e9\U0001F600";
  const struct {
    const wchar_t* name;
    DWORD size;  // what the caller claims, in characters
    bool read;
    std::wstring buffer;  // up to its first NUL; empty: not checked
  } rows[] = {
      {L"name", 8, true, text},
      {L"Name", 5, true, text},  // exactly the units stored
      {L"Name", 4, false, L""},
      {L"Name", 0, false, L"########"},  // no room at all: nothing read or written
      // A claimed size far beyond the value's costs nothing: only the stored bytes are read.
      {L"Name", 0x7FFFFFFF, true, text},
      {L"Name", 0xFFFFFFFF, true, text},
      {L"Raw", 4, true, L"ab######"},  // comes back as stored: no terminator is added
  };
  for (const auto& row : rows) {
    wchar_t buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_EQ(row.read, GetRegisterStr(kPath, row.name, buffer, row.size, HKEY_CURRENT_USER)) << row.size;
    if (!row.buffer.empty()) {
      EXPECT_EQ(row.buffer, std::wstring(buffer, std::find(std::begin(buffer), std::end(buffer), L'\0'))) << row.size;
    }
    EXPECT_EQ(L'#', buffer[5]) << row.size << ": nothing written past the units read";
  }
  EXPECT_FALSE(GetRegisterStr(kPath, L"Name", nullptr, 8, HKEY_CURRENT_USER));
}

TEST_F(RegistryHelpersTest, KeysAndDeletion) {
  EXPECT_TRUE(CreateRegisterSubKey(kPath, HKEY_CURRENT_USER));
  EXPECT_TRUE(CreateRegisterSubKey(kPath, HKEY_CURRENT_USER));  // already there
  ASSERT_TRUE(SetRegisterDWORD(kPath, L"A", 1, HKEY_CURRENT_USER));
  ASSERT_TRUE(SetRegisterDWORD(L"SOFTWARE\\Vorlane\\Pelmora\\Test\\Sub", L"B", 2, HKEY_CURRENT_USER));

  EXPECT_TRUE(DeleteRegisterSubkey(kPath, L"A", HKEY_CURRENT_USER));
  DWORD value = 0;
  EXPECT_FALSE(GetRegisterDWORD(kPath, L"A", &value, HKEY_CURRENT_USER));
  EXPECT_TRUE(DeleteRegisterSubkey(kPath, L"A", HKEY_CURRENT_USER));        // value gone
  EXPECT_TRUE(DeleteRegisterSubkey(L"No\\Such", L"A", HKEY_CURRENT_USER));  // key gone

  EXPECT_TRUE(DeleteRegisterSubTree(L"SOFTWARE\\Vorlane\\Pelmora", HKEY_CURRENT_USER));
  EXPECT_FALSE(GetRegisterDWORD(L"SOFTWARE\\Vorlane\\Pelmora\\Test\\Sub", L"B", &value, HKEY_CURRENT_USER));
  EXPECT_TRUE(DeleteRegisterSubTree(L"SOFTWARE\\Vorlane\\Pelmora", HKEY_CURRENT_USER));  // nothing left

  // An empty path never empties the root.
  ASSERT_TRUE(SetRegisterDWORD(kPath, L"Keep", 1, HKEY_CURRENT_USER));
  EXPECT_FALSE(DeleteRegisterSubTree(L"", HKEY_CURRENT_USER));
  EXPECT_FALSE(DeleteRegisterSubTree(nullptr, HKEY_CURRENT_USER));
  EXPECT_TRUE(GetRegisterDWORD(kPath, L"Keep", &value, HKEY_CURRENT_USER));

  // Failures report false (and close their keys: TearDown).
  sim_.registry.setReadOnly(HKEY_LOCAL_MACHINE, true);
  EXPECT_FALSE(SetRegisterDWORD(L"Software\\vorlane", L"LogDebug", 1, HKEY_LOCAL_MACHINE));
  EXPECT_FALSE(CreateRegisterSubKey(L"Software\\new", HKEY_LOCAL_MACHINE));
  sim_.registry.failNext(sim::SimRegistry::Op::Set, ERROR_DISK_FULL);
  EXPECT_FALSE(SetRegisterStr(kPath, L"S", L"v", HKEY_CURRENT_USER));
  sim_.registry.failNext(sim::SimRegistry::Op::Delete, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteRegisterSubTree(kPath, HKEY_CURRENT_USER));
  sim_.registry.failNext(sim::SimRegistry::Op::Delete, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteRegisterSubkey(kPath, L"S", HKEY_CURRENT_USER));
  EXPECT_FALSE(SetRegisterDWORD(L"bad\\\\path", L"x", 1, HKEY_CURRENT_USER));
}

}  // namespace
}  // namespace utils::test
