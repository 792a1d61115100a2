// Saving: an element tree becomes a document built through the DOM port.
#include <memory>
#include <vector>

#include "port/platform.h"
#include "utils/trace.h"
#include "utils/xml.h"

namespace {

using utils::port::DomWriteDocument;
using utils::port::DomWriteElement;

constexpr int kLevel = 4;
constexpr const wchar_t* kModule = L"utils";

}  // namespace

int XmlObject::Save(const wchar_t* path) {
  // The file is written only from a complete document: a tree that cannot be
  // built, or a write that fails, leaves whatever path held as it was.
  utils::port::XmlDomPort* dom = utils::port::platform().xmlDom;
  if (dom == nullptr) return 0;
  if (path == nullptr || *path == 0) {
    WRITELOG_W(kLevel, kModule, L"[XmlObject::Save] No file was named; nothing was written");
    return 0;
  }
  std::unique_ptr<DomWriteDocument> document;
  if (dom->createDocument(&document) != 0 || document == nullptr) {
    WRITELOG_W(kLevel, kModule, L"[XmlObject::Save] No XML document could be made; %s was not written", path);
    return 0;
  }
  document->appendProcessingInstruction(L"xml", L"version='1.0' encoding='UTF-16'");
  if (ConstructDomFromObject(*document, nullptr, false) != 1) {
    WRITELOG_W(kLevel, kModule,
               L"[XmlObject::Save] The tree holds a name or text that XML cannot carry; %s was not written", path);
    return 0;
  }
  const DWORD error = document->save(path);
  if (error != 0) {
    WRITELOG_W(kLevel, kModule, L"[XmlObject::Save] Writing %s failed - %#x", path, error);
    return 0;
  }
  return 1;
}

int XmlObject::ConstructDomFromObject(DomWriteDocument& document, DomWriteElement* parent, bool continueOnError) {
  // One entry per element whose DOM element is being built. Only this element
  // (the first entry) may go on past failures; below it, one failure fails every
  // element above it, up to this one. Built without recursion, so a tree of any
  // depth is saved on a small stack.
  struct Building {
    XmlObject* source;
    std::unique_ptr<DomWriteElement> element;
    size_t nextChild;
  };
  auto start = [&document](XmlObject* source, bool tolerant, Building* building) {
    building->source = source;
    building->nextChild = 0;
    if (document.createElement(source->baseName_, &building->element) != 0 || !building->element) return false;
    for (const auto& [name, value] : *source->attributes_) {
      if (building->element->setAttribute(name, value) != 0 && !tolerant) return false;
    }
    if (source->hasText_ == 1 && building->element->setText(source->nodeText_) != 0 && !tolerant) return false;
    return true;
  };

  std::vector<Building> open(1);
  if (!start(this, continueOnError, &open[0])) return 0;
  for (;;) {
    Building& current = open.back();
    if (current.nextChild < current.source->children_->size()) {
      XmlObject* child = (*current.source->children_)[current.nextChild++];
      if (child == nullptr) continue;
      Building next;
      if (start(child, false, &next)) {
        open.push_back(std::move(next));
      } else if (!continueOnError) {
        return 0;
      } else {
        open.resize(1);  // the failed child's ancestors below this element fail too
      }
      continue;
    }
    // Complete: attach to the element above, or to the parent or the document.
    std::unique_ptr<DomWriteElement> done = std::move(current.element);
    open.pop_back();
    if (open.empty()) {
      const DWORD status = parent != nullptr ? parent->appendChild(*done) : document.appendRoot(*done);
      return status == 0 || continueOnError ? 1 : 0;
    }
    if (open.back().element->appendChild(*done) != 0) {
      if (!continueOnError) return 0;
      open.resize(1);
    }
  }
}
