// A null pointer given to an exported function is never read or written
// through: the function answers as for a failure and changes nothing. Each row
// is one function (or a family of functions without an answer) given null for
// each of its pointers in turn; a row that read through a null pointer would
// end the test program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "sim_fixture.h"
#include "utils/address.h"
#include "utils/dialup.h"
#include "utils/notification.h"
#include "utils/policy.h"
#include "utils/primitives.h"
#include "utils/radio.h"
#include "utils/registry.h"
#include "utils/trace.h"
#include "utils/transfer.h"
#include "utils/ui.h"
#include "utils/xml.h"

namespace utils::test {
namespace {

// A row: the calls as written, and whether they all answered as expected.
struct Row {
  const char* calls;
  std::function<bool()> answered;
};
#define UTILS_ROW(...)                          \
  Row {                                         \
#__VA_ARGS__, [&] { return (__VA_ARGS__); } \
  }

using NullArgumentsTest = SimTest;

TEST_F(NullArgumentsTest, EveryExportedFunctionAnswersANullPointerAsAFailure) {
  BYTE bytes[8];
  std::memset(bytes, 0xA5, sizeof bytes);
  const auto untouched = [&bytes] { return std::all_of(bytes, bytes + 8, [](BYTE b) { return b == 0xA5; }); };
  const BtAddr address = 0x1A7DDA7113ULL;
  wchar_t text[18] = {L'x', 0};
  FTPCHAR* lead = reinterpret_cast<FTPCHAR*>(bytes);
  FTPCHAR** names = &lead;
  DWORD count = 5, value = 0;
  const FTPCHAR leadText[] = {'l', 0};
  HKEY key = nullptr;
  ASSERT_EQ(0u, sim_.registry.createKey(HKEY_CURRENT_USER, L"Software\\Nulls", KEY_WRITE, &key, nullptr));
  XmlObject* element = CreateXmlObject();
  SetXmlElementName(element, L"root");

  const Row rows[] = {
    // Addresses and byte reversal.
    UTILS_ROW(rmemcpy(nullptr, bytes, 6) == nullptr && rmemcpy(bytes, nullptr, 6) == bytes && untouched()),
    UTILS_ROW(rmemcmp(nullptr, bytes, 6) != 0 && rmemcmp(bytes, nullptr, 6) != 0),
    UTILS_ROW(ConvertToBD(nullptr, bytes) == nullptr && ConvertToBD(bytes, nullptr) == bytes && untouched()),
    UTILS_ROW(ConvertToBT(nullptr, bytes) == nullptr && ConvertToBT(bytes, nullptr) == bytes && untouched()),
    UTILS_ROW(BtAddrToBDAddr(address, nullptr), BdaddrToBtaddr(nullptr) == 0),
    UTILS_ROW(BT2Lptstr(nullptr, &address) == nullptr && BT2Lptstr(text, nullptr) == text && text[0] == L'\0'),
    UTILS_ROW(text[0] = L'x', BD2Lptstr(nullptr, bytes) == nullptr && BD2Lptstr(text, nullptr) == text && !text[0]),
    UTILS_ROW(BTEqualsBT(nullptr, &address) == 0 && BTEqualsBT(&address, nullptr) == 0),
    UTILS_ROW(BTEqualsBD(nullptr, bytes) == 0 && BTEqualsBD(&address, nullptr) == 0),
    UTILS_ROW(IsEmptyBT(nullptr) == 0 && IsEmptyBD(nullptr) == 0),
    // Byte order.
    UTILS_ROW(BEtoHost16(nullptr) == 0 && BEtoHost32(nullptr) == 0 && BEtoHost64(nullptr) == 0),
    UTILS_ROW(LEtoHost16(nullptr) == 0 && LEtoHost32(nullptr) == 0),
    UTILS_ROW(StoreLE16(nullptr, 1), StoreLE32(nullptr, 1), StoreBE16(nullptr, 1), StoreBE32(nullptr, 1),
              StoreBE64(nullptr, 1), true),
    // Lists.
    UTILS_ROW(_InsertTailList(nullptr, nullptr), _InsertHeadList(nullptr, nullptr), true),
    UTILS_ROW(_RemoveHeadList(nullptr) == nullptr && RemoveEntryList(nullptr) == 0),
    UTILS_ROW(IsNodeOnList(nullptr, nullptr) == 0 && IsListCircular(nullptr) == 0),
    // Memory and narrow strings.
    UTILS_ROW(OS_MemCopy(nullptr, bytes, 4) == nullptr && OS_MemCopy(bytes, nullptr, 4) == bytes && untouched()),
    UTILS_ROW(OS_MemSet(nullptr, 0, 4) == nullptr),
    UTILS_ROW(OS_MemCmp(nullptr, 4, bytes, 4) == 0 && OS_MemCmp(bytes, 4, nullptr, 4) == 0),
    UTILS_ROW(OS_StrCmp(nullptr, "a") == 1 && OS_StrCmp("a", nullptr) == 1),
    UTILS_ROW(OS_StrLen(nullptr) == 0),
    UTILS_ROW(stristr(nullptr, 4, L"a") == nullptr),
    // Registry helpers: a null key path is the root key itself.
    UTILS_ROW(SetRegisterDWORD(nullptr, L"AtRoot", 9, key) == 1),
    UTILS_ROW(GetRegisterDWORD(nullptr, L"AtRoot", &value, key) == 1 && value == 9 &&
              GetRegisterDWORD(nullptr, L"AtRoot", nullptr, key) == 0),
    UTILS_ROW(SetRegisterStr(nullptr, L"Text", nullptr, key) == 0),
    UTILS_ROW(GetRegisterStr(nullptr, L"AtRoot", nullptr, 8, key) == 0),
    UTILS_ROW(CreateRegisterSubKey(nullptr, key) == 1),
    UTILS_ROW(DeleteRegisterSubkey(nullptr, L"AtRoot", key) == 1),
    UTILS_ROW(DeleteRegisterSubTree(nullptr, key) == 0),
    // Radio requests (null vendor command parameters go out as zero bytes, as documented).
    UTILS_ROW(SendRssiCmdWithAddr(nullptr) == 0xFFFFFFFE),
    // File-name list blocks.
    UTILS_ROW(PutFtpFileList(nullptr, leadText, nullptr, 0) == 0),
    UTILS_ROW(GetFtpFileListCount(nullptr) == 0),
    UTILS_ROW(GetFtpFileList(nullptr, &lead, &names, &count) == 0 && !lead && !names && count == 0),
    // Trace output.
    UTILS_ROW(WRITELOG_A(4, nullptr, nullptr), WRITELOG_W(4, nullptr, nullptr), true),
    UTILS_ROW(VRLN_BT_TRACE(nullptr), VRLN_BT_ATLTRACE_W(nullptr), true),
    UTILS_ROW(XAD_Decode(1, nullptr) != nullptr),
    // Element trees.
    UTILS_ROW(DestroyXmlObject(nullptr), true),
    UTILS_ROW(AppendXmlAttribute(nullptr, L"a", L"b"), AppendXmlAttribute(element, nullptr, L"b"),
              AppendXmlAttribute(element, L"a", nullptr), GetXmlAttributeNumber(element) == 0),
    UTILS_ROW(AppendXmlChild(nullptr, nullptr), AppendXmlChild(element, nullptr), GetXmlChildernNumber(element) == 0),
    UTILS_ROW(GetXmlAttributeNumber(nullptr) == 0 && GetXmlChildernNumber(nullptr) == 0),
    UTILS_ROW(GetXmlAttributeNameByIndex(nullptr, 0) == nullptr && GetXmlAttributeValueByIndex(nullptr, 0) == nullptr),
    UTILS_ROW(GetXmlChildByIndex(nullptr, 0) == nullptr),
    UTILS_ROW(SetXmlElementName(nullptr, L"a"), GetXmlElementName(nullptr) == nullptr),
    UTILS_ROW(SetXmlElementNodeText(nullptr, L"a"), GetXmlNodeText(nullptr) == nullptr),
    UTILS_ROW(IsXmlNodeHasText(nullptr) == 0),
    UTILS_ROW(SaveXmlObject(nullptr, L"unused.xml") == 0 && SaveXmlObject(element, nullptr) == 0),
    UTILS_ROW(LoadXmlObject(nullptr, nullptr) == nullptr),
    // Policy, notifications, dial-up and the user interface helpers.
    UTILS_ROW(IsRequestPermitted(nullptr, bytes, 0x1105) == 0 && IsRequestPermitted(bytes, nullptr, 0x1105) == 0),
    UTILS_ROW(UTILS_EnableNewServices(nullptr), true),
    UTILS_ROW(UTILS_BluetoothIsLocalServiceSupported(nullptr) == 0),
    UTILS_ROW(UTILS_FtpClientRegistered(nullptr) == 0),
    UTILS_ROW(RegisterNotification(nullptr) == 0),
    UTILS_ROW(DunRegisterNotification(nullptr) == ERROR_INVALID_BLOCK),
    UTILS_ROW(M2D_NeedSwitch2ShellTray(nullptr) == 0),
    UTILS_ROW(M2D_Uninitialize(nullptr), true),
#if !defined(_WIN32)
    UTILS_ROW(CloseHandle(nullptr) == FALSE && FreeLibrary(nullptr) == FALSE),
#endif
  };

  for (const Row& row : rows) EXPECT_TRUE(row.answered()) << row.calls;
  // The registry rows stored and removed their value under the key itself.
  DWORD values = 1;
  EXPECT_EQ(0u, sim_.registry.queryInfoKey(key, nullptr, &values));
  EXPECT_EQ(0u, values);
  sim_.registry.closeKey(key);
  DestroyXmlObject(element);
}

}  // namespace
}  // namespace utils::test
