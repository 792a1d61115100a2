// Handles that the Linux adapters hand out for bus connections, radios and
// searches: small numbers from one process-wide sequence (so no two adapters
// give the same value), mapped to their objects. A closed or unknown handle is
// found nowhere; handles are never reused.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "utils/wintypes.h"

namespace utils::linuxport {

// The next unused handle value.
HANDLE nextHandleValue();

template <class T>
class HandleTable {
 public:
  HANDLE add(std::shared_ptr<T> object) {
    const HANDLE handle = nextHandleValue();
    std::lock_guard lock(mutex_);
    objects_.emplace(handle, std::move(object));
    return handle;
  }
  std::shared_ptr<T> find(HANDLE handle) const {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(handle);
    return it == objects_.end() ? nullptr : it->second;
  }
  // The object leaves the table; it is destroyed once its last user lets go.
  bool remove(HANDLE handle) {
    std::lock_guard lock(mutex_);
    return objects_.erase(handle) == 1;
  }
  size_t size() const {
    std::lock_guard lock(mutex_);
    return objects_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::map<HANDLE, std::shared_ptr<T>> objects_;
};

}  // namespace utils::linuxport
