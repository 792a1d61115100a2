/*
 * XML element trees: the XmlObject class (C++ callers), the result codes of
 * loading, and the flat functions over element handles (any caller). A handle
 * is the address of an XmlObject; C sees it as a pointer to an opaque struct.
 */
#ifndef UTILS_XML_H
#define UTILS_XML_H

#include <stddef.h>
#include <wchar.h>

#include "utils/export.h"
#include "utils/wintypes.h"

typedef enum OBJECT_ERROR_CODE {
  OBJECT_ERROR_NONE = 0,
  OBJECT_ERROR_CREATE_DOCUMENT = 1,
  OBJECT_ERROR_LOAD_SCHEMA = 2,
  OBJECT_ERROR_CREATE_SCHEMA_CACHE = 3,
  OBJECT_ERROR_ADD_SCHEMA = 4,
  OBJECT_ERROR_LOAD_DOCUMENT = 5,
  OBJECT_ERROR_VALIDATE = 6,
  OBJECT_ERROR_ROOT_NODE = 7
} OBJECT_ERROR_CODE;

#ifdef __cplusplus

#include <utility>
#include <vector>

namespace utils::port {
struct DomReadNode;
class DomWriteDocument;
class DomWriteElement;
}  // namespace utils::port

// Destruction is deliberately not virtual: a tree's elements are destroyed as
// plain XmlObjects by their parent, and the virtual table holds Save alone.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// One XML element: a name, an optional text, attributes (name, value) in append
// order and owned child elements in append order. Every string is the element's
// own copy. Elements are handled by pointer; a child must be a single heap object
// made with new (or by the library), because its parent deletes it.
//
// The layout is fixed (48 bytes on 64-bit: the virtual table pointer, then the
// five fields below), so callers built by other compilers and classes derived in
// other modules agree with the library on it.
class UTILS_API XmlObject {
 public:
  // Elements live on the heap that callers' new and delete use: on Windows the
  // process heap (where the C runtime of Microsoft's compiler allocates), so an
  // element made by a caller may be freed by the library and the other way round.
  static void* operator new(size_t size);
  static void operator delete(void* block) noexcept;

  XmlObject();
  explicit XmlObject(const wchar_t* name);
  // Destroys the whole subtree. An element that a parent still owns first leaves
  // its parent's child list (the library keeps each element's parent link in the
  // element's child-list block, since the layout has no room for it).
  ~XmlObject();
  XmlObject(const XmlObject&) = delete;
  XmlObject& operator=(const XmlObject&) = delete;

  void SetBasename(const wchar_t* name);
  const wchar_t* GetBasename();
  // An empty string is a text (HasText 1); null removes the text.
  void SetNodeText(const wchar_t* text);
  const wchar_t* GetNodeText();
  int HasText();

  // Appends a copy of (name, value); repeated names are kept. A null name or
  // value appends nothing.
  void AppendAttribute(const wchar_t* name, const wchar_t* value);
  size_t GetAttributeNumber();
  // (name, value) at index; a pair of nulls when index is out of range.
  std::pair<const wchar_t*, const wchar_t*> GetAttribute(size_t index);

  // Takes ownership of child and appends it. Refused (nothing happens, the
  // caller keeps the child) for null, for an element that already has a parent,
  // and for this element or one of its ancestors.
  void AppendChild(XmlObject* child);
  size_t GetChildernNumber();
  // The child at index, or null when index >= GetChildernNumber().
  XmlObject* GetChild(size_t index);

  // Writes the tree rooted here to path as a UTF-16 XML document: 1 when the
  // whole document was written, 0 when it was not (a name or text that XML cannot
  // carry, or a failed write), and then the file at path is left as it was.
  virtual int Save(const wchar_t* path);

  // Reads path into a new tree, validating it first against the XML Schema at
  // schemaPath unless that is empty (or null). *out receives the root on
  // OBJECT_ERROR_NONE and is left untouched otherwise.
  static OBJECT_ERROR_CODE Load(const wchar_t* path, XmlObject** out, const wchar_t* schemaPath);

 protected:
  // Fills target from the element node of a document being read, and its
  // subtree. Reading failures leave a partly filled, valid tree.
  static void ConstructDomFromFile(const utils::port::DomReadNode& node, XmlObject* target);
  // Builds this element and its subtree in document, attached to parent (or as
  // the root when parent is null) once complete. 1 on success, 0 on failure;
  // with continueOnError, failed attributes and children are skipped.
  int ConstructDomFromObject(utils::port::DomWriteDocument& document, utils::port::DomWriteElement* parent,
                             bool continueOnError);

 private:
  using Attribute = std::pair<wchar_t*, wchar_t*>;
  // The library's own helpers over the fields; not part of the interface.
  friend struct XmlObjectInternals;

  std::vector<Attribute>* attributes_;
  std::vector<XmlObject*>* children_;
  wchar_t* baseName_ = nullptr;
  wchar_t* nodeText_ = nullptr;
  int hasText_ = 0;
};

#pragma GCC diagnostic pop

#else
typedef struct XmlObject XmlObject;
#endif

UTILS_EXTERN_C_BEGIN

UTILS_API XmlObject* CreateXmlObject(void);
UTILS_API void DestroyXmlObject(XmlObject* element);
UTILS_API void AppendXmlAttribute(XmlObject* element, const wchar_t* name, const wchar_t* value);
UTILS_API void AppendXmlChild(XmlObject* element, XmlObject* child);
UTILS_API size_t GetXmlAttributeNumber(XmlObject* element);
UTILS_API size_t GetXmlChildernNumber(XmlObject* element);
UTILS_API const wchar_t* GetXmlAttributeNameByIndex(XmlObject* element, DWORD index);
UTILS_API const wchar_t* GetXmlAttributeValueByIndex(XmlObject* element, DWORD index);
UTILS_API XmlObject* GetXmlChildByIndex(XmlObject* element, DWORD index);
UTILS_API void SetXmlElementName(XmlObject* element, const wchar_t* name);
UTILS_API const wchar_t* GetXmlElementName(XmlObject* element);
UTILS_API void SetXmlElementNodeText(XmlObject* element, const wchar_t* text);
UTILS_API const wchar_t* GetXmlNodeText(XmlObject* element);
UTILS_API int IsXmlNodeHasText(XmlObject* element);
UTILS_API int SaveXmlObject(XmlObject* element, const wchar_t* path);
UTILS_API XmlObject* LoadXmlObject(const wchar_t* path, const wchar_t* schemaPath);

UTILS_EXTERN_C_END

#endif /* UTILS_XML_H */
