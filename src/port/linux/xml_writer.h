// The writing half of the libxml2 DOM port: a libxml2 document built element by
// element and saved as UTF-16 with a byte order mark into a file beside the
// target, which then replaces the target in one rename.
#pragma once

#include <libxml/tree.h>

#include <memory>
#include <string>

#include "port/xml_dom_port.h"

namespace utils::linuxport {

class LibxmlWriteDocument final : public port::DomWriteDocument {
 public:
  // Null when libxml2 cannot make a document.
  static std::unique_ptr<LibxmlWriteDocument> create();
  ~LibxmlWriteDocument() override;
  LibxmlWriteDocument(const LibxmlWriteDocument&) = delete;
  LibxmlWriteDocument& operator=(const LibxmlWriteDocument&) = delete;

  DWORD appendProcessingInstruction(const wchar_t* target, const wchar_t* data) override;
  DWORD createElement(const wchar_t* name, std::unique_ptr<port::DomWriteElement>* element) override;
  DWORD appendRoot(port::DomWriteElement& element) override;
  DWORD save(const wchar_t* path) override;

  // UTF-8 of text in a buffer reused across calls; valid until the next call.
  const xmlChar* utf8(const wchar_t* text);

 private:
  explicit LibxmlWriteDocument(xmlDocPtr document) : document_(document) {}

  xmlDocPtr document_;
  bool hasDeclaration_ = false;
  std::string scratch_;
};

}  // namespace utils::linuxport
