// A caller of utils.dll built for Microsoft's ABI (clang targeting MSVC, linked
// by lld-link against an import library made from the .def file), without a C
// runtime: its new and delete are the process heap's, as those of a program
// built with Microsoft's compiler and its universal C runtime are. It uses the
// XmlObject class directly, derives from it, and hands elements to the library
// and back. Exit code 0 when every check holds; each failed check prints a line.
#include <windows.h>

#include "utils/xml.h"

// Elements are deleted as plain XmlObjects on purpose (destruction is not virtual).
#pragma clang diagnostic ignored "-Wdelete-non-abstract-non-virtual-dtor"

static_assert(sizeof(XmlObject) == 48, "the class keeps its 48-byte layout");

namespace {

int failures = 0;

void print(const char* text) {
  DWORD written = 0;
  DWORD length = 0;
  while (text[length] != '\0') ++length;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, length, &written, nullptr);
}

void check(bool condition, const char* what) {
  if (condition) return;
  ++failures;
  print("FAILED: ");
  print(what);
  print("\n");
}

bool same(const wchar_t* left, const wchar_t* right) {
  if (left == nullptr || right == nullptr) return left == right;
  while (*left != 0 && *left == *right) ++left, ++right;
  return *left == *right;
}

// A class of this module with fields of its own after the library's, and its own
// way of saving.
class CountingElement : public XmlObject {
 public:
  explicit CountingElement(const wchar_t* name) : XmlObject(name) {}
  int Save(const wchar_t* path) override {
    ++saves;
    lastPath = path;
    return 7;
  }
  unsigned guard = 0x5AFE5AFEu;
  int saves = 0;
  const wchar_t* lastPath = nullptr;
  unsigned tail = 0xC0DEC0DEu;
};

void checkMembers() {
  // The module's own heap (global new, not the class's): the library frees it.
  XmlObject* root = ::new XmlObject(L"root");
  check(same(root->GetBasename(), L"root"), "constructor with a name");
  root->SetBasename(L"settings");
  check(same(root->GetBasename(), L"settings"), "SetBasename / GetBasename");
  root->SetNodeText(L"t");
  check(root->HasText() == 1 && same(root->GetNodeText(), L"t"), "SetNodeText / GetNodeText / HasText");

  root->AppendAttribute(L"a", L"1");
  root->AppendAttribute(L"b", L"2");
  check(root->GetAttributeNumber() == 2, "GetAttributeNumber");
  std::pair<const wchar_t*, const wchar_t*> second = root->GetAttribute(1);
  check(same(second.first, L"b") && same(second.second, L"2"), "GetAttribute returns the pair by value");

  XmlObject* plain = new XmlObject();  // the class's own new
  plain->SetBasename(L"plain");
  root->AppendChild(plain);
  auto* counting = ::new CountingElement(L"custom");
  counting->AppendAttribute(L"kind", L"derived");
  counting->SetNodeText(L"text of a derived element");
  root->AppendChild(counting);
  check(root->GetChildernNumber() == 2, "GetChildernNumber");
  check(root->GetChild(0) == plain && root->GetChild(1) == counting && root->GetChild(2) == nullptr, "GetChild");
  check(counting->guard == 0x5AFE5AFEu && counting->tail == 0xC0DEC0DEu,
        "the library leaves a derived class's own fields alone");

  check(SaveXmlObject(counting, L"ignored.xml") == 7 && counting->saves == 1, "SaveXmlObject reaches the override");
  check(same(counting->lastPath, L"ignored.xml"), "the override receives the path");
  check(static_cast<XmlObject*>(counting)->Save(L"x.xml") == 7 && counting->saves == 2, "virtual Save");

  // Destroying the root frees the children made here (on this module's heap).
  ::delete root;
}

void checkLoadAndSave() {
  const wchar_t* path = L"utils-msvc-caller.xml";  // in the working folder, the build's
  XmlObject* tree = ::new XmlObject(L"devices");
  XmlObject* device = new XmlObject(L"device");
  device->AppendAttribute(L"address", L"00:11:22:33:44:55");
  tree->AppendChild(device);
  check(tree->Save(path) == 1, "Save writes the file");
  ::delete tree;

  XmlObject* loaded = nullptr;
  check(XmlObject::Load(path, &loaded, nullptr) == OBJECT_ERROR_NONE && loaded != nullptr, "Load reads it back");
  if (loaded != nullptr) {
    check(same(loaded->GetBasename(), L"devices") && loaded->GetChildernNumber() == 1, "the loaded root");
    XmlObject* child = loaded->GetChild(0);
    check(child != nullptr && same(child->GetAttribute(0).second, L"00:11:22:33:44:55"), "the loaded attribute");
    // The library made these elements; this module frees them with its delete.
    ::delete loaded;
  }
  XmlObject* flat = LoadXmlObject(path, nullptr);
  check(flat != nullptr && GetXmlChildernNumber(flat) == 1, "LoadXmlObject");
  DestroyXmlObject(flat);
  DeleteFileW(path);
}

void checkEntriesByName() {
  HMODULE library = GetModuleHandleW(L"utils.dll");
  check(library != nullptr, "utils.dll is loaded");
  if (library == nullptr) return;

  // The default-construction entry constructs an unnamed element in place.
  using Construct = void (*)(XmlObject*);
  auto construct = reinterpret_cast<Construct>(GetProcAddress(library, "??_FXmlObject@@QEAAXXZ"));
  check(construct != nullptr, "the default-construction entry is exported");
  if (construct != nullptr) {
    void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(XmlObject));
    auto* element = static_cast<XmlObject*>(block);
    construct(element);
    check(element->GetBasename() == nullptr && element->GetChildernNumber() == 0, "default-constructed element");
    element->SetBasename(L"in place");
    element->~XmlObject();
    HeapFree(GetProcessHeap(), 0, block);
  }

  // The exported virtual table holds the library's Save, as an element's own does.
  auto* table = reinterpret_cast<void* const*>(GetProcAddress(library, "??_7XmlObject@@6B@"));
  check(table != nullptr, "the virtual table is exported");
  XmlObject* element = new XmlObject(L"e");
  void* const* own = *reinterpret_cast<void* const* const*>(element);
  check(table != nullptr && table[0] == own[0], "the exported table's Save is the element's");
  delete element;
}

}  // namespace

// Without a C runtime: the heap, the entry point and the few helpers the compiler
// may call.
void* operator new(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size != 0 ? size : 1); }
void operator delete(void* block) noexcept { HeapFree(GetProcessHeap(), 0, block); }
void operator delete(void* block, size_t) noexcept { HeapFree(GetProcessHeap(), 0, block); }

extern "C" void* memset(void* target, int value, size_t size) {
  auto* bytes = static_cast<volatile unsigned char*>(target);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(value);
  return target;
}

extern "C" void* memcpy(void* target, const void* source, size_t size) {
  auto* to = static_cast<volatile unsigned char*>(target);
  const auto* from = static_cast<const unsigned char*>(source);
  for (size_t i = 0; i < size; ++i) to[i] = from[i];
  return target;
}

extern "C" int _fltused = 0;

extern "C" void mainCRTStartup() {
  checkMembers();
  checkLoadAndSave();
  checkEntriesByName();
  check(HeapValidate(GetProcessHeap(), 0, nullptr) != 0, "the process heap is intact");
  print(failures == 0 ? "msvc caller: all checks passed\n" : "msvc caller: failures\n");
  ExitProcess(failures == 0 ? 0 : 1);
}
