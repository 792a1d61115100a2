#include "port/linux/xml_writer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "common/utf16.h"
#include "port/linux/file_replace.h"
#include "xml/xml_chars.h"

namespace utils::linuxport {
namespace {

constexpr DWORD kFail = 0x80004005;         // E_FAIL
constexpr DWORD kInvalidName = 0x80004005;  // E_FAIL, as the DOM answers a bad name
constexpr DWORD kErrorPathNotFound = 3;     // ERROR_PATH_NOT_FOUND

// Where a character goes: in text content, in an attribute value (quoted with
// '"'), or in a name or processing instruction, which are written as they are.
enum class Context { kText, kAttribute, kRaw };

// The reference that stands for c in context, or null when c is written as is.
// White space other than the space is kept as a character reference in
// attribute values, where a reader would otherwise normalise it to a space, and
// a carriage return everywhere, where a reader would fold it into a line feed.
template <Context kContext>
const char* referenceFor(uint32_t c) {
  if constexpr (kContext == Context::kRaw) {
    return nullptr;
  } else {
    switch (c) {
      case '<': return "&lt;";
      case '>': return "&gt;";
      case '&': return "&amp;";
      case '\r': return "&#13;";
      case '"': return kContext == Context::kAttribute ? "&quot;" : nullptr;
      case '\n': return kContext == Context::kAttribute ? "&#10;" : nullptr;
      case '\t': return kContext == Context::kAttribute ? "&#9;" : nullptr;
      default: return nullptr;
    }
  }
}

// What convertBlock found.
enum class BlockEnd { kFull, kEnd, kInvalid };

constexpr size_t kBlock = 4096;                               // wide characters converted at a time
constexpr size_t kBlockRoom = kBlock * sizeof("&quot;") + 2;  // the most units one block can give

// Converts up to kBlock wide characters of *text to UTF-16 at *out, escaped for
// context, advancing both. Stops at the terminating NUL (kEnd) or at a
// character that XML cannot carry (kInvalid): a control character, a lone
// surrogate, U+FFFE, U+FFFF, or a value beyond U+10FFFF.
template <Context kContext>
BlockEnd convertBlock(const wchar_t** text, char16_t** out) {
  const wchar_t* in = *text;
  const wchar_t* const stop = in + kBlock;
  char16_t* to = *out;
  BlockEnd end = BlockEnd::kFull;
  while (in < stop) {
    const uint32_t c = static_cast<uint32_t>(*in);
    if (c > '>' && c < 0xD800) {  // the common case: nothing to check or escape
      *to++ = static_cast<char16_t>(c);
      ++in;
      continue;
    }
    if (c == 0) {
      end = BlockEnd::kEnd;
      break;
    }
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
      end = BlockEnd::kInvalid;
      break;
    }
    ++in;
    if (c < 0xD800) {
      const char* reference = referenceFor<kContext>(c);
      if (reference == nullptr) {
        *to++ = static_cast<char16_t>(c);
      } else {
        while (*reference != 0) *to++ = static_cast<char16_t>(*reference++);
      }
    } else if (c >= 0xE000 && c <= 0xFFFD) {
      *to++ = static_cast<char16_t>(c);
    } else if (c >= 0x10000 && c <= 0x10FFFF) {
      *to++ = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      *to++ = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else if (sizeof(wchar_t) == 2 && c <= 0xDBFF && static_cast<uint32_t>(*in) >= 0xDC00 &&
               static_cast<uint32_t>(*in) <= 0xDFFF) {
      *to++ = static_cast<char16_t>(c);  // a whole pair of 16-bit wide characters
      *to++ = static_cast<char16_t>(*in++);
    } else {
      end = BlockEnd::kInvalid;
      break;
    }
  }
  *text = in;
  *out = to;
  return end;
}

// Appends text to buffer as UTF-16, escaped for context, and gives where it
// went. False, with buffer as it was, when text holds a character that XML
// cannot carry.
template <Context kContext>
bool appendUtf16(Utf16Buffer& buffer, const wchar_t* text, uint64_t* offset, uint64_t* length) {
  const size_t start = buffer.size();
  for (;;) {
    char16_t* const begin = buffer.reserve(kBlockRoom);
    char16_t* out = begin;
    const BlockEnd end = convertBlock<kContext>(&text, &out);
    if (end == BlockEnd::kInvalid) {
      buffer.truncate(start);
      return false;
    }
    buffer.grow(static_cast<size_t>(out - begin));
    if (end == BlockEnd::kEnd) break;
  }
  *offset = start;
  *length = buffer.size() - start;
  return true;
}

}  // namespace

Utf16Buffer::~Utf16Buffer() {
  if (data_ != nullptr) ::munmap(data_, capacity_ * sizeof(char16_t));
}

char16_t* Utf16Buffer::enlarge(size_t extra) {
  constexpr size_t kFirstBytes = 64 * 1024;
  size_t bytes = capacity_ == 0 ? kFirstBytes : capacity_ * sizeof(char16_t);
  while (bytes / sizeof(char16_t) - size_ < extra) {
    if (bytes > SIZE_MAX / 4) throw std::bad_alloc();
    bytes *= 2;
  }
  void* mapped = data_ == nullptr ? ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                  : ::mremap(data_, capacity_ * sizeof(char16_t), bytes, MREMAP_MAYMOVE);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  data_ = static_cast<char16_t*>(mapped);
  capacity_ = bytes / sizeof(char16_t);
  return data_ + size_;
}

// An element handle: an index into its document's nodes.
class Utf16WriteElement final : public port::DomWriteElement {
 public:
  Utf16WriteElement(Utf16WriteDocument& document, uint32_t node) : document_(document), node_(node) {}

