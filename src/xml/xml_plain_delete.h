// Included first by the files that delete elements: elements are deleted as
// plain XmlObjects on purpose (destruction is not virtual), which the compilers'
// warnings about deleting polymorphic objects would otherwise refuse.
#pragma once

#if defined(__clang__)
#pragma clang diagnostic ignored "-Wdelete-non-abstract-non-virtual-dtor"
#else
#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"
#endif
