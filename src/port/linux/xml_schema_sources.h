// Whether a schema stays on the local file system: libxml2's schema compiler
// fetches what xs:import, xs:include, xs:redefine and xs:override name, with no
// way to forbid the network per context, so the library looks first.
#pragma once

#include <libxml/tree.h>

namespace utils::linuxport {

// True when no schema reachable from schema (following local files, at most 64
// of them) names a location with a URL scheme other than file.
bool schemaStaysLocal(xmlDocPtr schema, int parseOptions);

}  // namespace utils::linuxport
