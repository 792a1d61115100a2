// Fuzz target: loading a document from outside. Whatever the bytes, Load must
// not crash, leak or hang; a document it accepts must save and load back as
// the same tree: names, texts, attributes and order.
#include "xml/xml_plain_delete.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "port/linux/xml_dom.h"
#include "port/platform.h"
#include "utils/xml.h"

namespace {

std::wstring scratchPath(const char* suffix) {
  const char* folder = std::getenv("TMPDIR");
  std::string path = std::string(folder != nullptr ? folder : "/tmp") + "/xml_load_fuzz_" + std::to_string(getpid());
  path += suffix;
  return std::wstring(path.begin(), path.end());
}

bool same(const wchar_t* a, const wchar_t* b) {
  return (a == nullptr || b == nullptr) ? a == b : std::wcscmp(a, b) == 0;
}

// The attributes as a save writes them: one per name, at the place of its first
// occurrence, with the value of its last (local names may repeat, as "x" of
// "p:x" and "q:x", and the document keeps one attribute per name).
std::vector<std::pair<std::wstring, std::wstring>> savedAttributes(XmlObject* element) {
  std::vector<std::pair<std::wstring, std::wstring>> merged;
  for (size_t i = 0; i < element->GetAttributeNumber(); ++i) {
    const std::pair<const wchar_t*, const wchar_t*> attribute = element->GetAttribute(i);
    const std::wstring name = attribute.first, value = attribute.second;
    auto known = std::find_if(merged.begin(), merged.end(), [&](const auto& entry) { return entry.first == name; });
    if (known != merged.end()) {
      known->second = value;
    } else {
      merged.emplace_back(name, value);
    }
  }
  return merged;
}

// Whether two trees hold the same elements in the same order with the same
// names, texts and attributes, compared without recursion.
bool sameTree(XmlObject* original, XmlObject* reloaded) {
  std::vector<std::pair<XmlObject*, XmlObject*>> pending{{original, reloaded}};
  while (!pending.empty()) {
    auto [a, b] = pending.back();
    pending.pop_back();
    if (!same(a->GetBasename(), b->GetBasename()) || a->HasText() != b->HasText()) return false;
    if (a->HasText() && !same(a->GetNodeText(), b->GetNodeText())) return false;
    if (savedAttributes(a) != savedAttributes(b)) return false;
    if (a->GetChildernNumber() != b->GetChildernNumber()) return false;
    for (size_t i = 0; i < a->GetChildernNumber(); ++i) pending.emplace_back(a->GetChild(i), b->GetChild(i));
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static utils::linuxport::LibxmlDom dom;
  static const bool installed = [] {
    utils::port::Platform record;
    record.xmlDom = &dom;
    utils::port::installPlatform(record);
    return true;
  }();
  (void)installed;
  static const std::wstring input = scratchPath(".xml");
  static const std::wstring saved = scratchPath(".saved.xml");
  {
    std::ofstream out(std::string(input.begin(), input.end()), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  XmlObject* root = nullptr;
  if (XmlObject::Load(input.c_str(), &root, L"") != OBJECT_ERROR_NONE) {
    if (root != nullptr) std::abort();  // *out must stay untouched on failure
    return 0;
  }
  // Every name read is a local name and every text holds XML characters, so the
  // tree saves whole and loads back the same.
  if (root->Save(saved.c_str()) != 1) std::abort();
  XmlObject* back = nullptr;
  if (XmlObject::Load(saved.c_str(), &back, L"") != OBJECT_ERROR_NONE) std::abort();
  if (!sameTree(root, back)) std::abort();
  delete back;
  delete root;
  return 0;
}
