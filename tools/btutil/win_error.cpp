#include "win_error.h"

namespace utils::btutil {
namespace {

const char* knownText(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND: return "The system was unable to find the specified registry key or value.";
    case ERROR_PATH_NOT_FOUND: return "The system cannot find the path specified.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_INVALID_HANDLE: return "The handle is invalid.";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return "Not enough memory resources are available to complete this operation.";
    case ERROR_WRITE_FAULT: return "The system cannot write to the specified device.";
    case ERROR_READ_FAULT: return "The system cannot read from the specified device.";
    case ERROR_NOT_SUPPORTED: return "The request is not supported.";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect.";
    case ERROR_DISK_FULL: return "There is not enough space on the disk.";
    case ERROR_BAD_PATHNAME: return "The specified path is invalid.";
    case ERROR_LOCK_FAILED: return "Unable to lock a region of a file.";
    case ERROR_BUSY: return "The requested resource is in use.";
    case ERROR_MORE_DATA: return "More data is available.";
    case ERROR_NO_MORE_ITEMS: return "No more data is available.";
    case ERROR_BADDB: return "The configuration registry database is corrupt.";
    case ERROR_BADKEY: return "The configuration registry key is invalid.";
    case ERROR_CANTOPEN: return "The configuration registry key could not be opened.";
    case ERROR_CANTREAD: return "The configuration registry key could not be read.";
    case ERROR_CANTWRITE: return "The configuration registry key could not be written.";
    case ERROR_REGISTRY_CORRUPT: return "The registry is corrupted.";
    case ERROR_REGISTRY_IO_FAILED: return "An I/O operation initiated by the registry failed unrecoverably.";
    case ERROR_KEY_DELETED: return "Illegal operation attempted on a registry key that has been marked for deletion.";
    case ERROR_DATATYPE_MISMATCH: return "The data is of the wrong type.";
    case ERROR_UNSUPPORTED_TYPE: return "The data type is not supported.";
    default: return nullptr;
  }
}

}  // namespace

std::string errorText(DWORD code) {
  const char* text = knownText(code);
  const std::string number = "(error " + std::to_string(code) + ")";
  return text != nullptr ? std::string(text) + " " + number : "Error " + std::to_string(code) + ".";
}

}  // namespace utils::btutil
