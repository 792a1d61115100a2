#include "file_io.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace utils::btutil {
namespace {

std::string lastErrorText() { return errno != 0 ? std::strerror(errno) : "input/output error"; }

}  // namespace

bool readWholeFile(const std::string& path, size_t maxBytes, std::string* bytes, std::string* error) {
  std::error_code code;
  const auto status = std::filesystem::status(path, code);
  if (code) {
    *error = code.message();
    return false;
  }
  if (!std::filesystem::is_regular_file(status)) {
    *error = "not a regular file";
    return false;
  }
  const auto size = std::filesystem::file_size(path, code);
  if (code) {
    *error = code.message();
    return false;
  }
  if (size > maxBytes) {
    *error = "the file is larger than " + std::to_string(maxBytes / (1024 * 1024)) + " MiB";
    return false;
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = lastErrorText();
    return false;
  }
  bytes->assign(static_cast<size_t>(size), '\0');
  in.read(bytes->data(), static_cast<std::streamsize>(bytes->size()));
  if (static_cast<size_t>(in.gcount()) != bytes->size()) {
    *error = "the file changed while it was read";
    return false;
  }
  return true;
}

bool replaceFile(const std::string& path, const std::string& bytes, std::string* error) {
  const std::string temporary = path + ".btutil-partial";
  errno = 0;
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (out) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (out) out.flush();
    if (!out) {
      *error = lastErrorText();
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code code;
  std::filesystem::rename(temporary, path, code);
  if (code) {
    *error = code.message();
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return false;
  }
  return true;
}

}  // namespace utils::btutil
