#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "utils/address.h"

namespace {

const BYTE kBd[6] = {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};

TEST(AddressTest, FormsConvertCompareAndPrintAndReverse) {
  EXPECT_EQ(0x1A7DDA7113ULL, BdaddrToBtaddr(kBd));
  BYTE bd[6] = {};
  BtAddrToBDAddr(0xFFFF001A7DDA7113ULL, bd);  // bits 48 to 63 play no part
  EXPECT_EQ(0, std::memcmp(kBd, bd, 6));
  // The byte-wise forms: BD byte i is BT byte 5 - i; BT bytes 6 and 7 untouched.
  BtAddr bt = ~0ULL;
  ConvertToBT(reinterpret_cast<BYTE*>(&bt), kBd);
  EXPECT_EQ(0xFFFF001A7DDA7113ULL, bt);
  BYTE back[6] = {};
  EXPECT_EQ(back, ConvertToBD(back, reinterpret_cast<const BYTE*>(&bt)));
  EXPECT_EQ(0, std::memcmp(kBd, back, 6));

  wchar_t text[18];
  const BtAddr plain = 0x1A7DDA7113ULL;
  EXPECT_EQ(text, BT2Lptstr(text, &plain));
  EXPECT_EQ(std::wstring(L"00:1a:7d:da:71:13"), text);
  const BYTE allOnes[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(text, BD2Lptstr(text, allOnes));
  EXPECT_EQ(std::wstring(L"ff:ff:ff:ff:ff:ff"), text);

  const BtAddr bit48 = 1ULL << 48, highBits = bit48 | plain, zero = 0;
  const BYTE other[6] = {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x14}, empty[6] = {};
  EXPECT_TRUE(BTEqualsBT(&plain, &plain));
  EXPECT_FALSE(BTEqualsBT(&plain, &highBits));
  EXPECT_TRUE(BTEqualsBD(&highBits, kBd));
  EXPECT_FALSE(BTEqualsBD(&plain, other));
  EXPECT_TRUE(IsEmptyBT(&zero));
  EXPECT_FALSE(IsEmptyBT(&bit48));
  EXPECT_TRUE(IsEmptyBD(empty));
  EXPECT_FALSE(IsEmptyBD(kBd));

  // Byte-reversed comparison and copy.
  const BYTE a[3] = {1, 2, 3}, b[3] = {3, 2, 1}, c[3] = {0, 2, 1}, one = 1, two = 2, big = 0xFF, small = 0;
  EXPECT_EQ(0, rmemcmp(a, b, 3));
  EXPECT_EQ(3, rmemcmp(a, c, 3));
  EXPECT_EQ(-1, rmemcmp(&one, &two, 1));
  EXPECT_EQ(255, rmemcmp(&big, &small, 1));
  EXPECT_EQ(-255, rmemcmp(&small, &big, 1));
  EXPECT_EQ(0, rmemcmp(a, c, 0));
  EXPECT_EQ(0, rmemcmp(a, c, -1));

  BYTE out[3] = {9, 9, 9};
  EXPECT_EQ(out, rmemcpy(out, a, 3));
  EXPECT_EQ(0, std::memcmp(out, b, 3));
  BYTE untouched[2] = {7, 7};
  EXPECT_EQ(untouched, rmemcpy(untouched, a, 0));
  EXPECT_EQ(untouched, rmemcpy(untouched, a, -5));
  EXPECT_EQ(7, untouched[0]);
}

}  // namespace
