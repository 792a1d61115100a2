// The XML DOM reader and writer at the level the element tree's load and save
// need. The MSXML 6.0 DOM on Windows; libxml2 on Linux (a streaming reader with
// streaming schema validation, so no second tree is held), with no network access
// and no loading of external DTDs or entities. Every object lives only as long as
// its owner holds it, and all of them are released before a load or save returns.
// Running out of memory throws std::bad_alloc, after releasing what was held.
// The objects of one load or one document are used on the thread that made them.
#pragma once

#include <memory>

#include "utils/wintypes.h"

namespace utils::port {

// The step at which a load stopped; each maps to one result code of the loader.
enum class XmlLoadStep {
  kNone,               // loaded (so far); the root element was handed out
  kCreateDocument,     // a document object (the schema's or the file's) could not be made
  kLoadSchema,         // the schema file could not be read or parsed as XML
  kCreateSchemaCache,  // the schema collection could not be made
  kAddSchema,          // the schema could not be added to the collection (not a usable schema)
  kLoadDocument,       // the file is missing, unreadable or not well-formed
  kValidate,           // the document is not valid against the schema
  kRootNode,           // the document's root element could not be read
};

// What nextChild found.
enum class DomChildKind {
  kElement,  // an element child, now entered at depth + 1
  kText,     // a text node (never one of white space only)
  kOther,    // a comment, CDATA section, processing instruction or the like
  kEnd,      // no more children: the element at depth is finished
};

// A forward-only walk over the elements of a loaded document. Elements are named
// by depth: the root is depth 0, and the element entered by the last kElement of
// nextChild(d) is depth d + 1. The name and attributes of an element can be read
// until nextChild is first called for it. Strings handed out stay valid until the
// next call on the reader. Errors are nonzero codes; after one, the reader may
// refuse everything, and finish() tells the outcome.
class DomReader {
 public:
  virtual ~DomReader() = default;

  // The local name (no prefix) of the element at depth, or null when it has none.
  virtual DWORD baseName(int depth, const wchar_t** name) = 0;

  // The number of attributes of the element at depth. Namespace declarations are
  // attributes under their local name ("xmlns:p" gives "p", "xmlns" gives "xmlns").
  virtual DWORD attributeCount(int depth, LONG* count) = 0;

  // The index-th attribute: local name and normalised value with references
  // expanded (an empty value is an empty string).
  virtual DWORD attribute(int depth, LONG index, const wchar_t** name, const wchar_t** value) = 0;

  // Skips what is left of the previous child of the element at depth (its whole
  // subtree), then reports the next child. For kText, *text is the character
  // data with references expanded.
  virtual DWORD nextChild(int depth, DomChildKind* kind, const wchar_t** text) = 0;

  // Reads the rest of the document and gives the outcome of the whole load:
  // kNone, kLoadDocument (not well-formed after all) or kValidate (not valid).
  virtual XmlLoadStep finish() = 0;
};

// A reference to one element of a document being read.
struct DomReadNode {
  DomReader* reader;
  int depth;
};

// An element being built for a document that is to be saved. An element not
// attached to a parent or the document when it is released is discarded.
// A writer may keep the text and attribute value strings it is given and read
// them again when the document is saved: they must stay valid and unchanged
// until the document is saved or released (the element tree being saved holds
// them). Names are always copied.
class DomWriteElement {
 public:
  virtual ~DomWriteElement() = default;

  // Sets an attribute; one of the same name keeps its place and takes the new
  // value. Fails (nonzero) for a name that is not an XML name and for a value
  // holding a character that XML cannot carry.
  virtual DWORD setAttribute(const wchar_t* name, const wchar_t* value) = 0;

  // Replaces the element's content with one text node holding text. Fails for
  // text holding a character that XML cannot carry.
  virtual DWORD setText(const wchar_t* text) = 0;

  // Appends child, built and still unattached, as this element's last child.
  virtual DWORD appendChild(DomWriteElement& child) = 0;
};

// A document being built for saving.
class DomWriteDocument {
 public:
  virtual ~DomWriteDocument() = default;

  // Appends a processing instruction at the top level. The target "xml" makes the
  // XML declaration (data "version='1.0' encoding='UTF-16'"), which must come first.
  virtual DWORD appendProcessingInstruction(const wchar_t* target, const wchar_t* data) = 0;

  // Makes an unattached element named name. Fails (nonzero) for a null or empty
  // name and for one that is not an XML name.
  virtual DWORD createElement(const wchar_t* name, std::unique_ptr<DomWriteElement>* element) = 0;

  // Appends element as the document's root element; fails if there is one already.
  virtual DWORD appendRoot(DomWriteElement& element) = 0;

  // Writes the document to path as XML 1.0 in UTF-16 with a byte order mark,
  // escaping text and attribute values. The file is written beside path and
  // renamed over it, so path holds either its old content or the whole new
  // document. Returns 0 or the error.
  virtual DWORD save(const wchar_t* path) = 0;
};

class XmlDomPort {
 public:
  virtual ~XmlDomPort() = default;

  // Opens the XML file at path for reading. With a non-empty schemaPath it first
  // reads that XML Schema and registers it for elements in no namespace; the
  // document is then validated against it (a validation that cannot run is not a
  // failure). The file's encoding comes from its byte order mark and declaration;
  // a document type declaration is accepted but nothing external is fetched.
  // Returns 0 with *failedStep kNone and *reader at the document element
  // (depth 0), or a nonzero code with *failedStep the step that failed and
  // *reader untouched. Errors found later come from the reader's finish().
  virtual DWORD load(const wchar_t* path, const wchar_t* schemaPath, XmlLoadStep* failedStep,
                     std::unique_ptr<DomReader>* reader) = 0;

  // Makes an empty document for saving. Returns 0 and the document, or the error.
  virtual DWORD createDocument(std::unique_ptr<DomWriteDocument>* document) = 0;
};

}  // namespace utils::port
