#include "diag/export_guard.h"

#include <exception>
#include <new>

#include "utils/trace.h"

namespace utils::diag {

void traceStoppedException(const char* function) noexcept {
  // The trace family catches everything itself; the rethrow only names the
  // exception and is caught here.
  try {
    throw;
  } catch (const std::bad_alloc&) {
    WRITELOG_A(4, "utils", "%s failed: out of memory", function);
  } catch (const std::exception& error) {
    WRITELOG_A(4, "utils", "%s failed: %s", function, error.what());
  } catch (...) {
    WRITELOG_A(4, "utils", "%s failed: unknown exception", function);
  }
}

}  // namespace utils::diag
