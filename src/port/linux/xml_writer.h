// The writing half of the Linux XML DOM port. The document is recorded as a
// compact tree: names are checked and converted to UTF-16 once each into one
// character buffer; texts and attribute values are checked when set and kept
// as the caller's strings. Saving walks that tree once, converting and escaping
// as it writes UTF-16 with a byte order mark in large blocks, through a
// FileReplacement (a file beside the target renamed over it, or in place).
#pragma once

#include <bit>
#include <cstdint>
#include <memory>
#include <vector>

#include "port/xml_dom_port.h"

namespace utils::linuxport {

// A growable array of UTF-16 code units, uninitialised beyond its size. Its
// pages are mapped directly, so growing remaps them instead of copying.
class Utf16Buffer {
 public:
  Utf16Buffer() = default;
  ~Utf16Buffer();
  Utf16Buffer(const Utf16Buffer&) = delete;
  Utf16Buffer& operator=(const Utf16Buffer&) = delete;

  size_t size() const { return size_; }
  const char16_t* data() const { return data_; }
  // Room for at least extra more units; the pointer is where they go.
  char16_t* reserve(size_t extra) { return capacity_ - size_ >= extra ? data_ + size_ : enlarge(extra); }
  // Adds count units written at the pointer reserve gave.
  void grow(size_t count) { size_ += count; }
  void truncate(size_t size) { size_ = size; }

 private:
  char16_t* enlarge(size_t extra);
  char16_t* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// An array that grows in chunks of doubling size, so that growing never moves
// or copies what it holds and costs one allocation per doubling. A chunk's pages
// are touched only as elements are added. T must be trivially copyable.
template <typename T>
class ChunkedArray {
 public:
  size_t size() const { return size_; }
  T& operator[](size_t index) { return at(index); }
  const T& operator[](size_t index) const { return const_cast<ChunkedArray*>(this)->at(index); }
  void push_back(const T& value) {
    if (size_ == capacity_) {
      const size_t chunk = kFirstChunk << chunks_.size();
      chunks_.push_back(std::make_unique_for_overwrite<T[]>(chunk));
      capacity_ += chunk;
    }
    at(size_++) = value;
  }

 private:
  static constexpr unsigned kFirstBits = 6;
  static constexpr size_t kFirstChunk = size_t{1} << kFirstBits;
  // Chunk k holds the indexes [kFirstChunk * (2^k - 1), kFirstChunk * (2^(k+1) - 1)).
  T& at(size_t index) {
    const size_t shifted = index + kFirstChunk;
    const unsigned chunk = static_cast<unsigned>(std::bit_width(shifted)) - 1 - kFirstBits;
    return chunks_[chunk][shifted - (kFirstChunk << chunk)];
  }
  std::vector<std::unique_ptr<T[]>> chunks_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

class Utf16WriteDocument final : public port::DomWriteDocument {
 public:
  static std::unique_ptr<Utf16WriteDocument> create();
  ~Utf16WriteDocument() override = default;
  Utf16WriteDocument(const Utf16WriteDocument&) = delete;
  Utf16WriteDocument& operator=(const Utf16WriteDocument&) = delete;

  DWORD appendProcessingInstruction(const wchar_t* target, const wchar_t* data) override;
  DWORD createElement(const wchar_t* name, std::unique_ptr<port::DomWriteElement>* element) override;
  DWORD appendRoot(port::DomWriteElement& element) override;
  DWORD save(const wchar_t* path) override;

 private:
  friend class Utf16WriteElement;
  static constexpr uint32_t kNone = UINT32_MAX;

  // Units [offset, offset + length) of chars_. Plain structs, so that the
  // arrays holding them need not initialise their chunks.
  struct Span {
    uint64_t offset;
    uint64_t length;
  };
  struct Node {
    Span name;
    const wchar_t* text;  // the caller's, or null for none
    uint32_t firstAttribute;
    uint32_t lastAttribute;
    uint32_t firstChild;
    uint32_t lastChild;
    uint32_t nextSibling;
    uint32_t parent;
    bool attached;
  };
  struct Attribute {
    Span name;
    const wchar_t* value;  // the caller's
    uint32_t next;
  };
  // A top-level node after the declaration: the root element or a processing
  // instruction.
  struct TopLevel {
    uint32_t element = kNone;
    Span target{};
    Span data{};
    bool hasData = false;
  };

  Utf16WriteDocument() = default;

  DWORD setAttribute(uint32_t node, const wchar_t* name, const wchar_t* value);
  DWORD setText(uint32_t node, const wchar_t* text);
  DWORD appendChild(uint32_t parent, port::DomWriteElement& child);
  bool appendName(const wchar_t* name, Span* span);
  void rehashNames();
  bool isOurs(port::DomWriteElement& element, uint32_t* node) const;
  bool sameUnits(Span a, Span b) const;
  class Sink;
  void writeElement(uint32_t root, Sink& sink) const;
  void writeDocument(Sink& sink) const;

  Utf16Buffer chars_;
  // Names already converted, so that each distinct name is checked and stored
  // once: an open-addressing table of indexes + 1 into names_ (0 is empty).
  std::vector<Span> names_;
  std::vector<uint32_t> nameSlots_;
  ChunkedArray<Node> nodes_;
  ChunkedArray<Attribute> attributes_;
  std::vector<TopLevel> topLevel_;
  bool hasDeclaration_ = false;
  bool hasRoot_ = false;
};

}  // namespace utils::linuxport