  DWORD setAttribute(const wchar_t* name, const wchar_t* value) override {
    return document_.setAttribute(node_, name, value);
  }
  DWORD setText(const wchar_t* text) override { return document_.setText(node_, text); }
  DWORD appendChild(port::DomWriteElement& child) override { return document_.appendChild(node_, child); }

  const Utf16WriteDocument* document() const { return &document_; }
  uint32_t node() const { return node_; }

 private:
  Utf16WriteDocument& document_;
  uint32_t node_;
};

// Collects UTF-16 units into blocks written to a file as little-endian bytes,
// or only counts the bytes when it has no file (fd -1). After the first failed
// write it writes nothing more and keeps the error.
class Utf16WriteDocument::Sink {
 public:
  explicit Sink(int fd) : fd_(fd) {}

  void put(const char16_t* units, size_t count) {
    while (count > 0) {
      const size_t room = kUnits - used_;
      const size_t now = count < room ? count : room;
      std::memcpy(block_ + used_, units, now * sizeof(char16_t));
      used_ += now;
      units += now;
      count -= now;
      if (used_ == kUnits) flush();
    }
  }
  void put(char16_t unit) {
    block_[used_++] = unit;
    if (used_ == kUnits) flush();
  }
  // ASCII text.
  void put(const char* text) {
    while (*text != 0) put(static_cast<char16_t>(*text++));
  }
  // A text or value, already checked, converted and escaped for context.
  template <Context kContext>
  void putEscaped(const wchar_t* text) {
    for (;;) {
      if (kUnits - used_ < kBlockRoom) flush();
      char16_t* out = block_ + used_;
      const BlockEnd end = convertBlock<kContext>(&text, &out);
      used_ = static_cast<size_t>(out - block_);
      if (end != BlockEnd::kFull) break;  // checked when set, so never kInvalid here
    }
  }
  void flush() {
    if constexpr (std::endian::native == std::endian::big) {
      for (size_t i = 0; i < used_; ++i) block_[i] = static_cast<char16_t>((block_[i] >> 8) | (block_[i] << 8));
    }
    const char* bytes = reinterpret_cast<const char*>(block_);
    size_t left = used_ * sizeof(char16_t);
    used_ = 0;
    written_ += left;
    if (fd_ < 0) return;
    while (left > 0 && error_ == 0) {
      const ssize_t written = ::write(fd_, bytes, left);
      if (written < 0) {
        if (errno != EINTR) error_ = errno;
        continue;
      }
      bytes += written;
      left -= static_cast<size_t>(written);
    }
  }
  int error() const { return error_; }
  uint64_t written() const { return written_; }

