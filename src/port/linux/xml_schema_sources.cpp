#include "port/linux/xml_schema_sources.h"

#include <libxml/parser.h>
#include <libxml/uri.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "port/linux/regular_file.h"

namespace utils::linuxport {
namespace {

constexpr const char* kXsdNamespace = "http://www.w3.org/2001/XMLSchema";
constexpr size_t kMostFiles = 64;

bool isReference(xmlNodePtr node) {
  if (node->type != XML_ELEMENT_NODE || node->ns == nullptr ||
      std::strcmp(reinterpret_cast<const char*>(node->ns->href), kXsdNamespace) != 0) {
    return false;
  }
  const char* name = reinterpret_cast<const char*>(node->name);
  return std::strcmp(name, "import") == 0 || std::strcmp(name, "include") == 0 || std::strcmp(name, "redefine") == 0 ||
         std::strcmp(name, "override") == 0;
}

// The locations that document's top level refers to, resolved against the
// element's base as the schema compiler resolves them, as local paths. False
// when one of them is not a local file.
bool collectLocal(xmlDocPtr document, std::vector<std::string>* locations) {
  xmlNodePtr root = xmlDocGetRootElement(document);
  if (root == nullptr) return true;
  for (xmlNodePtr child = root->children; child != nullptr; child = child->next) {
    if (!isReference(child)) continue;
    xmlChar* location = xmlGetNoNsProp(child, reinterpret_cast<const xmlChar*>("schemaLocation"));
    if (location == nullptr) continue;
    xmlChar* base = xmlNodeGetBase(document, child);
    xmlChar* resolved = xmlBuildURI(location, base != nullptr ? base : document->URL);
    xmlFree(base);
    xmlFree(location);
    if (resolved == nullptr) return false;
    std::string text(reinterpret_cast<const char*>(resolved));
    xmlFree(resolved);
    const size_t scheme = text.find("://");
    if (scheme != std::string::npos) {
      if (text.compare(0, scheme, "file") != 0) return false;
      text.erase(0, scheme + 3);
      if (text.rfind("localhost/", 0) == 0) text.erase(0, 9);
    }
    // A path escaped as a URL ("%20") names the unescaped file, as libxml2 reads it.
    if (char* unescaped = xmlURIUnescapeString(text.c_str(), 0, nullptr)) {
      if (text != unescaped) locations->push_back(unescaped);
      xmlFree(unescaped);
    }
    locations->push_back(text);
  }
  return true;
}

}  // namespace

xmlDocPtr readRegularXmlFile(const std::string& path, int options, AllowedFiles* files) {
  struct stat status {};
  int error = 0;
  const int fd = openRegularFile(path.c_str(), &status, &error);
  if (fd < 0) return nullptr;
  xmlDocPtr document = xmlReadFd(fd, path.c_str(), nullptr, options);
  ::close(fd);
  if (document != nullptr) files->emplace_back(status.st_dev, status.st_ino);
  return document;
}

bool collectSchemaFiles(xmlDocPtr schema, int options, AllowedFiles* files) {
  std::vector<std::string> pending;
  if (!collectLocal(schema, &pending)) return false;
  std::set<std::string> seen;
  while (!pending.empty()) {
    const std::string path = pending.back();
    pending.pop_back();
    if (!seen.insert(path).second) continue;
    if (seen.size() > kMostFiles) return false;
    xmlDocPtr document = readRegularXmlFile(path, options, files);
    if (document == nullptr) continue;  // missing or unusable: the schema compiler reports it
    const bool local = collectLocal(document, &pending);
    xmlFreeDoc(document);
    if (!local) return false;
  }
  return true;
}

}  // namespace utils::linuxport
