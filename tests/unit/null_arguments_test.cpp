// A null pointer given to an exported function is never read or written
// through: the function answers as for a failure and changes nothing. Each row
// is one function with one of its pointers null; a row that read through the
// null pointer would end the test program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

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

struct Row {
  const char* call;
  std::function<bool()> answersFailure;
};

using NullArgumentsTest = SimTest;

TEST_F(NullArgumentsTest, EveryExportedFunctionAnswersANullPointerAsAFailure) {
  BYTE bytes[8];
  std::memset(bytes, 0xA5, sizeof bytes);
  const auto untouched = [&bytes] { return std::all_of(bytes, bytes + 8, [](BYTE b) { return b == 0xA5; }); };
  const BtAddr address = 0x1A7DDA7113ULL;
  wchar_t text[18] = {L'x', 0};
  FTPCHAR* lead = reinterpret_cast<FTPCHAR*>(bytes);
  FTPCHAR** names = &lead;
  DWORD count = 5;
  const FTPCHAR leadText[] = {'l', 0};
  HKEY key = nullptr;
  ASSERT_EQ(0u, sim_.registry.createKey(HKEY_CURRENT_USER, L"Software\\Nulls", KEY_WRITE, &key, nullptr));
  XmlObject* element = CreateXmlObject();
  SetXmlElementName(element, L"root");

  const Row rows[] = {
    // Addresses and byte reversal.
    {"rmemcpy(null, source)", [&] { return rmemcpy(nullptr, bytes, 6) == nullptr; }},
    {"rmemcpy(destination, null)", [&] { return rmemcpy(bytes, nullptr, 6) == bytes && untouched(); }},
    {"rmemcmp(null, second)", [&] { return rmemcmp(nullptr, bytes, 6) != 0; }},
    {"rmemcmp(first, null)", [&] { return rmemcmp(bytes, nullptr, 6) != 0; }},
    {"ConvertToBD(null, source)", [&] { return ConvertToBD(nullptr, bytes) == nullptr; }},
    {"ConvertToBD(destination, null)", [&] { return ConvertToBD(bytes, nullptr) == bytes && untouched(); }},
    {"ConvertToBT(null, source)", [&] { return ConvertToBT(nullptr, bytes) == nullptr; }},
    {"ConvertToBT(destination, null)", [&] { return ConvertToBT(bytes, nullptr) == bytes && untouched(); }},
    {"BtAddrToBDAddr(value, null)", [&] { return BtAddrToBDAddr(address, nullptr), true; }},
    {"BdaddrToBtaddr(null)", [] { return BdaddrToBtaddr(nullptr) == 0; }},
    {"BT2Lptstr(null, address)", [&] { return BT2Lptstr(nullptr, &address) == nullptr; }},
    {"BT2Lptstr(text, null)", [&] { return BT2Lptstr(text, nullptr) == text && text[0] == L'\0'; }},
    {"BD2Lptstr(null, address)", [&] { return BD2Lptstr(nullptr, bytes) == nullptr; }},
    {"BD2Lptstr(text, null)", [&] { return BD2Lptstr(text, nullptr) == text && text[0] == L'\0'; }},
    {"BTEqualsBT(null, second)", [&] { return BTEqualsBT(nullptr, &address) == 0; }},
    {"BTEqualsBT(first, null)", [&] { return BTEqualsBT(&address, nullptr) == 0; }},
    {"BTEqualsBD(null, bd)", [&] { return BTEqualsBD(nullptr, bytes) == 0; }},
    {"BTEqualsBD(bt, null)", [&] { return BTEqualsBD(&address, nullptr) == 0; }},
    {"IsEmptyBT(null)", [] { return IsEmptyBT(nullptr) == 0; }},
    {"IsEmptyBD(null)", [] { return IsEmptyBD(nullptr) == 0; }},
    // Byte order.
    {"BEtoHost16(null)", [] { return BEtoHost16(nullptr) == 0; }},
    {"BEtoHost32(null)", [] { return BEtoHost32(nullptr) == 0; }},
    {"BEtoHost64(null)", [] { return BEtoHost64(nullptr) == 0; }},
    {"LEtoHost16(null)", [] { return LEtoHost16(nullptr) == 0; }},
    {"LEtoHost32(null)", [] { return LEtoHost32(nullptr) == 0; }},
    {"StoreLE16(null)", [] { return StoreLE16(nullptr, 1), true; }},
    {"StoreLE32(null)", [] { return StoreLE32(nullptr, 1), true; }},
    {"StoreBE16(null)", [] { return StoreBE16(nullptr, 1), true; }},
    {"StoreBE32(null)", [] { return StoreBE32(nullptr, 1), true; }},
    {"StoreBE64(null)", [] { return StoreBE64(nullptr, 1), true; }},
    // Lists.
    {"_InsertTailList(null, entry)", [] { return _InsertTailList(nullptr, nullptr), true; }},
    {"_InsertHeadList(null, entry)", [] { return _InsertHeadList(nullptr, nullptr), true; }},
    {"_RemoveHeadList(null)", [] { return _RemoveHeadList(nullptr) == nullptr; }},
    {"RemoveEntryList(null)", [] { return RemoveEntryList(nullptr) == 0; }},
    {"IsNodeOnList(null, node)", [] { return IsNodeOnList(nullptr, nullptr) == 0; }},
    {"IsListCircular(null)", [] { return IsListCircular(nullptr) == 0; }},
    // Memory and narrow strings.
    {"OS_MemCopy(null, source)", [&] { return OS_MemCopy(nullptr, bytes, 4) == nullptr; }},
    {"OS_MemCopy(destination, null)", [&] { return OS_MemCopy(bytes, nullptr, 4) == bytes && untouched(); }},
    {"OS_MemSet(null)", [] { return OS_MemSet(nullptr, 0, 4) == nullptr; }},
    {"OS_MemCmp(null, second)", [&] { return OS_MemCmp(nullptr, 4, bytes, 4) == 0; }},
    {"OS_MemCmp(first, null)", [&] { return OS_MemCmp(bytes, 4, nullptr, 4) == 0; }},
    {"OS_StrCmp(null, second)", [] { return OS_StrCmp(nullptr, "a") == 1; }},
    {"OS_StrCmp(first, null)", [] { return OS_StrCmp("a", nullptr) == 1; }},
    {"OS_StrLen(null)", [] { return OS_StrLen(nullptr) == 0; }},
    {"stristr(null, pattern)", [] { return stristr(nullptr, 4, L"a") == nullptr; }},
    // Registry helpers: a null key path is the root key itself.
    {"SetRegisterDWORD(null path)", [&] { return SetRegisterDWORD(nullptr, L"AtRoot", 9, key) == 1; }},
    {"GetRegisterDWORD(null path)",
     [&] {
       DWORD value = 0;
       return GetRegisterDWORD(nullptr, L"AtRoot", &value, key) == 1 && value == 9;
     }},
    {"GetRegisterDWORD(null value)", [&] { return GetRegisterDWORD(nullptr, L"AtRoot", nullptr, key) == 0; }},
    {"SetRegisterStr(null string)", [&] { return SetRegisterStr(nullptr, L"Text", nullptr, key) == 0; }},
    {"GetRegisterStr(null buffer)", [&] { return GetRegisterStr(nullptr, L"AtRoot", nullptr, 8, key) == 0; }},
    {"CreateRegisterSubKey(null path)", [&] { return CreateRegisterSubKey(nullptr, key) == 1; }},
    {"DeleteRegisterSubkey(null path)", [&] { return DeleteRegisterSubkey(nullptr, L"AtRoot", key) == 1; }},
    {"DeleteRegisterSubTree(null path)", [&] { return DeleteRegisterSubTree(nullptr, key) == 0; }},
    // Radio requests.
    // (Null vendor command parameters go out as zero bytes, as documented.)
    {"SendRssiCmdWithAddr(null)", [] { return SendRssiCmdWithAddr(nullptr) == 0xFFFFFFFE; }},
    // File-name list blocks.
    {"PutFtpFileList(null block)", [&] { return PutFtpFileList(nullptr, leadText, nullptr, 0) == 0; }},
    {"GetFtpFileListCount(null block)", [] { return GetFtpFileListCount(nullptr) == 0; }},
    {"GetFtpFileList(null block)",
     [&] {
       return GetFtpFileList(nullptr, &lead, &names, &count) == 0 && lead == nullptr && names == nullptr && count == 0;
     }},
    // Trace output.
    {"WRITELOG_A(null module, null format)", [] { return WRITELOG_A(4, nullptr, nullptr), true; }},
    {"WRITELOG_W(null module, null format)", [] { return WRITELOG_W(4, nullptr, nullptr), true; }},
    {"VRLN_BT_TRACE(null)", [] { return VRLN_BT_TRACE(nullptr), true; }},
    {"VRLN_BT_ATLTRACE_W(null)", [] { return VRLN_BT_ATLTRACE_W(nullptr), true; }},
    {"XAD_Decode(null type name)", [] { return XAD_Decode(1, nullptr) != nullptr; }},
    // Element trees.
    {"DestroyXmlObject(null)", [] { return DestroyXmlObject(nullptr), true; }},
    {"AppendXmlAttribute(null element)", [] { return AppendXmlAttribute(nullptr, L"a", L"b"), true; }},
    {"AppendXmlAttribute(null name)",
     [&] {
       AppendXmlAttribute(element, nullptr, L"b");
       AppendXmlAttribute(element, L"a", nullptr);
       return GetXmlAttributeNumber(element) == 0;
     }},
    {"AppendXmlChild(null element)", [] { return AppendXmlChild(nullptr, nullptr), true; }},
    {"AppendXmlChild(null child)",
     [&] { return AppendXmlChild(element, nullptr), GetXmlChildernNumber(element) == 0; }},
    {"GetXmlAttributeNumber(null)", [] { return GetXmlAttributeNumber(nullptr) == 0; }},
    {"GetXmlChildernNumber(null)", [] { return GetXmlChildernNumber(nullptr) == 0; }},
    {"GetXmlAttributeNameByIndex(null)", [] { return GetXmlAttributeNameByIndex(nullptr, 0) == nullptr; }},
    {"GetXmlAttributeValueByIndex(null)", [] { return GetXmlAttributeValueByIndex(nullptr, 0) == nullptr; }},
    {"GetXmlChildByIndex(null)", [] { return GetXmlChildByIndex(nullptr, 0) == nullptr; }},
    {"SetXmlElementName(null element)", [] { return SetXmlElementName(nullptr, L"a"), true; }},
    {"GetXmlElementName(null)", [] { return GetXmlElementName(nullptr) == nullptr; }},
    {"SetXmlElementNodeText(null element)", [] { return SetXmlElementNodeText(nullptr, L"a"), true; }},
    {"GetXmlNodeText(null)", [] { return GetXmlNodeText(nullptr) == nullptr; }},
    {"IsXmlNodeHasText(null)", [] { return IsXmlNodeHasText(nullptr) == 0; }},
    {"SaveXmlObject(null element)", [] { return SaveXmlObject(nullptr, L"unused.xml") == 0; }},
    {"SaveXmlObject(null path)", [&] { return SaveXmlObject(element, nullptr) == 0; }},
    {"LoadXmlObject(null path)", [] { return LoadXmlObject(nullptr, nullptr) == nullptr; }},
    // Policy, notifications, dial-up and the user interface helpers.
    {"IsRequestPermitted(null local)", [&] { return IsRequestPermitted(nullptr, bytes, 0x1105) == 0; }},
    {"IsRequestPermitted(null remote)", [&] { return IsRequestPermitted(bytes, nullptr, 0x1105) == 0; }},
    {"UTILS_EnableNewServices(null)", [] { return UTILS_EnableNewServices(nullptr), true; }},
    {"UTILS_BluetoothIsLocalServiceSupported(null)",
     [] { return UTILS_BluetoothIsLocalServiceSupported(nullptr) == 0; }},
    {"UTILS_FtpClientRegistered(null)", [] { return UTILS_FtpClientRegistered(nullptr) == 0; }},
    {"RegisterNotification(null)", [] { return RegisterNotification(nullptr) == 0; }},
    {"DunRegisterNotification(null)", [] { return DunRegisterNotification(nullptr) == ERROR_INVALID_BLOCK; }},
    {"M2D_NeedSwitch2ShellTray(null)", [] { return M2D_NeedSwitch2ShellTray(nullptr) == 0; }},
    {"M2D_Uninitialize(null)", [] { return M2D_Uninitialize(nullptr), true; }},
#if !defined(_WIN32)
    {"CloseHandle(null)", [] { return CloseHandle(nullptr) == FALSE; }},
    {"FreeLibrary(null)", [] { return FreeLibrary(nullptr) == FALSE; }},
#endif
  };

  for (const Row& row : rows) EXPECT_TRUE(row.answersFailure()) << row.call;
  // The registry rows stored and removed their value under the key itself.
  DWORD values = 1;
  EXPECT_EQ(0u, sim_.registry.queryInfoKey(key, nullptr, &values));
  EXPECT_EQ(0u, values);
  sim_.registry.closeKey(key);
  DestroyXmlObject(element);
}

}  // namespace
}  // namespace utils::test
