// The XML DOM port on MSXML 6.0 through COM: DOMDocument60 documents and an
// XMLSchemaCache60 collection. Every load and every document brackets its COM
// use with its own initialisation on the calling thread.
#pragma once

#include "port/xml_dom_port.h"

namespace utils::win32port {

class MsxmlDom final : public port::XmlDomPort {
 public:
  DWORD load(const wchar_t* path, const wchar_t* schemaPath, port::XmlLoadStep* failedStep,
             std::unique_ptr<port::DomReader>* reader) override;
  DWORD createDocument(std::unique_ptr<port::DomWriteDocument>* document) override;
};

}  // namespace utils::win32port
