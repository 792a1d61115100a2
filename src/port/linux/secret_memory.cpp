#include "port/linux/secret_memory.h"

#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <utility>

namespace utils::linuxport {

SecretBuffer::SecretBuffer(size_t size) {
  const long page = sysconf(_SC_PAGESIZE);
  const size_t pageSize = page > 0 ? static_cast<size_t>(page) : 4096;
  const size_t mapped = (size + pageSize - 1) / pageSize * pageSize;
  if (mapped == 0) return;
  void* pages = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) return;
  // Anonymous pages start zeroed. A dump without them is what we want; where the
  // kernel refuses, the secret is still wiped as soon as it is done with.
  madvise(pages, mapped, MADV_DONTDUMP);
  locked_ = mlock(pages, mapped) == 0;
  data_ = pages;
  size_ = size;
  mapped_ = mapped;
}

SecretBuffer::~SecretBuffer() { release(); }

SecretBuffer::SecretBuffer(SecretBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, 0)),
      locked_(std::exchange(other.locked_, false)) {}

SecretBuffer& SecretBuffer::operator=(SecretBuffer&& other) noexcept {
  if (this != &other) {
    release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapped_ = std::exchange(other.mapped_, 0);
    locked_ = std::exchange(other.locked_, false);
  }
  return *this;
}

void SecretBuffer::release() {
  if (data_ == nullptr) return;
  explicit_bzero(data_, mapped_);
  if (locked_) munlock(data_, mapped_);
  munmap(data_, mapped_);
  data_ = nullptr;
  size_ = 0;
  mapped_ = 0;
  locked_ = false;
}

}  // namespace utils::linuxport
