// What the tests' unlock component records of its last call.
#pragma once

#include <cstddef>

struct UnlockModuleRecord {
  int calls = 0;
  unsigned long long context = 0;
  wchar_t userName[100] = {};
  wchar_t domain[100] = {};
  wchar_t password[200] = {};
  unsigned length = 0;
  const wchar_t* passwordAddress = nullptr;
};
