// A caller of libutils.so that uses only the public interface, for the tests of
// the load step: "set-dword KEY NAME VALUE" writes a machine-wide value,
// "set-user-dword KEY NAME VALUE" a per-user one, "trace"
// writes one line through each trace member.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "utils.h"

// The sanitizer builds' leak checker cannot inspect a set-user-ID process (it
// may not be traced) and would fail its exit: it is off for such runs only.
extern "C" __attribute__((visibility("default"))) int __lsan_is_turned_off() { return getuid() != geteuid() ? 1 : 0; }

namespace {

std::wstring widen(const char* text) {
  std::wstring wide;
  for (; *text != '\0'; ++text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*text)));
  return wide;
}

}  // namespace

int main(int argc, char** argv) {
  const bool machine = argc == 5 && std::strcmp(argv[1], "set-dword") == 0;
  if (machine || (argc == 5 && std::strcmp(argv[1], "set-user-dword") == 0)) {
    const DWORD value = static_cast<DWORD>(std::strtoul(argv[4], nullptr, 0));
    return SetRegisterDWORD(widen(argv[2]).c_str(), widen(argv[3]).c_str(), value,
                            machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER)
               ? 0
               : 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "trace") == 0) {
    WRITELOG_A(4, "probe", "narrow %d", 4);
    WRITELOG_A(1, "probe", "level one");
    WRITELOG_W(8, L"probe", L"wide %s", L"\u00e9");
    VRLN_BT_TRACE("plain %s\n", XAD_Decode(0x1234, "T"));
    VRLN_BT_TRACE_BME_W(L"bme %d\n", 1);
    VRLN_BT_ATLTRACE_A("atl");
    return 0;
  }
  return 2;
}
