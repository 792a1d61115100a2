#include "port/linux/xml_fetch_guard.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/uri.h>
#include <libxml/xmlIO.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "port/linux/regular_file.h"

namespace utils::linuxport {
namespace {

thread_local const AllowedFiles* tlsAllowed = nullptr;
thread_local bool tlsHandingOn = false;

// The loaders this one stands in front of: the one it replaced most recently,
// and the one libxml2 had at first (used when the other calls back into this one).
struct LoaderChain {
  std::mutex installing;
  std::atomic<xmlExternalEntityLoader> previous{nullptr};
  std::atomic<xmlExternalEntityLoader> original{nullptr};
};

LoaderChain& chain() {
  static LoaderChain loaders;
  return loaders;
}

// The local path a URL or path names, or false for any other scheme.
bool localPath(const char* url, std::string* path) {
  std::string text(url);
  if (text.rfind("file://localhost/", 0) == 0) {
    text.erase(0, 16);
  } else if (text.rfind("file://", 0) == 0) {
    text.erase(0, 7);
  } else if (text.find("://") != std::string::npos) {
    return false;
  }
  *path = std::move(text);
  return !path->empty();
}

bool allowed(const AllowedFiles& files, const struct stat& status) {
  return std::find(files.begin(), files.end(), std::make_pair(status.st_dev, status.st_ino)) != files.end();
}

// Opens path if it is one of the allowed regular files; -1 otherwise.
int openAllowed(const char* path, const AllowedFiles& files) {
  struct stat named {};
  if (::stat(path, &named) != 0 || !S_ISREG(named.st_mode) || !allowed(files, named)) return -1;
  struct stat opened {};
  int error = 0;
  const int fd = openRegularFile(path, &opened, &error);
  if (fd >= 0 && !allowed(files, opened)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

xmlParserInputPtr allowedInput(const char* url, const AllowedFiles& files, xmlParserCtxtPtr context);

xmlParserInputPtr guardedLoader(const char* url, const char* id, xmlParserCtxtPtr context) {
  const AllowedFiles* files = tlsAllowed;
  if (files == nullptr) {
    // Not the library's work: as the loader before would do it.
    xmlExternalEntityLoader next = chain().previous.load();
    if (tlsHandingOn || next == guardedLoader) next = chain().original.load();
    if (next == nullptr || next == guardedLoader) return nullptr;
    tlsHandingOn = true;
    xmlParserInputPtr input = next(url, id, context);
    tlsHandingOn = false;
    return input;
  }
  // Called from libxml2's C code: no exception may leave.
  try {
    return allowedInput(url, *files, context);
  } catch (...) {
    return nullptr;
  }
}

xmlParserInputPtr allowedInput(const char* url, const AllowedFiles& files, xmlParserCtxtPtr context) {
  std::string path;
  if (url == nullptr || !localPath(url, &path)) return nullptr;
  // A path escaped as a URL ("%20") is tried as written as well.
  int fd = -1;
  if (xmlChar* unescaped = reinterpret_cast<xmlChar*>(xmlURIUnescapeString(path.c_str(), 0, nullptr))) {
    fd = openAllowed(reinterpret_cast<const char*>(unescaped), files);
    xmlFree(unescaped);
  }
  if (fd < 0) fd = openAllowed(path.c_str(), files);
  if (fd < 0) return nullptr;
  xmlParserInputBufferPtr buffer = xmlParserInputBufferCreateFd(fd, XML_CHAR_ENCODING_NONE);
  if (buffer == nullptr) {
    ::close(fd);
    return nullptr;
  }
  xmlParserInputPtr input = xmlNewIOInputStream(context, buffer, XML_CHAR_ENCODING_NONE);
  if (input == nullptr) {
    xmlFreeParserInputBuffer(buffer);  // closes fd
    return nullptr;
  }
  // The document's URL, against which its own references are resolved.
  input->filename = reinterpret_cast<const char*>(xmlStrdup(reinterpret_cast<const xmlChar*>(url)));
  return input;
}

// Puts the guarded loader in front, once, and again whenever the host process
// has since installed a loader of its own.
void installGuardedLoader() {
  LoaderChain& loaders = chain();
  std::lock_guard lock(loaders.installing);
  const xmlExternalEntityLoader current = xmlGetExternalEntityLoader();
  if (current == guardedLoader) return;
  if (loaders.original.load() == nullptr) loaders.original.store(current);
  loaders.previous.store(current);
  xmlSetExternalEntityLoader(guardedLoader);
}

}  // namespace

XmlFetchGuard::XmlFetchGuard(const AllowedFiles* allowed) : outer_(tlsAllowed) {
  installGuardedLoader();
  tlsAllowed = allowed;
}

XmlFetchGuard::~XmlFetchGuard() { tlsAllowed = outer_; }

}  // namespace utils::linuxport