 private:
  static constexpr size_t kUnits = 64 * 1024;
  static_assert(kUnits >= 2 * kBlockRoom);
  int fd_;
  int error_ = 0;
  uint64_t written_ = 0;
  size_t used_ = 0;
  char16_t block_[kUnits];
};

std::unique_ptr<Utf16WriteDocument> Utf16WriteDocument::create() {
  return std::unique_ptr<Utf16WriteDocument>(new Utf16WriteDocument());
}

namespace {

constexpr size_t kMostNames = 4096;  // beyond this many, names are no longer remembered

uint64_t nameHash(uint64_t hash, uint32_t unit) { return (hash ^ unit) * 0x100000001B3; }
constexpr uint64_t kNameHashStart = 0xCBF29CE484222325;

}  // namespace

// Gives the span of name, checking it as an XML name and converting it the
// first time it is seen; false when it is not an XML name.
bool Utf16WriteDocument::appendName(const wchar_t* name, Span* span) {
  if (name == nullptr) return false;
  // Only names of 16-bit units are remembered, so they compare unit for unit.
  uint64_t hash = kNameHashStart;
  size_t length = 0;
  bool remembered = true;
  for (; name[length] != 0; ++length) {
    const auto unit = static_cast<uint32_t>(name[length]);
    remembered = remembered && unit <= 0xFFFF;
    hash = nameHash(hash, unit);
  }
  if (length == 0) return false;
  size_t slot = 0;
  if (remembered && !nameSlots_.empty()) {
    const size_t mask = nameSlots_.size() - 1;
    for (slot = hash & mask; nameSlots_[slot] != 0; slot = (slot + 1) & mask) {
      const Span& known = names_[nameSlots_[slot] - 1];
      if (known.length != length) continue;
      const char16_t* units = chars_.data() + known.offset;
      size_t i = 0;
      while (i < length && units[i] == static_cast<char16_t>(name[i])) ++i;
      if (i == length) {
        *span = known;
        return true;
      }
    }
  }
  if (!xml::isXmlName(name)) return false;
  appendUtf16<Context::kRaw>(chars_, name, &span->offset, &span->length);
  if (remembered && names_.size() < kMostNames) {
    names_.push_back(*span);
    if (names_.size() * 2 > nameSlots_.size()) {
      rehashNames();
    } else {
      nameSlots_[slot] = static_cast<uint32_t>(names_.size());
    }
  }
  return true;
}

void Utf16WriteDocument::rehashNames() {
  nameSlots_.assign(nameSlots_.empty() ? 64 : nameSlots_.size() * 2, 0);
  const size_t mask = nameSlots_.size() - 1;
  for (size_t index = 0; index < names_.size(); ++index) {
    uint64_t hash = kNameHashStart;
    const char16_t* units = chars_.data() + names_[index].offset;
    for (size_t i = 0; i < names_[index].length; ++i) hash = nameHash(hash, units[i]);
    size_t slot = hash & mask;
    while (nameSlots_[slot] != 0) slot = (slot + 1) & mask;
    nameSlots_[slot] = static_cast<uint32_t>(index + 1);
  }
}

bool Utf16WriteDocument::isOurs(port::DomWriteElement& element, uint32_t* node) const {
  const auto* ours = dynamic_cast<const Utf16WriteElement*>(&element);
  if (ours == nullptr || ours->document() != this) return false;
  *node = ours->node();
  return true;
}

bool Utf16WriteDocument::sameUnits(Span a, Span b) const {
  if (a.offset == b.offset) return a.length == b.length;
  return a.length == b.length &&
         std::memcmp(chars_.data() + a.offset, chars_.data() + b.offset, a.length * sizeof(char16_t)) == 0;
}

DWORD Utf16WriteDocument::appendProcessingInstruction(const wchar_t* target, const wchar_t* data) {
  if (target == nullptr || !xml::isXmlName(target)) return kFail;
  // The XML declaration is written by save itself, always naming UTF-16, so it
  // is only noted here; it must come first.
  if (std::wcscmp(target, L"xml") == 0) {
    if (hasDeclaration_ || !topLevel_.empty()) return kFail;
    hasDeclaration_ = true;
    return 0;
  }
  // Data that ends the instruction early, or that XML cannot carry, would make
  // the document unreadable.
  if (data != nullptr && std::wcsstr(data, L"?>") != nullptr) return kFail;
  TopLevel instruction;
  const size_t mark = chars_.size();
  appendUtf16<Context::kRaw>(chars_, target, &instruction.target.offset, &instruction.target.length);
  if (data != nullptr) {
    if (!appendUtf16<Context::kRaw>(chars_, data, &instruction.data.offset, &instruction.data.length)) {
      chars_.truncate(mark);
      return kFail;
    }
    instruction.hasData = true;
  }
  topLevel_.push_back(instruction);
  return 0;
}

DWORD Utf16WriteDocument::createElement(const wchar_t* name, std::unique_ptr<port::DomWriteElement>* element) {
  if (nodes_.size() >= kNone) throw std::bad_alloc();
  Node node{};
  if (!appendName(name, &node.name)) return kInvalidName;
  node.firstAttribute = node.lastAttribute = node.firstChild = node.lastChild = kNone;
  node.nextSibling = node.parent = kNone;
  const auto index = static_cast<uint32_t>(nodes_.size());
  auto handle = std::make_unique<Utf16WriteElement>(*this, index);
  nodes_.push_back(node);
  *element = std::move(handle);
  return 0;
}

DWORD Utf16WriteDocument::setAttribute(uint32_t index, const wchar_t* name, const wchar_t* value) {
  if (value == nullptr) return kInvalidName;
  Attribute attribute{};
  attribute.next = kNone;
  if (!appendName(name, &attribute.name) || !xml::isXmlText(value)) return kInvalidName;
  attribute.value = value;
  Node& node = nodes_[index];
  // One of the same name keeps its place and takes the new value.
  for (uint32_t at = node.firstAttribute; at != kNone; at = attributes_[at].next) {
    if (sameUnits(attributes_[at].name, attribute.name)) {
      attributes_[at].value = attribute.value;
      return 0;
    }
  }
  if (attributes_.size() >= kNone) throw std::bad_alloc();
  const auto added = static_cast<uint32_t>(attributes_.size());
  attributes_.push_back(attribute);
  if (node.lastAttribute == kNone) {
    node.firstAttribute = added;
  } else {
    attributes_[node.lastAttribute].next = added;
  }
  node.lastAttribute = added;
  return 0;
}

DWORD Utf16WriteDocument::setText(uint32_t index, const wchar_t* text) {
  if (text == nullptr) return kFail;
  if (!xml::isXmlText(text)) return kFail;
  // The text replaces the whole content, child elements included.
  Node& node = nodes_[index];
  node.text = text;
  node.firstChild = kNone;
  node.lastChild = kNone;
  return 0;
}

DWORD Utf16WriteDocument::appendChild(uint32_t parent, port::DomWriteElement& child) {
  uint32_t index = kNone;
  if (!isOurs(child, &index) || nodes_[index].attached) return kFail;
  // Refuses a child that is the parent or one of its ancestors. Elements are
  // normally attached only once complete, so the parent has no ancestors yet.
  for (uint32_t at = parent; at != kNone; at = nodes_[at].parent) {
    if (at == index) return kFail;
  }
  Node& added = nodes_[index];
  added.attached = true;
  added.parent = parent;
  Node& above = nodes_[parent];
  if (above.lastChild == kNone) {
    above.firstChild = index;
  } else {
    nodes_[above.lastChild].nextSibling = index;
  }
  above.lastChild = index;
  return 0;
}

DWORD Utf16WriteDocument::appendRoot(port::DomWriteElement& element) {
  uint32_t index = kNone;
  if (!isOurs(element, &index) || nodes_[index].attached || hasRoot_) return kFail;
  nodes_[index].attached = true;
  hasRoot_ = true;
  TopLevel root;
  root.element = index;
  topLevel_.push_back(root);
  return 0;
}

void Utf16WriteDocument::writeElement(uint32_t root, Sink& sink) const {
  // Walks the subtree without recursion: above holds the open elements whose
  // end tags are still to come.
  std::vector<uint32_t> above;
  uint32_t at = root;
  for (;;) {
    const Node& node = nodes_[at];
    const char16_t* units = chars_.data();
    sink.put(u'<');
    sink.put(units + node.name.offset, node.name.length);
    for (uint32_t a = node.firstAttribute; a != kNone; a = attributes_[a].next) {
      const Attribute& attribute = attributes_[a];
      sink.put(u' ');
      sink.put(units + attribute.name.offset, attribute.name.length);
      sink.put("=\"");
      sink.putEscaped<Context::kAttribute>(attribute.value);
      sink.put(u'"');
    }
    if (node.text == nullptr && node.firstChild == kNone) {
      sink.put("/>");
    } else {
      sink.put(u'>');
      if (node.text != nullptr) sink.putEscaped<Context::kText>(node.text);
      if (node.firstChild != kNone) {
        above.push_back(at);
        at = node.firstChild;
        continue;
      }
      sink.put("</");
      sink.put(units + node.name.offset, node.name.length);
      sink.put(u'>');
    }
    // Done with at: on to its next sibling, closing the elements it ends.
    for (;;) {
      if (above.empty()) return;
      if (nodes_[at].nextSibling != kNone) {
        at = nodes_[at].nextSibling;
        break;
      }
      at = above.back();
      above.pop_back();
      sink.put("</");
      sink.put(units + nodes_[at].name.offset, nodes_[at].name.length);
      sink.put(u'>');
    }
  }
}

void Utf16WriteDocument::writeDocument(Sink& sink) const {
  sink.put(u'\uFEFF');
  sink.put("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n");
  for (const TopLevel& node : topLevel_) {
    if (node.element != kNone) {
      writeElement(node.element, sink);
    } else {
      sink.put("<?");
      sink.put(chars_.data() + node.target.offset, node.target.length);
      if (node.hasData) {
        sink.put(u' ');
        sink.put(chars_.data() + node.data.offset, node.data.length);
      }
      sink.put("?>");
    }
    sink.put(u'\n');
  }
  sink.flush();
}

DWORD Utf16WriteDocument::save(const wchar_t* path) {
  if (path == nullptr || *path == 0) return kErrorPathNotFound;
  FileReplacement file;
  DWORD status = file.begin(wideToUtf8(path));
  if (status != 0) return status;
  if (file.inPlace()) {
    // The old content is overwritten only once room for the new one is sure.
    auto counter = std::make_unique<Sink>(-1);
    writeDocument(*counter);
    status = file.reserve(counter->written());
    if (status != 0) return status;
  }
  auto sink = std::make_unique<Sink>(file.fd());
  writeDocument(*sink);
  if (sink->error() != 0) return fileErrorToWin32(sink->error());
  return file.commit(sink->written());
}

}  // namespace utils::linuxport
