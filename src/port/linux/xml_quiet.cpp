#include "port/linux/xml_quiet.h"

#include <libxml/globals.h>
#include <libxml/parser.h>

#include <mutex>

namespace utils::linuxport {
namespace {

void dropGeneric(void*, const char*, ...) {}

}  // namespace

void dropXmlError(void*, xmlErrorPtr) {}

QuietLibxml::QuietLibxml() {
  static std::once_flag initialised;
  std::call_once(initialised, [] { xmlInitParser(); });
  genericFunc_ = xmlGenericError;
  genericContext_ = xmlGenericErrorContext;
  structuredFunc_ = xmlStructuredError;
  structuredContext_ = xmlStructuredErrorContext;
  xmlSetGenericErrorFunc(nullptr, dropGeneric);
  xmlSetStructuredErrorFunc(nullptr, dropXmlError);
}

QuietLibxml::~QuietLibxml() {
  xmlSetGenericErrorFunc(genericContext_, genericFunc_);
  xmlSetStructuredErrorFunc(structuredContext_, structuredFunc_);
}

}  // namespace utils::linuxport
