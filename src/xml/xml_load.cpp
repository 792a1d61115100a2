// Loading: a document read through the DOM port becomes a new element tree.
#include "xml/xml_plain_delete.h"

#include <memory>
#include <vector>

#include "port/platform.h"
#include "utils/xml.h"

namespace {

using utils::port::DomChildKind;
using utils::port::DomReader;
using utils::port::XmlLoadStep;

OBJECT_ERROR_CODE codeOf(XmlLoadStep step) {
  switch (step) {
    case XmlLoadStep::kNone: return OBJECT_ERROR_NONE;
    case XmlLoadStep::kCreateDocument: return OBJECT_ERROR_CREATE_DOCUMENT;
    case XmlLoadStep::kLoadSchema: return OBJECT_ERROR_LOAD_SCHEMA;
    case XmlLoadStep::kCreateSchemaCache: return OBJECT_ERROR_CREATE_SCHEMA_CACHE;
    case XmlLoadStep::kAddSchema: return OBJECT_ERROR_ADD_SCHEMA;
    case XmlLoadStep::kLoadDocument: return OBJECT_ERROR_LOAD_DOCUMENT;
    case XmlLoadStep::kValidate: return OBJECT_ERROR_VALIDATE;
    case XmlLoadStep::kRootNode: return OBJECT_ERROR_ROOT_NODE;
  }
  return OBJECT_ERROR_LOAD_DOCUMENT;
}

// Name and attributes of the element at depth. False when the attributes could
// not all be read: the element then keeps those read so far and gets no children.
bool fillElement(DomReader& reader, int depth, XmlObject* target) {
  const wchar_t* name = nullptr;
  if (reader.baseName(depth, &name) == 0) target->SetBasename(name);
  LONG count = 0;
  if (reader.attributeCount(depth, &count) != 0) return false;
  for (LONG i = 0; i < count; ++i) {
    const wchar_t* attributeName = nullptr;
    const wchar_t* value = nullptr;
    if (reader.attribute(depth, i, &attributeName, &value) != 0) return false;
    target->AppendAttribute(attributeName, value);
  }
  return true;
}

}  // namespace

void XmlObject::ConstructDomFromFile(const utils::port::DomReadNode& node, XmlObject* target) {
  DomReader& reader = *node.reader;
  if (!fillElement(reader, node.depth, target)) return;

  // The subtree is walked with a list of open elements rather than by recursion,
  // so the stack does not grow with the document's depth. An element is appended
  // to its parent once its own subtree is complete.
  struct Open {
    XmlObject* element;
    std::unique_ptr<XmlObject> owned;  // null for the target, which the caller owns
    int depth;
  };
  std::vector<Open> open;
  open.push_back(Open{target, nullptr, node.depth});
  while (!open.empty()) {
    Open& current = open.back();
    DomChildKind kind = DomChildKind::kEnd;
    const wchar_t* text = nullptr;
    if (reader.nextChild(current.depth, &kind, &text) != 0 || kind == DomChildKind::kEnd) {
      std::unique_ptr<XmlObject> done = std::move(current.owned);
      open.pop_back();
      if (done) open.back().element->AppendChild(done.release());
      continue;
    }
    if (kind == DomChildKind::kText) {
      current.element->SetNodeText(text);  // the last text child wins
    } else if (kind == DomChildKind::kElement) {
      const int childDepth = current.depth + 1;
      auto child = std::make_unique<XmlObject>();
      if (fillElement(reader, childDepth, child.get())) {
        open.push_back(Open{child.get(), std::move(child), childDepth});
      } else {
        current.element->AppendChild(child.release());
      }
    }
  }
}

OBJECT_ERROR_CODE XmlObject::Load(const wchar_t* path, XmlObject** out, const wchar_t* schemaPath) {
  utils::port::XmlDomPort* dom = utils::port::platform().xmlDom;
  if (dom == nullptr) return OBJECT_ERROR_CREATE_DOCUMENT;
  if (path == nullptr || out == nullptr) return OBJECT_ERROR_LOAD_DOCUMENT;
  // A null schema path means no validation, as the empty one does.
  const wchar_t* schema = schemaPath != nullptr ? schemaPath : L"";

  XmlLoadStep step = XmlLoadStep::kNone;
  std::unique_ptr<DomReader> reader;
  if (dom->load(path, schema, &step, &reader) != 0 || reader == nullptr) {
    return step == XmlLoadStep::kNone ? OBJECT_ERROR_LOAD_DOCUMENT : codeOf(step);
  }
  auto root = std::make_unique<XmlObject>();
  ConstructDomFromFile(utils::port::DomReadNode{reader.get(), 0}, root.get());
  // A streaming reader finds some faults only once it has read to the end.
  step = reader->finish();
  if (step != XmlLoadStep::kNone) return codeOf(step);
  *out = root.release();
  return OBJECT_ERROR_NONE;
}
