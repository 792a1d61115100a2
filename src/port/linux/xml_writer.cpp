#include "port/linux/xml_writer.h"

#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "common/utf16.h"
#include "port/linux/file_calls.h"
#include "port/linux/file_replace.h"
#include "xml/xml_chars.h"

namespace utils::linuxport {
namespace {

constexpr DWORD kFail = 0x80004005;         // E_FAIL
constexpr DWORD kInvalidName = 0x80004005;  // E_FAIL, as the DOM answers a bad name
constexpr DWORD kErrorPathNotFound = 3;     // ERROR_PATH_NOT_FOUND

// Where a character goes: in text content or in an attribute value (quoted
// with '"').
enum class Context { kText, kAttribute };

// The reference that stands for c in context, or null when c is written as is.
// White space other than the space is kept as a character reference in
// attribute values, where a reader would otherwise normalise it to a space, and
// a carriage return everywhere, where a reader would fold it into a line feed.
template <Context kContext>
const char* referenceFor(uint32_t c) {
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

}  // namespace

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
  void put(const std::u16string& units) { put(units.data(), units.size()); }
  void putEndTag(const std::u16string& name) {
    put(u'<');
    put(u'/');
    put(name);
    put(u'>');
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
      const ssize_t written = filecalls::write(fd_, bytes, left);
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

constexpr size_t kMostNames = 4096;  // beyond this many, names are no longer shared

}  // namespace

// The UTF-16 form of name, converted the first time it is seen; null when
// name is not an XML name. An XML name holds nothing to escape.
Utf16WriteDocument::Name Utf16WriteDocument::internName(const wchar_t* name) {
  if (name == nullptr) return nullptr;
  const std::wstring_view wide(name);
  if (const auto known = names_.find(wide); known != names_.end()) return &known->second;
  if (!xml::isXmlName(name)) return nullptr;
  if (names_.size() < kMostNames) return &names_.emplace(wide, wideToUtf16(wide)).first->second;
  return &unsharedNames_.emplace_back(wideToUtf16(wide));
}

bool Utf16WriteDocument::isOurs(port::DomWriteElement& element, uint32_t* node) const {
  const auto* ours = dynamic_cast<const Utf16WriteElement*>(&element);
  if (ours == nullptr || ours->document() != this) return false;
  *node = ours->node();
  return true;
}

DWORD Utf16WriteDocument::appendProcessingInstruction(const wchar_t* target, const wchar_t* /*data*/) {
  // The XML declaration is written by save itself, always naming UTF-16, so it
  // is only noted here; it must come first and only once.
  if (target == nullptr || std::wcscmp(target, L"xml") != 0) return kFail;
  if (hasDeclaration_ || root_ != kNone) return kFail;
  hasDeclaration_ = true;
  return 0;
}

DWORD Utf16WriteDocument::createElement(const wchar_t* name, std::unique_ptr<port::DomWriteElement>* element) {
  if (nodes_.size() >= kNone) throw std::bad_alloc();
  Node node{};
  node.name = internName(name);
  if (node.name == nullptr) return kInvalidName;
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
  attribute.name = internName(name);
  if (attribute.name == nullptr || !xml::isXmlText(value)) return kInvalidName;
  attribute.value = value;
  Node& node = nodes_[index];
  // One of the same name keeps its place and takes the new value.
  for (uint32_t at = node.firstAttribute; at != kNone; at = attributes_[at].next) {
    if (*attributes_[at].name == *attribute.name) {
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
  if (!isOurs(element, &index) || nodes_[index].attached || root_ != kNone) return kFail;
  nodes_[index].attached = true;
  root_ = index;
  return 0;
}

void Utf16WriteDocument::writeDocument(Sink& sink) const {
  sink.put(u'\uFEFF');
  sink.put("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n");
  if (root_ != kNone) {
    writeElements(sink);
    sink.put(u'\n');
  }
  sink.flush();
}

void Utf16WriteDocument::writeElements(Sink& sink) const {
  // Walks the tree without recursion: above holds the open elements whose end
  // tags are still to come.
  std::vector<uint32_t> above;
  uint32_t at = root_;
  for (;;) {
    const Node& node = nodes_[at];
    sink.put(u'<');
    sink.put(*node.name);
    for (uint32_t a = node.firstAttribute; a != kNone; a = attributes_[a].next) {
      const Attribute& attribute = attributes_[a];
      sink.put(u' ');
      sink.put(*attribute.name);
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
      sink.putEndTag(*node.name);
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
      sink.putEndTag(*nodes_[at].name);
    }
  }
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
