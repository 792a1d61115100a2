// A language resource library for the Windows tests: it only says which it is.
extern "C" __declspec(dllexport) int utilsTestLanguage() { return 1036; }
