#include "policy/policy_keys.h"

namespace utils::policy {
namespace {

constexpr wchar_t kUpperDigits[] = L"0123456789ABCDEF";
constexpr wchar_t kLowerDigits[] = L"0123456789abcdef";
constexpr size_t kGuidChars = 38;

void appendHex(std::wstring& out, uint64_t value, int digits, const wchar_t* alphabet) {
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += alphabet[(value >> shift) & 0xF];
}

int digitValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Reads `digits` hexadecimal digits at text[at].
bool readHex(const wchar_t* text, size_t at, int digits, uint64_t* value) {
  uint64_t result = 0;
  for (int i = 0; i < digits; ++i) {
    const int digit = digitValue(text[at + i]);
    if (digit < 0) return false;
    result = (result << 4) | static_cast<uint64_t>(digit);
  }
  *value = result;
  return true;
}

}  // namespace

std::wstring bdAddrUpper(const BYTE* address) {
  std::wstring text;
  for (int i = 0; i < 6; ++i) {
    if (i > 0) text += L':';
    appendHex(text, address[i], 2, kUpperDigits);
  }
  return text;
}

std::wstring deviceKeyPath(const std::wstring& local, const std::wstring& remote) {
  return std::wstring(kDevicesKey) + L"\\" + local + L"\\" + remote;
}

std::wstring requestValueName(WORD code) {
  int digits = 1;
  while (digits < 4 && (code >> (4 * digits)) != 0) ++digits;
  std::wstring name;
  appendHex(name, code, digits, kLowerDigits);
  return name;
}

std::wstring guidText(const GUID& guid) {
  std::wstring text = L"{";
  appendHex(text, guid.Data1, 8, kUpperDigits);
  text += L'-';
  appendHex(text, guid.Data2, 4, kUpperDigits);
  text += L'-';
  appendHex(text, guid.Data3, 4, kUpperDigits);
  text += L'-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) text += L'-';
    appendHex(text, guid.Data4[i], 2, kUpperDigits);
  }
  text += L'}';
  return text;
}

bool parseGuidText(const wchar_t* text, GUID* guid) {
  if (text == nullptr) return false;
  size_t length = 0;
  while (length <= kGuidChars && text[length] != 0) ++length;
  if (length != kGuidChars || text[0] != L'{' || text[37] != L'}') return false;
  if (text[9] != L'-' || text[14] != L'-' || text[19] != L'-' || text[24] != L'-') return false;
  uint64_t data1 = 0, data2 = 0, data3 = 0, byte = 0;
  if (!readHex(text, 1, 8, &data1) || !readHex(text, 10, 4, &data2) || !readHex(text, 15, 4, &data3)) return false;
  GUID result{};
  result.Data1 = static_cast<uint32_t>(data1);
  result.Data2 = static_cast<uint16_t>(data2);
  result.Data3 = static_cast<uint16_t>(data3);
  // Data4: two bytes before the fourth hyphen, six after it.
  constexpr size_t kByteOffsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!readHex(text, kByteOffsets[i], 2, &byte)) return false;
    result.Data4[i] = static_cast<uint8_t>(byte);
  }
  *guid = result;
  return true;
}

}  // namespace utils::policy
