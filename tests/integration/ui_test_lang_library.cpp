// A language resource library for the tests: it only says which it is.
extern "C" __attribute__((visibility("default"))) int utilsTestLanguage() { return 1036; }
