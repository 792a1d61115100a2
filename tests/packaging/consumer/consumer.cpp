// A program that uses the installed library the way any caller would.
#include <utils.h>

#include <cstdio>
#include <cwchar>

int main() {
  const BYTE bd[6] = {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
  const BtAddr bt = BdaddrToBtaddr(bd);
  wchar_t text[18];
  BT2Lptstr(text, &bt);
  std::printf("%ls %s\n", text, XAD_Decode(0x1234, "T"));
  return bt == 0x1A7DDA7113ULL ? 0 : 1;
}
