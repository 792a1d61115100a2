// Linked into every test program of a coverage build, with -Wl,--wrap=_exit: a
// forked child that ends with _exit writes its coverage counters first, as a
// normal exit would, so what tests do in child processes is counted too.
extern "C" {
void __gcov_dump(void);
[[noreturn]] void __real__exit(int status);

[[noreturn]] void __wrap__exit(int status) {
  __gcov_dump();
  __real__exit(status);
}
}
