// What libxml2 may load from outside while the library works with it. libxml2
// loads every external resource (external entities, DTDs, the documents that
// a schema includes, imports or redefines) through one process-wide loader;
// the schema compiler even parses included schemas with entity substitution
// on. The library installs its own loader once, which hands on to the loader
// that was there before unless a guard is alive on the calling thread. While
// one is, only the files the guard names are loaded (read without blocking,
// regular files only) and every other request fails.
#pragma once

#include <sys/types.h>

#include <utility>
#include <vector>

namespace utils::linuxport {

// Files by identity (device, inode), so that any spelling of their path,
// through links or with ".." or "file://", names the same file.
using AllowedFiles = std::vector<std::pair<dev_t, ino_t>>;

class XmlFetchGuard {
 public:
  // allowed must outlive the guard; an empty list refuses everything.
  explicit XmlFetchGuard(const AllowedFiles* allowed);
  ~XmlFetchGuard();
  XmlFetchGuard(const XmlFetchGuard&) = delete;
  XmlFetchGuard& operator=(const XmlFetchGuard&) = delete;

 private:
  const AllowedFiles* outer_;
};

}  // namespace utils::linuxport
