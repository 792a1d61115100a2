// The flat functions over element handles. Null handles are answered with null,
// zero or nothing instead of being used.
#include "xml/xml_plain_delete.h"

#include "utils/xml.h"

XmlObject* CreateXmlObject(void) { return new XmlObject(); }

void DestroyXmlObject(XmlObject* element) { delete element; }

void AppendXmlAttribute(XmlObject* element, const wchar_t* name, const wchar_t* value) {
  if (element != nullptr) element->AppendAttribute(name, value);
}

void AppendXmlChild(XmlObject* element, XmlObject* child) {
  if (element != nullptr) element->AppendChild(child);
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
  if (element != nullptr) element->SetBasename(name);
}

const wchar_t* GetXmlElementName(XmlObject* element) { return element != nullptr ? element->GetBasename() : nullptr; }

void SetXmlElementNodeText(XmlObject* element, const wchar_t* text) {
  if (element != nullptr) element->SetNodeText(text);
}

const wchar_t* GetXmlNodeText(XmlObject* element) { return element != nullptr ? element->GetNodeText() : nullptr; }

int IsXmlNodeHasText(XmlObject* element) { return element != nullptr ? element->HasText() : 0; }

int SaveXmlObject(XmlObject* element, const wchar_t* path) {
  return element != nullptr ? element->Save(path) : 0;  // virtual: a derived class's Save runs
}

XmlObject* LoadXmlObject(const wchar_t* path, const wchar_t* schemaPath) {
  XmlObject* root = nullptr;
  XmlObject::Load(path, &root, schemaPath);
  return root;
}
