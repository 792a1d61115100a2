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
  std::vector<BYTE> raw(const wchar_t* path, const wchar_t* name, DWORD* type) {
    HKEY key = nullptr;
    std::vector<BYTE> data;
    if (sim_.registry.openKey(HKEY_CURRENT_USER, path, KEY_READ, &key) != 0) return data;
    DWORD size = 0;
    if (sim_.registry.queryValue(key, name, type, nullptr, &size) == 0) {
      data.resize(size);
      sim_.registry.queryValue(key, name, type, data.data(), &size);
    }
    sim_.registry.closeKey(key);
    return data;
  }
  static constexpr const wchar_t* kPath = L"SOFTWARE\\Vorlane\\Pelmora\\Test";
};

TEST_F(RegistryHelpersTest, DwordsRoundTripAndFailClearly) {
  ASSERT_TRUE(SetRegisterDWORD(kPath, L"Count", 0x11223344, HKEY_CURRENT_USER));
  DWORD type = 0;
  EXPECT_EQ((std::vector<BYTE>{0x44, 0x33, 0x22, 0x11}), raw(kPath, L"count", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
  DWORD value = 0;
  EXPECT_TRUE(GetRegisterDWORD(L"software\\vorlane\\PELMORA\\test", L"COUNT", &value, HKEY_CURRENT_USER));
  EXPECT_EQ(0x11223344u, value);

  EXPECT_FALSE(GetRegisterDWORD(L"No\\Such\\Key", L"x", &value, HKEY_CURRENT_USER));
  EXPECT_FALSE(GetRegisterDWORD(kPath, L"x", nullptr, HKEY_CURRENT_USER));
  // An 8-byte value does not fit.
  HKEY key = nullptr;
  ASSERT_EQ(0u, sim_.registry.createKey(HKEY_CURRENT_USER, kPath, KEY_WRITE, &key, nullptr));
  const BYTE eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  sim_.registry.setValue(key, L"Big", REG_QWORD, eight, 8);
  const BYTE two[2] = {0xAA, 0xBB};
  sim_.registry.setValue(key, L"Short", REG_BINARY, two, 2);
  sim_.registry.closeKey(key);
  EXPECT_FALSE(GetRegisterDWORD(kPath, L"Big", &value, HKEY_CURRENT_USER));
  // A shorter value replaces only the low bytes, as a direct read would.
  value = 0x11223344;
  EXPECT_TRUE(GetRegisterDWORD(kPath, L"Short", &value, HKEY_CURRENT_USER));
  EXPECT_EQ(0x1122BBAAu, value);
}

TEST_F(RegistryHelpersTest, StringsAreUtf16WithTerminator) {
  ASSERT_TRUE(SetRegisterStr(kPath, L"Empty", L"", HKEY_CURRENT_USER));
  DWORD type = 0;
  EXPECT_EQ((std::vector<BYTE>{0, 0}), raw(kPath, L"Empty", &type));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);

  // A character outside the basic plane takes two UTF-16 units.
  ASSERT_TRUE(SetRegisterStr(kPath, L"Name", L"A\u00e9\U0001F600", HKEY_CURRENT_USER));
  EXPECT_EQ((std::vector<BYTE>{'A', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0}), raw(kPath, L"Name", &type));

  wchar_t buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  EXPECT_TRUE(GetRegisterStr(kPath, L"name", buffer, 8, HKEY_CURRENT_USER));
  EXPECT_EQ(std::wstring(L"A\u00e9\U0001F600"), std::wstring(buffer));

  // Too small a buffer fails: 5 units needed, 4 offered.
  EXPECT_FALSE(GetRegisterStr(kPath, L"Name", buffer, 4, HKEY_CURRENT_USER));
  EXPECT_FALSE(GetRegisterStr(kPath, L"Name", nullptr, 8, HKEY_CURRENT_USER));
  EXPECT_FALSE(SetRegisterStr(kPath, L"Null", nullptr, HKEY_CURRENT_USER));

  // A string stored without its terminator comes back as stored: none is added.
  HKEY key = nullptr;
  ASSERT_EQ(0u, sim_.registry.createKey(HKEY_CURRENT_USER, kPath, KEY_WRITE, &key, nullptr));
  const BYTE ab[4] = {'a', 0, 'b', 0};
  sim_.registry.setValue(key, L"Raw", REG_SZ, ab, 4);
  sim_.registry.closeKey(key);
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  EXPECT_TRUE(GetRegisterStr(kPath, L"Raw", buffer, 4, HKEY_CURRENT_USER));
  EXPECT_EQ(std::wstring(L"ab##"), std::wstring(buffer, 4));
}

TEST_F(RegistryHelpersTest, StringBufferSizesFromTheCaller) {
  ASSERT_TRUE(SetRegisterStr(kPath, L"Name", L"A\U0001F600z", HKEY_CURRENT_USER));
  // No room at all: nothing fits, nothing is read or written.
  wchar_t one[1] = {L'#'};
  EXPECT_FALSE(GetRegisterStr(kPath, L"Name", one, 0, HKEY_CURRENT_USER));
  EXPECT_EQ(L'#', one[0]);
  // A claimed size far beyond the value's costs nothing: only the stored bytes
  // are read (the buffer is as large as the text needs).
  wchar_t buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  for (DWORD claimed : {DWORD{0x7FFFFFFF}, DWORD{0xFFFFFFFF}}) {
    EXPECT_TRUE(GetRegisterStr(kPath, L"Name", buffer, claimed, HKEY_CURRENT_USER)) << claimed;
    EXPECT_EQ(std::wstring(L"A\U0001F600z"), std::wstring(buffer));
  }
  // Exactly the units stored (5 with the terminator) fit.
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  EXPECT_TRUE(GetRegisterStr(kPath, L"Name", buffer, 5, HKEY_CURRENT_USER));
  EXPECT_EQ(std::wstring(L"A\U0001F600z"), std::wstring(buffer));
  EXPECT_EQ(L'#', buffer[5]);  // nothing written past the units read
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
}

TEST_F(RegistryHelpersTest, FailuresReportZeroAndCloseKeys) {
  sim_.registry.setReadOnly(HKEY_LOCAL_MACHINE, true);
  EXPECT_FALSE(SetRegisterDWORD(L"Software\\vorlane", L"LogDebug", 1, HKEY_LOCAL_MACHINE));
  EXPECT_FALSE(CreateRegisterSubKey(L"Software\\new", HKEY_LOCAL_MACHINE));
  sim_.registry.setReadOnly(HKEY_LOCAL_MACHINE, false);

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
