#include "file_io.h"

#include "port/linux/whole_file.h"

namespace utils::btutil {

bool readWholeFile(const std::string& path, size_t maxBytes, std::string* bytes, std::string* error) {
  return linuxport::readRegularFile(path, maxBytes, bytes, error);
}

WriteResult replaceFile(const std::string& path, const std::string& bytes, std::string* error) {
  switch (linuxport::replaceRegularFile(path, bytes, error)) {
    case linuxport::ReplaceResult::Done: return WriteResult::Done;
    case linuxport::ReplaceResult::NotRegular: return WriteResult::NotRegular;
    case linuxport::ReplaceResult::Failed: break;
  }
  return WriteResult::Failed;
}

}  // namespace utils::btutil
