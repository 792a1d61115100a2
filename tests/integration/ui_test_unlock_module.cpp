// An unlock component for the tests: records what LE_EnableUnlockFeature
// received and answers what the test asks it to.
#include <cwchar>

#include "ui_test_unlock_module.h"

namespace {

// The module's own record; one test drives it at a time.
UnlockModuleRecord gRecord;
unsigned gAnswer = 0;

void copyText(wchar_t* out, size_t capacity, const wchar_t* text) {
  if (text == nullptr) {
    out[0] = L'\0';
    return;
  }
  std::wcsncpy(out, text, capacity - 1);
  out[capacity - 1] = L'\0';
}

}  // namespace

extern "C" __attribute__((visibility("default"))) unsigned LE_EnableUnlockFeature(unsigned long long context,
                                                                                  const wchar_t* userName,
                                                                                  const wchar_t* domain,
                                                                                  const wchar_t* password,
                                                                                  unsigned length) {
  ++gRecord.calls;
  gRecord.context = context;
  copyText(gRecord.userName, 100, userName);
  copyText(gRecord.domain, 100, domain);
  copyText(gRecord.password, 200, password);
  gRecord.length = length;
  gRecord.passwordAddress = password;
  return gAnswer;
}

extern "C" __attribute__((visibility("default"))) UnlockModuleRecord* utilsTestUnlockRecord() { return &gRecord; }

extern "C" __attribute__((visibility("default"))) void utilsTestUnlockAnswer(unsigned answer) { gAnswer = answer; }
