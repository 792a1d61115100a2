#include "port/win32/save_target.h"

#include <atomic>
#include <cwchar>
#include <vector>

namespace utils::win32port {
namespace {

constexpr wchar_t kTemporaryMark[] = L".xmlsave-";
constexpr size_t kSuffixLength = 6;
constexpr size_t kMostNameChars = 200;

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// The path the handle's file has after every link, without the "\\?\" prefix
// where the plain form names the same file; empty when it cannot be told.
std::wstring finalPath(HANDLE file) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (length == 0) return {};
    if (length < buffer.size()) {
      std::wstring path(buffer.data(), length);
      if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
      if (path.rfind(L"\\\\?\\", 0) == 0 && path.size() >= 6 && path[5] == L':') return path.substr(4);
      return path;
    }
    buffer.resize(length + 1);
  }
}

void splitPath(const std::wstring& path, std::wstring* folder, std::wstring* name) {
  const size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) {
    folder->assign(L".");
    name->assign(path);
  } else {
    folder->assign(path, 0, slash);
    name->assign(path, slash + 1, std::wstring::npos);
  }
}

std::wstring temporaryPrefix(const std::wstring& name) {
  std::wstring prefix(1, L'.');
  prefix.append(name, 0, name.size() > kMostNameChars ? kMostNameChars : name.size());
  prefix.append(kTemporaryMark);
  return prefix;
}

std::wstring randomSuffix() {
  static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::atomic<unsigned long long> counter{0};
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  unsigned long long mix = static_cast<unsigned long long>(now.QuadPart) ^
                           (static_cast<unsigned long long>(GetCurrentProcessId()) << 32) ^
                           (counter.fetch_add(1) * 0x9E3779B97F4A7C15ULL);
  std::wstring suffix;
  for (size_t i = 0; i < kSuffixLength; ++i) {
    mix = mix * 6364136223846793005ULL + 1442695040888963407ULL;
    suffix += kLetters[(mix >> 33) % (sizeof kLetters / sizeof kLetters[0] - 1)];
  }
  return suffix;
}

// Deletes the temporary files that earlier saves of this target left; one
// still being written is held open without shared deletion and stays.
void removeStaleTemporaries(const std::wstring& folder, const std::wstring& prefix) {
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = folder + L"\\" + prefix + L"*";
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name.size() != prefix.size() + kSuffixLength || name.compare(0, prefix.size(), prefix) != 0 ||
        (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      continue;
    }
    DeleteFileW((folder + L"\\" + name).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

SaveTarget::~SaveTarget() {
  if (hold_ != INVALID_HANDLE_VALUE) CloseHandle(hold_);
  if (!temporary_.empty()) DeleteFileW(temporary_.c_str());
}

DWORD SaveTarget::begin(const wchar_t* path) {
  if (path == nullptr || *path == 0) return ERROR_PATH_NOT_FOUND;
  target_ = path;
  Handle existing(CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (existing.get() == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return error;
    return startTemporary(false);
  }
  // Only a file on disk is replaced: not a folder, a device or a pipe.
  BY_HANDLE_FILE_INFORMATION information{};
  if (GetFileType(existing.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(existing.get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return ERROR_ACCESS_DENIED;
  }
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) return ERROR_ACCESS_DENIED;
  const std::wstring resolved = finalPath(existing.get());
  if (!resolved.empty()) target_ = resolved;
  // A new file would take the other names' place for only one of them.
  if (information.nNumberOfLinks > 1) {
    inPlace_ = true;
    return 0;
  }
  return startTemporary(true);
}

DWORD SaveTarget::startTemporary(bool exists) {
  exists_ = exists;
  std::wstring folder;
  std::wstring name;
  splitPath(target_, &folder, &name);
  if (name.empty()) return ERROR_PATH_NOT_FOUND;
  const std::wstring prefix = temporaryPrefix(name);
  removeStaleTemporaries(folder, prefix);
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::wstring candidate = folder + L"\\" + prefix + randomSuffix();
    // No access of its own and no shared deletion: the writer may open it,
    // another save's clean-up may not delete it.
    hold_ = CreateFileW(candidate.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hold_ != INVALID_HANDLE_VALUE) {
      temporary_ = candidate;
      return 0;
    }
    error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  // A folder that takes no new file: an existing file is written in place.
  if (exists && error == ERROR_ACCESS_DENIED) {
    inPlace_ = true;
    return 0;
  }
  return error;
}

DWORD SaveTarget::commit() {
  if (inPlace_) return 0;
  CloseHandle(hold_);
  hold_ = INVALID_HANDLE_VALUE;
  // Replacing keeps the old file's attributes, security and streams.
  const BOOL moved = exists_ ? ReplaceFileW(target_.c_str(), temporary_.c_str(), nullptr,
                                            REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                             : MoveFileExW(temporary_.c_str(), target_.c_str(), MOVEFILE_WRITE_THROUGH);
  if (!moved) return GetLastError();
  temporary_.clear();
  return 0;
}

}  // namespace utils::win32port
