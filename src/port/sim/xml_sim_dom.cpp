#include "port/sim/xml_sim_dom.h"

#include <algorithm>
#include <new>

#include "xml/xml_chars.h"

namespace utils::sim {
namespace {

using port::DomChildKind;
using port::XmlLoadStep;

constexpr DWORD kFail = 0x80004005;  // E_FAIL

bool isWhiteSpace(const std::wstring& text) {
  return std::all_of(text.begin(), text.end(),
                     [](wchar_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

// Counts itself in the DOM's live objects while it exists.
class LiveCount {
 public:
  explicit LiveCount(int* count) : count_(count) { ++*count_; }
  ~LiveCount() { --*count_; }
  LiveCount(const LiveCount&) = delete;
  LiveCount& operator=(const LiveCount&) = delete;

 private:
  int* count_;
};

class SimReader : public port::DomReader {
 public:
  SimReader(SimXmlNode root, int* live) : root_(std::move(root)), live_(live) { open_.push_back({&root_, 0}); }

  DWORD baseName(int depth, const wchar_t** name) override {
    const SimXmlNode* node = at(depth);
    if (node == nullptr) return kFail;
    *name = node->name ? node->name->c_str() : nullptr;
    return 0;
  }
  DWORD attributeCount(int depth, LONG* count) override {
    const SimXmlNode* node = at(depth);
    if (node == nullptr || node->failAttributeMap) return kFail;
    *count = static_cast<LONG>(node->attributes.size());
    return 0;
  }
  DWORD attribute(int depth, LONG index, const wchar_t** name, const wchar_t** value) override {
    const SimXmlNode* node = at(depth);
    if (node == nullptr || index < 0 || static_cast<size_t>(index) >= node->attributes.size() ||
        index == node->failAttributeAt) {
      return kFail;
    }
    *name = node->attributes[index].first.c_str();
    *value = node->attributes[index].second.c_str();
    return 0;
  }
  DWORD nextChild(int depth, DomChildKind* kind, const wchar_t** text) override {
    if (depth < 0 || static_cast<size_t>(depth) >= open_.size()) return kFail;
    open_.resize(depth + 1);  // skip what is left of the previous child
    auto& [node, next] = open_.back();
    if (node->failChildList) return kFail;
    // White space only is no text node, as with white-space preservation off.
    while (next < node->children.size() && node->children[next].kind == DomChildKind::kText &&
           isWhiteSpace(node->children[next].text)) {
      ++next;
    }
    if (static_cast<int>(next) == node->failChildAt) return kFail;
    if (next >= node->children.size()) {
      *kind = DomChildKind::kEnd;
      return 0;
    }
    const SimXmlNode& child = node->children[next++];
    *kind = child.kind;
    if (child.kind == DomChildKind::kText) *text = child.text.c_str();
    if (child.kind == DomChildKind::kElement) open_.push_back({&child, 0});
    return 0;
  }
  XmlLoadStep finish() override { return late_; }

  void setLateOutcome(XmlLoadStep step) { late_ = step; }

 private:
  const SimXmlNode* at(int depth) const {
    return depth >= 0 && static_cast<size_t>(depth) < open_.size() ? open_[depth].first : nullptr;
  }

  SimXmlNode root_;
  LiveCount live_;
  std::vector<std::pair<const SimXmlNode*, size_t>> open_;
  XmlLoadStep late_ = XmlLoadStep::kNone;
};

class SimWriteElement : public port::DomWriteElement {
 public:
  explicit SimWriteElement(std::wstring name) { node.name = std::move(name); }

  DWORD setAttribute(const wchar_t* name, const wchar_t* value) override {
    if (!xml::isXmlName(name) || !xml::isXmlText(value)) return kFail;
    for (auto& attribute : node.attributes) {
      if (attribute.first == name) {
        attribute.second = value;
        return 0;
      }
    }
    node.attributes.emplace_back(name, value);
    return 0;
  }
  DWORD setText(const wchar_t* text) override {
    if (!xml::isXmlText(text)) return kFail;
    node.children.clear();
    node.children.push_back(SimXmlNode::textNode(text));
    return 0;
  }
  DWORD appendChild(port::DomWriteElement& child) override {
    auto& element = static_cast<SimWriteElement&>(child);
    if (element.attached) return kFail;
    element.attached = true;
    node.children.push_back(std::move(element.node));
    return 0;
  }

  SimXmlNode node;
  bool attached = false;
};

class SimWriteDocument : public port::DomWriteDocument {
 public:
  explicit SimWriteDocument(SimXmlDom& dom) : dom_(dom), live_(&dom.liveObjects) {}

  DWORD appendProcessingInstruction(const wchar_t* target, const wchar_t* data) override {
    document_.instructions.emplace_back(target, data);
    return 0;
  }
  DWORD createElement(const wchar_t* name, std::unique_ptr<port::DomWriteElement>* element) override {
    if (!xml::isXmlName(name)) return kFail;
    *element = std::make_unique<SimWriteElement>(name);
    return 0;
  }
  DWORD appendRoot(port::DomWriteElement& element) override {
    auto& root = static_cast<SimWriteElement&>(element);
    if (document_.root || root.attached) return kFail;
    root.attached = true;
    document_.root = std::move(root.node);
    return 0;
  }
  DWORD save(const wchar_t* path) override {
    const auto& bad = dom_.unwritablePaths;
    if (std::find(bad.begin(), bad.end(), path) != bad.end()) return 3;  // ERROR_PATH_NOT_FOUND
    dom_.files[path] = document_;
    return 0;
  }

 private:
  SimXmlDom& dom_;
  LiveCount live_;
  SimXmlDocument document_;
};

}  // namespace

SimXmlNode SimXmlNode::element(std::wstring name, std::vector<std::pair<std::wstring, std::wstring>> attributes,
                               std::vector<SimXmlNode> children) {
  SimXmlNode node;
  node.name = std::move(name);
  node.attributes = std::move(attributes);
  node.children = std::move(children);
  return node;
}

SimXmlNode SimXmlNode::textNode(std::wstring text) {
  SimXmlNode node;
  node.kind = DomChildKind::kText;
  node.text = std::move(text);
  return node;
}

SimXmlNode SimXmlNode::other() {
  SimXmlNode node;
  node.kind = DomChildKind::kOther;
  return node;
}

DWORD SimXmlDom::load(const wchar_t* path, const wchar_t* schemaPath, XmlLoadStep* failedStep,
                      std::unique_ptr<port::DomReader>* reader) {
  auto fail = [failedStep](XmlLoadStep step) {
    *failedStep = step;
    return kFail;
  };
  if (loadRunsOutOfMemory) throw std::bad_alloc();
  const bool schemaMode = schemaPath != nullptr && *schemaPath != 0;
  const SimXmlSchema* schema = nullptr;
  if (schemaMode) {
    if (failStep == XmlLoadStep::kCreateDocument) return fail(failStep);
    opened.emplace_back(schemaPath);
    auto it = schemas.find(schemaPath);
    if (it == schemas.end() || !it->second.readable) return fail(XmlLoadStep::kLoadSchema);
    if (failStep == XmlLoadStep::kCreateSchemaCache) return fail(failStep);
    if (!it->second.usable) return fail(XmlLoadStep::kAddSchema);
    schema = &it->second;
  }
  if (failStep == XmlLoadStep::kCreateDocument) return fail(failStep);
  opened.emplace_back(path);
  auto file = files.find(path);
  if (file == files.end() || !file->second.root) return fail(XmlLoadStep::kLoadDocument);
  if (schema != nullptr && file->second.root->name != schema->rootName) return fail(XmlLoadStep::kValidate);
  if (failStep == XmlLoadStep::kRootNode) return fail(failStep);
  auto walk = std::make_unique<SimReader>(*file->second.root, &liveObjects);
  walk->setLateOutcome(lateOutcome);
  *reader = std::move(walk);
  *failedStep = XmlLoadStep::kNone;
  return 0;
}

DWORD SimXmlDom::createDocument(std::unique_ptr<port::DomWriteDocument>* document) {
  if (failCreateDocument) return kFail;
  *document = std::make_unique<SimWriteDocument>(*this);
  return 0;
}

}  // namespace utils::sim
