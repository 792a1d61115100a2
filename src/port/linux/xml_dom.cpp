#include "port/linux/xml_dom.h"

#include "common/utf16.h"
#include "port/linux/xml_reader.h"
#include "port/linux/xml_writer.h"

namespace utils::linuxport {

DWORD LibxmlDom::load(const wchar_t* path, const wchar_t* schemaPath, port::XmlLoadStep* failedStep,
                      std::unique_ptr<port::DomReader>* reader) {
  std::unique_ptr<LibxmlReader> opened;
  const std::string schema = schemaPath != nullptr ? wideToUtf8(schemaPath) : std::string();
  *failedStep = LibxmlReader::open(wideToUtf8(path), schema, &opened);
  if (*failedStep != port::XmlLoadStep::kNone) return 0x80004005;  // E_FAIL
  *reader = std::move(opened);
  return 0;
}

DWORD LibxmlDom::createDocument(std::unique_ptr<port::DomWriteDocument>* document) {
  *document = Utf16WriteDocument::create();
  return 0;
}

}  // namespace utils::linuxport
