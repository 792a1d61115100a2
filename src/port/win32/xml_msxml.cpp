#include "port/win32/xml_msxml.h"

#include <windows.h>
// after windows.h
#include <msxml2.h>
#include <objbase.h>
#include <oleauto.h>

#include <new>
#include <string>
#include <vector>

#include "port/win32/save_target.h"
#include "xml/xml_chars.h"

namespace utils::win32port {
namespace {

using port::DomChildKind;
using port::XmlLoadStep;

// The version-6 classes and two interfaces that the toolchain's headers lack.
const CLSID kDomDocument60 = {0x88D96A05, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};
const CLSID kXmlSchemaCache60 = {0x88D96A07, 0xF192, 0x11D4, {0xA6, 0x5F, 0x00, 0x40, 0x96, 0x32, 0x51, 0xE5}};
const IID kIXmlDomDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIXmlDomSchemaCollection = {0x373984C8, 0xB845, 0x449B, {0x91, 0xE7, 0x45, 0xAC, 0x83, 0x03, 0x6A, 0xDE}};

constexpr DWORD kFail = static_cast<DWORD>(E_FAIL);

// COM for the calling thread while it lives. A thread already in another
// concurrency model keeps it (MSXML works in both) and is not uninitialised.
class ComScope {
 public:
  ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT result_;
};

template <typename T>
class Com {
 public:
  Com() = default;
  ~Com() { reset(); }
  Com(Com&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  Com& operator=(Com&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  void reset() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
  }
  T** out() {
    reset();
    return &p_;
  }
  void** outVoid() { return reinterpret_cast<void**>(out()); }
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// A BSTR owned for its scope; allocation failure throws.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const wchar_t* text) : b_(SysAllocString(text)) {
    if (b_ == nullptr && text != nullptr) throw std::bad_alloc();
  }
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return b_; }
  BSTR* out() {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }

 private:
  BSTR b_ = nullptr;
};

VARIANT stringVariant(const Bstr& text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = text.get();
  return v;
}

VARIANT dispatchVariant(IUnknown* object) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_DISPATCH;
  v.pdispVal = reinterpret_cast<IDispatch*>(object);  // the DOM interfaces derive from IDispatch
  return v;
}

