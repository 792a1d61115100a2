// Keeps libxml2 off the host process's standard error while the library works
// with it, and makes sure the parser is initialised.
#pragma once

#include <libxml/xmlerror.h>

namespace utils::linuxport {

// While it lives, libxml2's generic and structured error handlers of the calling
// thread (libxml2 keeps them per thread) drop every message; the caller's own
// handlers are put back when it ends. The library's contexts also carry their own
// handlers; this catches what libxml2 reports outside any context.
class QuietLibxml {
 public:
  QuietLibxml();
  ~QuietLibxml();
  QuietLibxml(const QuietLibxml&) = delete;
  QuietLibxml& operator=(const QuietLibxml&) = delete;

 private:
  xmlGenericErrorFunc genericFunc_;
  void* genericContext_;
  xmlStructuredErrorFunc structuredFunc_;
  void* structuredContext_;
};

// A structured error handler that drops the message.
void dropXmlError(void* context, xmlErrorPtr error);

}  // namespace utils::linuxport
