// Running out of memory while libxml2 calls the reader back: the failure is
// caught inside the callback, the parser stopped, and reported once libxml2
// has returned: the class's Load throws std::bad_alloc, the flat function
// gives null, and nothing is left behind (the address sanitizer build checks
// for leaks). The global allocation functions of the XML integration tests
// are replaced here so that large allocations can be made to fail.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "utils/xml.h"
#include "xml_test_support.h"

#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"

namespace {

// Allocations of at least this many bytes fail; 0 lets every one through.
std::atomic<size_t> gFailFrom{0};

void* allocate(size_t size) {
  const size_t limit = gFailFrom.load(std::memory_order_relaxed);
  if (limit != 0 && size >= limit) throw std::bad_alloc();
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t size) { return allocate(size); }
void* operator new[](size_t size) { return allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }

namespace {

class LargeAllocationsFail {
 public:
  explicit LargeAllocationsFail(size_t bytes) { gFailFrom = bytes; }
  ~LargeAllocationsFail() { gFailFrom = 0; }
  LargeAllocationsFail(const LargeAllocationsFail&) = delete;
  LargeAllocationsFail& operator=(const LargeAllocationsFail&) = delete;
};

using XmlMemory = XmlFileTest;

TEST_F(XmlMemory, RunningOutOfMemoryInAParserCallbackIsReportedAfterTheParserReturns) {
  // An attribute value with a reference (libxml2 holds its own copy while it
  // calls back), and a long text, each far beyond the failing size once wide.
  const std::string big(3000000, 'v');
  const std::wstring attribute = write("attribute.xml", "<r><e k='&amp;" + big + "'/></r>").wstring();
  const std::wstring text = write("text.xml", "<r><e>" + big + big + "</e></r>").wstring();
  for (const std::wstring& path : {attribute, text}) {
    {
      LargeAllocationsFail failing(8 << 20);
      XmlObject* out = reinterpret_cast<XmlObject*>(0x5a5a);
      EXPECT_THROW(XmlObject::Load(path.c_str(), &out, L""), std::bad_alloc);
      EXPECT_EQ(out, reinterpret_cast<XmlObject*>(0x5a5a));
      EXPECT_EQ(LoadXmlObject(path.c_str(), L""), nullptr);
    }
    // With memory again, the same file loads whole.
    XmlObject* loaded = LoadXmlObject(path.c_str(), L"");
    ASSERT_NE(loaded, nullptr);
    DestroyXmlObject(loaded);
  }
}

}  // namespace
