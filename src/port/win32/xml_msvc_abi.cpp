// XmlObject for callers built with Microsoft's compiler. utils.dll exports the
// class under those callers' decorated names as well as under GCC's. Most members
// are called the same way by both compilers on x64 (this in RCX, the arguments
// after it), so the .def file exports them as aliases of the GCC names. The
// members below differ, and get adapters that follow Microsoft's conventions:
// - constructors return this;
// - the default-construction entry constructs without a name;
// - a member returning a class type takes the result's address after this (GCC
//   passes it before this) and returns it;
// - the virtual table's symbol names the first slot, with the place of the
//   run-time type information before it.
#include <new>
#include <utility>

#include "utils/xml.h"

using AttributePair = std::pair<const wchar_t*, const wchar_t*>;

extern "C" {

XmlObject* utils_msvc_XmlObject_construct(XmlObject* self) {
  ::new (static_cast<void*>(self)) XmlObject();
  return self;
}

XmlObject* utils_msvc_XmlObject_construct_named(XmlObject* self, const wchar_t* name) {
  ::new (static_cast<void*>(self)) XmlObject(name);
  return self;
}

void utils_msvc_XmlObject_default_construct(XmlObject* self) { ::new (static_cast<void*>(self)) XmlObject(); }

AttributePair* utils_msvc_XmlObject_GetAttribute(XmlObject* self, AttributePair* result, size_t index) {
  ::new (static_cast<void*>(result)) AttributePair(self->GetAttribute(index));
  return result;
}

}  // extern "C"

// The virtual table in Microsoft's shape: no type information (null), then Save,
// the one virtual member, called as GCC calls it.
asm(R"(
    .section .rdata,"dr"
    .p2align 3
    .quad 0
    .globl utils_msvc_XmlObject_vftable
utils_msvc_XmlObject_vftable:
    .quad _ZN9XmlObject4SaveEPKw
    .text
)");
