#include "port/platform.h"

namespace utils::port {
namespace {

// Process-wide: the installed ports, written by installPlatform before any other
// thread uses the library and only read afterwards.
Platform gInstalled;

}  // namespace

const Platform& platform() { return gInstalled; }

void installPlatform(const Platform& record) { gInstalled = record; }

}  // namespace utils::port
