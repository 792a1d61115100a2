// Fuzz target: loading a document from outside. Whatever the bytes, Load must
// not crash, leak or hang; a document it accepts must save and load back with
// the same shape.
#include "xml/xml_plain_delete.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
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

// Elements and texts, counted without recursion. Attributes are left out: local
// names may repeat ("p:x" and "q:x"), and saving merges repeated names.
size_t shape(XmlObject* root) {
  size_t total = 0;
  std::vector<XmlObject*> pending{root};
  while (!pending.empty()) {
    XmlObject* element = pending.back();
    pending.pop_back();
    total += 1 + static_cast<size_t>(element->HasText()) * 13;
    for (size_t i = 0; i < element->GetChildernNumber(); ++i) pending.push_back(element->GetChild(i));
  }
  return total;
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
  // tree saves whole and loads back with the same elements and texts.
  if (root->Save(saved.c_str()) != 1) std::abort();
  XmlObject* back = nullptr;
  if (XmlObject::Load(saved.c_str(), &back, L"") != OBJECT_ERROR_NONE) std::abort();
  if (shape(back) != shape(root)) std::abort();
  delete back;
  delete root;
  return 0;
}
