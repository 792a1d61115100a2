// The element tree: owned string copies, attribute and child lists.
#include "xml/xml_plain_delete.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "port/object_heap.h"
#include "utils/xml.h"

namespace {

// A fresh copy of text (length + 1 characters), or null for null.
wchar_t* copyString(const wchar_t* text) {
  if (text == nullptr) return nullptr;
  const size_t length = std::wcslen(text);
  auto* copy = new wchar_t[length + 1];
  std::wmemcpy(copy, text, length + 1);
  return copy;
}

// Stores a copy of value in *slot unless value is the very pointer held. The copy
// is made before the old value is released, so value may point into it.
void replaceString(wchar_t** slot, const wchar_t* value) {
  if (value == *slot) return;
  wchar_t* copy = copyString(value);
  delete[] * slot;
  *slot = copy;
}

// An element's child list, and the element whose child list holds the element.
// The class's layout has no room for the parent link, so it lives in the child
// list's block, which the element owns for its whole life.
struct ChildList : std::vector<XmlObject*> {
  XmlObject* parent = nullptr;
};

}  // namespace

struct XmlObjectInternals {
  static ChildList& childList(const XmlObject* element) { return *static_cast<ChildList*>(element->children_); }
  static XmlObject*& parentOf(const XmlObject* element) { return childList(element).parent; }
  static bool isSelfOrAncestor(const XmlObject* node, const XmlObject* element);
  static void detachChild(XmlObject* parent, XmlObject* child);
  static void destroyChildren(XmlObject* parent) noexcept;
};

void* XmlObject::operator new(size_t size) { return utils::port::allocateSharedObject(size); }

void XmlObject::operator delete(void* block) noexcept { utils::port::freeSharedObject(block); }

XmlObject::XmlObject() : XmlObject(nullptr) {}

XmlObject::XmlObject(const wchar_t* name) : attributes_(new std::vector<Attribute>), children_(new ChildList) {
  try {
    baseName_ = copyString(name);
  } catch (...) {
    delete attributes_;
    delete static_cast<ChildList*>(children_);
    throw;
  }
}

XmlObject::~XmlObject() {
  if (XmlObject* parent = XmlObjectInternals::parentOf(this)) XmlObjectInternals::detachChild(parent, this);
  XmlObjectInternals::destroyChildren(this);
  for (auto& [name, value] : *attributes_) {
    delete[] name;
    delete[] value;
  }
  delete attributes_;
  delete static_cast<ChildList*>(children_);
  delete[] baseName_;
  delete[] nodeText_;
}

void XmlObjectInternals::destroyChildren(XmlObject* parent) noexcept {
  // Without recursion, so a tree of any depth is destroyed on a small stack: the
  // descendants are gathered in a list of their own, each one's children moved
  // out before it is deleted.
  std::vector<XmlObject*> pending;
  pending.swap(*parent->children_);
  while (!pending.empty()) {
    XmlObject* element = pending.back();
    pending.pop_back();
    if (element == nullptr) continue;
    parentOf(element) = nullptr;
    try {
      pending.insert(pending.end(), element->children_->begin(), element->children_->end());
    } catch (const std::bad_alloc&) {
      delete element;  // no memory for a longer list: this subtree goes by recursion
      continue;
    }
    for (XmlObject* child : *element->children_) {
      if (child != nullptr) parentOf(child) = nullptr;
    }
    element->children_->clear();
    delete element;
  }
}

void XmlObjectInternals::detachChild(XmlObject* parent, XmlObject* child) {
  std::vector<XmlObject*>& children = *parent->children_;
  auto it = std::find(children.begin(), children.end(), child);
  if (it != children.end()) children.erase(it);
  parentOf(child) = nullptr;
}

void XmlObject::SetBasename(const wchar_t* name) { replaceString(&baseName_, name); }

const wchar_t* XmlObject::GetBasename() { return baseName_; }

void XmlObject::SetNodeText(const wchar_t* text) {
  if (text == nodeText_) return;
  replaceString(&nodeText_, text);
  hasText_ = nodeText_ != nullptr ? 1 : 0;
}

const wchar_t* XmlObject::GetNodeText() { return nodeText_; }

int XmlObject::HasText() { return hasText_; }

void XmlObject::AppendAttribute(const wchar_t* name, const wchar_t* value) {
  if (name == nullptr || value == nullptr) return;
  wchar_t* nameCopy = copyString(name);
  wchar_t* valueCopy = nullptr;
  try {
    valueCopy = copyString(value);
    attributes_->emplace_back(nameCopy, valueCopy);
  } catch (...) {
    delete[] nameCopy;
    delete[] valueCopy;
    throw;
  }
}

size_t XmlObject::GetAttributeNumber() { return attributes_->size(); }

std::pair<const wchar_t*, const wchar_t*> XmlObject::GetAttribute(size_t index) {
  if (index >= attributes_->size()) return {nullptr, nullptr};
  const Attribute& attribute = (*attributes_)[index];
  return {attribute.first, attribute.second};
}

bool XmlObjectInternals::isSelfOrAncestor(const XmlObject* start, const XmlObject* element) {
  for (const XmlObject* node = start; node != nullptr; node = parentOf(node)) {
    if (node == element) return true;
  }
  return false;
}

void XmlObject::AppendChild(XmlObject* child) {
  if (child == nullptr || child == this || XmlObjectInternals::parentOf(child) != nullptr) return;
  // Only an element with children can be an ancestor of this one.
  if (!child->children_->empty() && XmlObjectInternals::isSelfOrAncestor(this, child)) return;
  children_->push_back(child);
  XmlObjectInternals::parentOf(child) = this;
}

size_t XmlObject::GetChildernNumber() { return children_->size(); }

XmlObject* XmlObject::GetChild(size_t index) { return index < children_->size() ? (*children_)[index] : nullptr; }
