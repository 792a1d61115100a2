// XAD_Decode: a value as "Unknown type: 0x.." in a ring of ten static slots, so
// callers can pass the result straight to a trace call and never free it.
#include <atomic>
#include <cstdint>

#include "utils/primitives.h"
#include "utils/trace.h"

namespace {

constexpr int kSlots = 10;
constexpr int kSlotSize = 30;
constexpr char kPrefix[] = "Unknown type: ";
constexpr DWORD kPrefixLength = sizeof kPrefix - 1;  // 14

// Process-wide ring of result texts, zero at load. A text stays intact until ten
// further texts have been made.
char gRing[kSlots][kSlotSize];
std::atomic<uint8_t> gNextSlot{0};

char* takeSlot() {
  uint8_t slot = gNextSlot.load(std::memory_order_relaxed);
  while (!gNextSlot.compare_exchange_weak(slot, static_cast<uint8_t>((slot + 1) % kSlots), std::memory_order_relaxed)) {
  }
  return gRing[slot];
}

}  // namespace

extern "C" UTILS_API char* XAD_Decode(DWORD value, const char* /*typeName*/) {
  char* text = takeSlot();
  text[0] = '\0';
  OS_MemCopy(text, kPrefix, kPrefixLength);

  const int digits = value <= 0xFF ? 2 : value <= 0xFFFF ? 4 : 8;
  char* hex = text + kPrefixLength;
  hex[0] = '0';
  hex[1] = 'x';
  DWORD rest = value;
  for (int i = digits - 1; i >= 0; --i) {
    hex[2 + i] = "0123456789ABCDEF"[rest & 0xF];
    rest >>= 4;
  }
  hex[2 + digits] = '\0';
  return text;
}
