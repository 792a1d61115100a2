// Memory for secrets: whole pages of their own, left out of core dumps
// (MADV_DONTDUMP) and locked in memory where the limit allows (mlock), wiped with
// explicit_bzero before they are given back.
#pragma once

#include <cstddef>

namespace utils::linuxport {

class SecretBuffer {
 public:
  SecretBuffer() = default;
  // At least size zeroed bytes; empty() when no memory could be had.
  explicit SecretBuffer(size_t size);
  ~SecretBuffer();
  SecretBuffer(SecretBuffer&& other) noexcept;
  SecretBuffer& operator=(SecretBuffer&& other) noexcept;
  SecretBuffer(const SecretBuffer&) = delete;
  SecretBuffer& operator=(const SecretBuffer&) = delete;

  bool empty() const { return data_ == nullptr; }
  char* data() const { return static_cast<char*>(data_); }
  size_t size() const { return size_; }
  // Whether the pages could be locked in memory (they are kept out of dumps
  // either way).
  bool locked() const { return locked_; }

 private:
  void release();
  void* data_ = nullptr;
  size_t size_ = 0;
  size_t mapped_ = 0;
  bool locked_ = false;
};

}  // namespace utils::linuxport
