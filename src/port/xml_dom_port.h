// The XML DOM reader and writer at the level the element tree's load and save
// need. The MSXML 6.0 DOM on Windows; libxml2 on Linux, with no network access and
// no loading of external DTDs or entities. Every DOM object lives only as long as
// its owner holds it, and all of them are released before a load or save returns.
// Running out of memory throws std::bad_alloc, after releasing what was held.
// The objects of one load or one document are used on the thread that made them
// (on Windows, COM stays initialised on it while any of them lives), and the
// nodes of a load keep its document alive until the last of them is released.
#pragma once

#include <memory>
#include <string>

#include "utils/wintypes.h"

namespace utils::port {

// DOM node types (the W3C DOM numbering) that the tree walk tells apart.
inline constexpr DWORD kDomElement = 1;
inline constexpr DWORD kDomAttribute = 2;
inline constexpr DWORD kDomText = 3;
inline constexpr DWORD kDomCData = 4;

// The step at which a load stopped; each maps to one result code of the loader.
enum class XmlLoadStep {
  kNone,               // loaded; the root element was handed out
  kCreateDocument,     // a document object (the schema's or the file's) could not be made
  kLoadSchema,         // the schema file could not be read or parsed
  kCreateSchemaCache,  // the schema collection could not be made
  kAddSchema,          // the schema could not be added to the collection (not a usable schema)
  kLoadDocument,       // the file is missing, unreadable or not well-formed
  kValidate,           // the document is not valid against the schema
  kRootNode,           // the document's root element could not be read
};

// A node of a loaded document, read-only. Text and names come out as copies.
class DomReadNode {
 public:
  virtual ~DomReadNode() = default;

  // The DOM node type (kDomElement, kDomText, ... or any other DOM type). Returns 0
  // or the error.
  virtual DWORD nodeType(DWORD* type) = 0;

  // The local name without a prefix ("p:a" gives "a"; a namespace declaration
  // "xmlns:p" gives "p", "xmlns" gives "xmlns"). *present is false when the node
  // has no name. Returns 0 or the error.
  virtual DWORD baseName(std::wstring* name, bool* present) = 0;

  // The node's text: an attribute's normalised value (empty, never missing, when
  // empty) or a text node's character data, references expanded. Returns 0 or the
  // error.
  virtual DWORD text(std::wstring* text) = 0;

  // The number of attributes, in document order; namespace declarations count as
  // attributes. Fails (nonzero) for a node without an attribute map.
  virtual DWORD attributeCount(LONG* count) = 0;

  // The index-th attribute node. Returns 0 and the node, or the error.
  virtual DWORD attribute(LONG index, std::unique_ptr<DomReadNode>* node) = 0;

  // The number of child nodes. Text made only of white space is not a child
  // (white space is not preserved); comments, CDATA sections and processing
  // instructions are. Returns 0 or the error.
  virtual DWORD childCount(LONG* count) = 0;

  // The index-th child node, in document order. Returns 0 and the node, or the
  // error.
  virtual DWORD child(LONG index, std::unique_ptr<DomReadNode>* node) = 0;
};

// An element being built for a document that is to be saved. An element not
// attached to a parent or the document when it is released is discarded.
class DomWriteElement {
 public:
  virtual ~DomWriteElement() = default;

  // Sets an attribute; one of the same name keeps its place and takes the new
  // value. Fails (nonzero) for a name that is not an XML name.
  virtual DWORD setAttribute(const wchar_t* name, const wchar_t* value) = 0;

  // Replaces the element's content with one text node holding text.
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

  // Writes the document to path in one step as XML 1.0 in the encoding its
  // declaration names (UTF-16 with a byte order mark), escaping text and attribute
  // values. Returns 0 or the error.
  virtual DWORD save(const wchar_t* path) = 0;
};

class XmlDomPort {
 public:
  virtual ~XmlDomPort() = default;

  // Loads the XML file at path. With a non-empty schemaPath it first reads that
  // XML Schema, registers it for elements in no namespace, and after parsing
  // validates the whole document against it; a validation that cannot run is not
  // a failure. The file's encoding comes from its byte order mark and declaration;
  // a document type declaration is accepted but neither fetched nor validated
  // against. The steps run in the order of XmlLoadStep. Returns 0 with *failedStep
  // kNone and *root the document element, or a nonzero code with *failedStep the
  // step that failed and *root untouched.
  virtual DWORD load(const wchar_t* path, const wchar_t* schemaPath, XmlLoadStep* failedStep,
                     std::unique_ptr<DomReadNode>* root) = 0;

  // Makes an empty document for saving. Returns 0 and the document, or the error.
  virtual DWORD createDocument(std::unique_ptr<DomWriteDocument>* document) = 0;
};

}  // namespace utils::port
