// An in-memory XML DOM for the unit tests: documents are trees held by path,
// saving stores the built tree under its path, and every step can be made to
// fail. Names are checked as XML names and texts as XML characters, as a real
// writer does; the reader hands out exactly what the stored tree holds.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "port/xml_dom_port.h"

namespace utils::sim {

struct SimXmlNode {
  port::DomChildKind kind = port::DomChildKind::kElement;
  std::optional<std::wstring> name;  // elements; none models a reader without a name
  std::vector<std::pair<std::wstring, std::wstring>> attributes;
  std::wstring text;  // text nodes
  std::vector<SimXmlNode> children;

  // Reading faults: the attribute map or child list cannot be had, or the item at
  // that index cannot be read.
  bool failAttributeMap = false;
  int failAttributeAt = -1;
  bool failChildList = false;
  int failChildAt = -1;

  static SimXmlNode element(std::wstring name, std::vector<std::pair<std::wstring, std::wstring>> attributes = {},
                            std::vector<SimXmlNode> children = {});
  static SimXmlNode textNode(std::wstring text);
  static SimXmlNode other();
};

// A stored document: top-level processing instructions (target, data) in order,
// and the root element if there is one.
struct SimXmlDocument {
  std::vector<std::pair<std::wstring, std::wstring>> instructions;
  std::optional<SimXmlNode> root;
};

// A schema: readable or not, usable or not, and which root names it accepts.
struct SimXmlSchema {
  bool readable = true;
  bool usable = true;
  std::wstring rootName;
};

class SimXmlDom : public port::XmlDomPort {
 public:
  DWORD load(const wchar_t* path, const wchar_t* schemaPath, port::XmlLoadStep* failedStep,
             std::unique_ptr<port::DomReader>* reader) override;
  DWORD createDocument(std::unique_ptr<port::DomWriteDocument>* document) override;

  std::map<std::wstring, SimXmlDocument> files;
  std::map<std::wstring, SimXmlSchema> schemas;
  // Paths whose save fails, as a folder that does not exist does.
  std::vector<std::wstring> unwritablePaths;
  // A step of load that fails outright (kCreateDocument, kCreateSchemaCache,
  // kRootNode), and the outcome that finish() reports after the walk.
  port::XmlLoadStep failStep = port::XmlLoadStep::kNone;
  port::XmlLoadStep lateOutcome = port::XmlLoadStep::kNone;
  bool failCreateDocument = false;
  // load runs out of memory (throws std::bad_alloc), as a reader may.
  bool loadRunsOutOfMemory = false;
  // Readers and write documents alive now, and files opened by load (schemas too).
  int liveObjects = 0;
  std::vector<std::wstring> opened;
};

}  // namespace utils::sim
