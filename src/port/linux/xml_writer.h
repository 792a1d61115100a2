// The writing half of the Linux XML DOM port. The document is recorded as a
// compact tree of indexes: each distinct name is checked and converted to
// UTF-16 once; texts and attribute values are checked when set and kept as the
// caller's strings. Saving walks that tree once, converting and escaping as it
// writes UTF-16 with a byte order mark in large blocks, through a
// FileReplacement (a file beside the target renamed over it, or in place).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "port/xml_dom_port.h"

namespace utils::linuxport {

class Utf16WriteDocument final : public port::DomWriteDocument {
 public:
  static std::unique_ptr<Utf16WriteDocument> create();
  ~Utf16WriteDocument() override = default;
  Utf16WriteDocument(const Utf16WriteDocument&) = delete;
  Utf16WriteDocument& operator=(const Utf16WriteDocument&) = delete;

  // Only the XML declaration is taken (save writes it, naming UTF-16); the
  // library writes no other processing instruction, so none is kept.
  DWORD appendProcessingInstruction(const wchar_t* target, const wchar_t* data) override;
  DWORD createElement(const wchar_t* name, std::unique_ptr<port::DomWriteElement>* element) override;
  DWORD appendRoot(port::DomWriteElement& element) override;
  DWORD save(const wchar_t* path) override;

 private:
  friend class Utf16WriteElement;
  static constexpr uint32_t kNone = UINT32_MAX;

  // A name in UTF-16, owned by names_ (whose nodes never move) or by
  // unsharedNames_.
  using Name = const std::u16string*;
  struct Node {
    Name name;
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
    Name name;
    const wchar_t* value;  // the caller's
    uint32_t next;
  };
  // Hashes the wide names given by callers and the stored ones alike, so that
  // a lookup makes no string. Names are short: FNV-1a over the characters.
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::wstring_view name) const {
      uint64_t hash = 0xCBF29CE484222325;
      for (const wchar_t c : name) hash = (hash ^ static_cast<uint32_t>(c)) * 0x100000001B3;
      return static_cast<size_t>(hash);
    }
  };

  Utf16WriteDocument() = default;

  DWORD setAttribute(uint32_t node, const wchar_t* name, const wchar_t* value);
  DWORD setText(uint32_t node, const wchar_t* text);
  DWORD appendChild(uint32_t parent, port::DomWriteElement& child);
  Name internName(const wchar_t* name);
  bool isOurs(port::DomWriteElement& element, uint32_t* node) const;
  class Sink;
  void writeDocument(Sink& sink) const;
  void writeElements(Sink& sink) const;

  // Each distinct name once, up to a bound; beyond it (a document of
  // generated names) a name is kept once per use.
  std::unordered_map<std::wstring, std::u16string, NameHash, std::equal_to<>> names_;
  std::deque<std::u16string> unsharedNames_;
  std::deque<Node> nodes_;
  std::deque<Attribute> attributes_;
  uint32_t root_ = kNone;
  bool hasDeclaration_ = false;
};

}  // namespace utils::linuxport
