// The XML DOM port on Linux: streaming reads through libxml2, writes through
// our own UTF-16 serialiser.
#pragma once

#include "port/xml_dom_port.h"

namespace utils::linuxport {

class LibxmlDom final : public port::XmlDomPort {
 public:
  DWORD load(const wchar_t* path, const wchar_t* schemaPath, port::XmlLoadStep* failedStep,
             std::unique_ptr<port::DomReader>* reader) override;
  DWORD createDocument(std::unique_ptr<port::DomWriteDocument>* document) override;
};

}  // namespace utils::linuxport