VARIANT boolVariant(bool value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

bool loadInto(IXMLDOMDocument2* document, const wchar_t* path) {
  Bstr pathText(path);
  VARIANT source = stringVariant(pathText);
  VARIANT_BOOL success = VARIANT_FALSE;
  const HRESULT hr = document->load(source, &success);
  return SUCCEEDED(hr) && success == VARIANT_TRUE;
}

class MsxmlReader final : public port::DomReader {
 public:
  XmlLoadStep open(const wchar_t* path, const wchar_t* schemaPath) {
    Com<IXMLDOMSchemaCollection> cache;
    if (schemaPath != nullptr && *schemaPath != 0) {
      Com<IXMLDOMDocument2> schemaDocument;
      if (FAILED(CoCreateInstance(kDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIXmlDomDocument2,
                                  schemaDocument.outVoid()))) {
        return XmlLoadStep::kCreateDocument;
      }
      schemaDocument->put_async(VARIANT_FALSE);
      schemaDocument->put_resolveExternals(VARIANT_FALSE);
      if (!loadInto(schemaDocument.get(), schemaPath)) return XmlLoadStep::kLoadSchema;
      if (FAILED(CoCreateInstance(kXmlSchemaCache60, nullptr, CLSCTX_INPROC_SERVER, kIXmlDomSchemaCollection,
                                  cache.outVoid()))) {
        return XmlLoadStep::kCreateSchemaCache;
      }
      Bstr noNamespace(L"");
      if (FAILED(cache->add(noNamespace.get(), dispatchVariant(schemaDocument.get())))) return XmlLoadStep::kAddSchema;
    }
    if (FAILED(
            CoCreateInstance(kDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIXmlDomDocument2, document_.outVoid()))) {
      return XmlLoadStep::kCreateDocument;
    }
    document_->put_validateOnParse(VARIANT_FALSE);
    document_->put_resolveExternals(VARIANT_FALSE);
    Bstr prohibitDtd(L"ProhibitDTD");
    document_->setProperty(prohibitDtd.get(), boolVariant(false));
    if (cache) document_->putref_schemas(dispatchVariant(cache.get()));
    // Always synchronous: the walk below needs the whole document.
    document_->put_async(VARIANT_FALSE);
    if (!loadInto(document_.get(), path)) return XmlLoadStep::kLoadDocument;
    if (cache) {
      Com<IXMLDOMParseError> error;
      if (document_->validate(error.out()) == S_FALSE) return XmlLoadStep::kValidate;
    }
    // The document element, which is the last top-level node in the ordinary case.
    Com<IXMLDOMElement> root;
    if (FAILED(document_->get_documentElement(root.out())) || !root) return XmlLoadStep::kRootNode;
    Frame frame;
    if (FAILED(root->QueryInterface(IID_IXMLDOMNode, frame.node.outVoid()))) return XmlLoadStep::kRootNode;
    frames_.push_back(std::move(frame));
    return XmlLoadStep::kNone;
  }

  DWORD baseName(int depth, const wchar_t** name) override {
    Frame* frame = at(depth);
    if (frame == nullptr) return kFail;
    Bstr text;
    if (FAILED(frame->node->get_baseName(text.out()))) return kFail;
    if (text.get() == nullptr) {
      *name = nullptr;
      return 0;
    }
    name_.assign(text.get(), SysStringLen(text.get()));
    *name = name_.c_str();
    return 0;
  }

  DWORD attributeCount(int depth, LONG* count) override {
    Frame* frame = at(depth);
    if (frame == nullptr) return kFail;
    if (FAILED(frame->node->get_attributes(frame->attributes.out())) || !frame->attributes) return kFail;
    return FAILED(frame->attributes->get_length(count)) ? kFail : 0;
  }

  DWORD attribute(int depth, LONG index, const wchar_t** name, const wchar_t** value) override {
    Frame* frame = at(depth);
    if (frame == nullptr || !frame->attributes) return kFail;
    Com<IXMLDOMNode> item;
    if (FAILED(frame->attributes->get_item(index, item.out())) || !item) return kFail;
    Bstr nameText;
    Bstr valueText;
    if (FAILED(item->get_baseName(nameText.out())) || FAILED(item->get_text(valueText.out()))) return kFail;
    attributeName_.assign(nameText.get() != nullptr ? nameText.get() : L"");
    attributeValue_.assign(valueText.get() != nullptr ? valueText.get() : L"");
    *name = attributeName_.c_str();
    *value = attributeValue_.c_str();
    return 0;
  }

  DWORD nextChild(int depth, DomChildKind* kind, const wchar_t** text) override {
    if (at(depth) == nullptr) return kFail;
    frames_.resize(depth + 1);
    Frame& frame = frames_.back();
    if (!frame.children) {
      if (FAILED(frame.node->get_childNodes(frame.children.out())) || !frame.children) return kFail;
      if (FAILED(frame.children->get_length(&frame.count))) return kFail;
    }
    if (frame.next >= frame.count) {
      *kind = DomChildKind::kEnd;
      return 0;
    }
    Frame child;
    if (FAILED(frame.children->get_item(frame.next++, child.node.out())) || !child.node) return kFail;
    DOMNodeType type = NODE_INVALID;
    if (FAILED(child.node->get_nodeType(&type))) return kFail;
    if (type == NODE_ELEMENT) {
      frames_.push_back(std::move(child));
      *kind = DomChildKind::kElement;
    } else if (type == NODE_TEXT) {
      Bstr value;
      if (FAILED(child.node->get_text(value.out()))) return kFail;
      text_.assign(value.get() != nullptr ? value.get() : L"");
      *text = text_.c_str();
      *kind = DomChildKind::kText;
    } else {
      *kind = DomChildKind::kOther;
    }
    return 0;
  }

  XmlLoadStep finish() override { return XmlLoadStep::kNone; }

 private:
  struct Frame {
    Com<IXMLDOMNode> node;
    Com<IXMLDOMNamedNodeMap> attributes;
    Com<IXMLDOMNodeList> children;
    LONG count = 0;
    LONG next = 0;
  };

  Frame* at(int depth) { return depth >= 0 && static_cast<size_t>(depth) < frames_.size() ? &frames_[depth] : nullptr; }

  ComScope com_;  // first in, last out: every COM object below is released before it
  Com<IXMLDOMDocument2> document_;
  std::vector<Frame> frames_;
  std::wstring name_, attributeName_, attributeValue_, text_;
};

class MsxmlWriteElement final : public port::DomWriteElement {
 public:
  DWORD setAttribute(const wchar_t* name, const wchar_t* value) override {
    // Checked here as well, so that every MSXML build refuses the same names.
    if (!xml::isXmlName(name) || value == nullptr || !xml::isXmlText(value)) return kFail;
    Bstr nameText(name);
    Bstr valueText(value);
    return FAILED(element->setAttribute(nameText.get(), stringVariant(valueText))) ? kFail : 0;
  }
  DWORD setText(const wchar_t* text) override {
    if (text == nullptr || !xml::isXmlText(text)) return kFail;
    Bstr value(text);
    return FAILED(element->put_text(value.get())) ? kFail : 0;
  }
  DWORD appendChild(port::DomWriteElement& child) override {
    auto& other = static_cast<MsxmlWriteElement&>(child);
    Com<IXMLDOMNode> added;
    return FAILED(element->appendChild(other.element.get(), added.out())) ? kFail : 0;
  }

  Com<IXMLDOMElement> element;
};

class MsxmlWriteDocument final : public port::DomWriteDocument {
 public:
  bool create() {
    return SUCCEEDED(
        CoCreateInstance(kDomDocument60, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument, document_.outVoid()));
  }

  DWORD appendProcessingInstruction(const wchar_t* target, const wchar_t* data) override {
    Bstr targetText(target);
    Bstr dataText(data);
    Com<IXMLDOMProcessingInstruction> instruction;
    if (FAILED(document_->createProcessingInstruction(targetText.get(), dataText.get(), instruction.out()))) {
      return kFail;
    }
    Com<IXMLDOMNode> added;
    return FAILED(document_->appendChild(instruction.get(), added.out())) ? kFail : 0;
  }

  DWORD createElement(const wchar_t* name, std::unique_ptr<port::DomWriteElement>* element) override {
    if (!xml::isXmlName(name)) return kFail;
    Bstr nameText(name);
    auto created = std::make_unique<MsxmlWriteElement>();
    if (FAILED(document_->createElement(nameText.get(), created->element.out())) || !created->element) return kFail;
    *element = std::move(created);
    return 0;
  }

  DWORD appendRoot(port::DomWriteElement& element) override {
    Com<IXMLDOMNode> added;
    return FAILED(document_->appendChild(static_cast<MsxmlWriteElement&>(element).element.get(), added.out())) ? kFail
                                                                                                               : 0;
  }

  DWORD save(const wchar_t* path) override {
    SaveTarget target;
    const DWORD error = target.begin(path);
    if (error != 0) return error;
    Bstr file(target.writePath().c_str());
    if (FAILED(document_->save(stringVariant(file)))) return ERROR_WRITE_FAULT;
    return target.commit();
  }

 private:
  ComScope com_;
  Com<IXMLDOMDocument> document_;
};

}  // namespace

DWORD MsxmlDom::load(const wchar_t* path, const wchar_t* schemaPath, XmlLoadStep* failedStep,
                     std::unique_ptr<port::DomReader>* reader) {
  auto opened = std::make_unique<MsxmlReader>();
  *failedStep = opened->open(path, schemaPath);
  if (*failedStep != XmlLoadStep::kNone) return kFail;
  *reader = std::move(opened);
  return 0;
}

DWORD MsxmlDom::createDocument(std::unique_ptr<port::DomWriteDocument>* document) {
  auto created = std::make_unique<MsxmlWriteDocument>();
  if (!created->create()) return kFail;
  *document = std::move(created);
  return 0;
}

}  // namespace utils::win32port
