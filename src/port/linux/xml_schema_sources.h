// The files a schema is made of. libxml2's schema compiler loads what
// xs:import, xs:include, xs:redefine and xs:override name; the library reads
// them first, without entities or DTDs, to list them, so that its fetch guard
// lets the compiler load those files and nothing else.
#pragma once

#include <libxml/tree.h>

#include <string>

#include "port/linux/xml_fetch_guard.h"

namespace utils::linuxport {

// The XML document in the regular file at path (read without blocking, never a
// FIFO or device), parsed with options, with path as its URL; null when it
// cannot be read or is not well-formed. The file is added to *files.
xmlDocPtr readRegularXmlFile(const std::string& path, int options, AllowedFiles* files);

// Adds to *files every local file reachable from schema through schema
// locations (at most 64 files). False when a location has a URL scheme other
// than file, or there are more files than that.
bool collectSchemaFiles(xmlDocPtr schema, int options, AllowedFiles* files);

}  // namespace utils::linuxport
