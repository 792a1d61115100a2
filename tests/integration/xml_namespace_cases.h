// Documents and schemas whose validation answers must be the same on every
// platform: the schema is registered for elements in no namespace only.
#pragma once

#include "utils/xml.h"

namespace utils::testing {

struct NamespaceCase {
  bool namespacedSchema;  // the schema has targetNamespace 'u:x'
  const char* document;
  OBJECT_ERROR_CODE expected;
};

inline constexpr const char* kSchemaStart = "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'";
inline constexpr const char* kSchemaBody =
    "><xs:element name='a'><xs:complexType><xs:sequence><xs:element name='b' type='xs:int'/>"
    "</xs:sequence></xs:complexType></xs:element></xs:schema>";
inline constexpr const char* kNamespaceAttributes = " targetNamespace='u:x' xmlns='u:x' elementFormDefault='qualified'";

inline constexpr NamespaceCase kNamespaceCases[] = {
    {false, "<a><b>1</b></a>", OBJECT_ERROR_NONE},
    {false, "<a><b>x</b></a>", OBJECT_ERROR_VALIDATE},
    {false, "<c/>", OBJECT_ERROR_VALIDATE},
    // An element in a namespace has no schema, whatever the schema imports.
    {false, "<a xmlns='u:x'><b>1</b></a>", OBJECT_ERROR_VALIDATE},
    {false, "<p:a xmlns:p='u:y'><b>1</b></p:a>", OBJECT_ERROR_VALIDATE},
    // A schema with a target namespace, registered for no namespace, declares
    // no element there: nothing is valid, in its namespace or out of it.
    {true, "<a><b>1</b></a>", OBJECT_ERROR_VALIDATE},
    {true, "<a xmlns='u:x'><b>1</b></a>", OBJECT_ERROR_VALIDATE},
    {true, "<p:a xmlns:p='u:x'><p:b>1</p:b></p:a>", OBJECT_ERROR_VALIDATE},
    {true, "<a xmlns='u:x'><b>x</b></a>", OBJECT_ERROR_VALIDATE},
    // Not well-formed still comes first.
    {true, "<a xmlns='u:x'><b>1</b>", OBJECT_ERROR_LOAD_DOCUMENT},
};

}  // namespace utils::testing
