// The flat functions over element handles. Null handles are answered with null,
// zero or nothing instead of being used. No exception leaves them, since their
// callers may be C code: a failure, running out of memory included, gives null,
// 0 or no change.
#include "xml/xml_plain_delete.h"

#include "utils/xml.h"

XmlObject* CreateXmlObject(void) {
  try {
    return new XmlObject();
  } catch (...) {
    return nullptr;
  }
}

void DestroyXmlObject(XmlObject* element) { delete element; }

void AppendXmlAttribute(XmlObject* element, const wchar_t* name, const wchar_t* value) {
  if (element == nullptr) return;
  try {
    element->AppendAttribute(name, value);
  } catch (...) {  // out of memory: the element keeps what it had
  }
}

void AppendXmlChild(XmlObject* element, XmlObject* child) {
  if (element == nullptr) return;
  try {
    element->AppendChild(child);
  } catch (...) {  // out of memory: the element keeps what it had
  }
}

size_t GetXmlAttributeNumber(XmlObject* element) { return element != nullptr ? element->GetAttributeNumber() : 0; }

size_t GetXmlChildernNumber(XmlObject* element) { return element != nullptr ? element->GetChildernNumber() : 0; }

const wchar_t* GetXmlAttributeNameByIndex(XmlObject* element, DWORD index) {
  return element != nullptr ? element->GetAttribute(index).first : nullptr;
}

const wchar_t* GetXmlAttributeValueByIndex(XmlObject* element, DWORD index) {
  return element != nullptr ? element->GetAttribute(index).second : nullptr;
}

XmlObject* GetXmlChildByIndex(XmlObject* element, DWORD index) {
  return element != nullptr ? element->GetChild(index) : nullptr;
}

void SetXmlElementName(XmlObject* element, const wchar_t* name) {
  if (element == nullptr) return;
  try {
    element->SetBasename(name);
  } catch (...) {  // out of memory: the element keeps what it had
  }
}

const wchar_t* GetXmlElementName(XmlObject* element) { return element != nullptr ? element->GetBasename() : nullptr; }

void SetXmlElementNodeText(XmlObject* element, const wchar_t* text) {
  if (element == nullptr) return;
  try {
    element->SetNodeText(text);
  } catch (...) {  // out of memory: the element keeps what it had
  }
}

const wchar_t* GetXmlNodeText(XmlObject* element) { return element != nullptr ? element->GetNodeText() : nullptr; }

int IsXmlNodeHasText(XmlObject* element) { return element != nullptr ? element->HasText() : 0; }

int SaveXmlObject(XmlObject* element, const wchar_t* path) {
  if (element == nullptr) return 0;
  try {
    return element->Save(path);  // virtual: a derived class's Save runs
  } catch (...) {
    return 0;
  }
}

XmlObject* LoadXmlObject(const wchar_t* path, const wchar_t* schemaPath) {
  XmlObject* root = nullptr;
  try {
    if (XmlObject::Load(path, &root, schemaPath) != OBJECT_ERROR_NONE) return nullptr;
  } catch (...) {
    return nullptr;  // Load hands out no tree when it throws
  }
  return root;
}
