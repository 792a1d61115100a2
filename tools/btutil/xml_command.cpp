// btutil xml check FILE [--schema XSD] | tree FILE | convert IN OUT
#include "xml_command.h"

#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "common/utf16.h"
#include "options.h"
#include "utils/xml.h"

// Trees from Load are plain XmlObjects, deleted as such.
#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"

namespace utils::btutil {
namespace {

constexpr std::string_view kUsage = R"(Usage:
  btutil xml check FILE [--schema XSD]
                             load FILE (validating it against XSD) and print the result
  btutil xml tree FILE       print FILE's element tree: names, attributes, texts
  btutil xml convert IN OUT  load IN and save it as OUT (UTF-16 with a byte order mark)

check prints the result code's name (OBJECT_ERROR_NONE, OBJECT_ERROR_LOAD_DOCUMENT,
...) and exits with 2 when it is not OBJECT_ERROR_NONE. convert exits with 2 when
IN cannot be loaded or OUT cannot be written (OUT then stays as it was).

Examples:
  btutil xml check settings.xml --schema settings.xsd
  btutil xml tree settings.xml
  btutil xml convert settings.xml settings-utf16.xml
)";

const char* codeName(OBJECT_ERROR_CODE code) {
  switch (code) {
    case OBJECT_ERROR_NONE: return "OBJECT_ERROR_NONE";
    case OBJECT_ERROR_CREATE_DOCUMENT: return "OBJECT_ERROR_CREATE_DOCUMENT";
    case OBJECT_ERROR_LOAD_SCHEMA: return "OBJECT_ERROR_LOAD_SCHEMA";
    case OBJECT_ERROR_CREATE_SCHEMA_CACHE: return "OBJECT_ERROR_CREATE_SCHEMA_CACHE";
    case OBJECT_ERROR_ADD_SCHEMA: return "OBJECT_ERROR_ADD_SCHEMA";
    case OBJECT_ERROR_LOAD_DOCUMENT: return "OBJECT_ERROR_LOAD_DOCUMENT";
    case OBJECT_ERROR_VALIDATE: return "OBJECT_ERROR_VALIDATE";
    case OBJECT_ERROR_ROOT_NODE: return "OBJECT_ERROR_ROOT_NODE";
  }
  return "OBJECT_ERROR_UNKNOWN";
}

// A text in double quotes, with the quote, the backslash and control characters escaped.
std::string quoted(const wchar_t* text) {
  std::string out = "\"";
  for (char c : wideToUtf8(text)) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out + "\"";
}

// Prints without recursion, so a tree of any depth fits the stack.
void printTree(XmlObject* root, std::ostream& out) {
  std::vector<std::pair<XmlObject*, size_t>> pending{{root, 0}};
  while (!pending.empty()) {
    auto [element, depth] = pending.back();
    pending.pop_back();
    const std::string indent(2 * depth, ' ');
    out << indent << (element->GetBasename() != nullptr ? wideToUtf8(element->GetBasename()) : "(no name)") << '\n';
    for (size_t i = 0; i < element->GetAttributeNumber(); ++i) {
      const auto [name, value] = element->GetAttribute(i);
      out << indent << "  @" << wideToUtf8(name) << " = " << quoted(value) << '\n';
    }
    if (element->HasText()) out << indent << "  text = " << quoted(element->GetNodeText()) << '\n';
    for (size_t i = element->GetChildernNumber(); i > 0; --i) pending.emplace_back(element->GetChild(i - 1), depth + 1);
  }
}

int usage(Console& console, std::string_view message) {
  console.err << "ERROR: " << message << "\nType \"btutil xml --help\" for usage.\n";
  return kExitUsage;
}

}  // namespace

int runXml(std::span<const std::string> args, Console& console) {
  if (args.empty()) return usage(console, "btutil xml needs check, tree or convert.");
  if (isHelpRequest(args[0]) || lowerAscii(args[0]) == "help") {
    console.out << kUsage;
    return kExitOk;
  }
  const std::string action = lowerAscii(args[0]);
  std::vector<std::string> positional;
  std::string schema;
  for (size_t i = 1; i < args.size(); ++i) {
    if (isHelpRequest(args[i])) {
      console.out << kUsage;
      return kExitOk;
    }
    if (args[i] == "--schema") {
      if (action != "check") return usage(console, "--schema belongs to btutil xml check.");
      if (i + 1 >= args.size()) return usage(console, "--schema needs a file.");
      schema = args[++i];
    } else {
      positional.push_back(args[i]);
    }
  }

  const size_t wanted = action == "convert" ? 2 : 1;
  if (action != "check" && action != "tree" && action != "convert") {
    return usage(console, "Unknown xml command \"" + args[0] + "\": use check, tree or convert.");
  }
  if (positional.size() != wanted) {
    return usage(console, "btutil xml " + action + (wanted == 2 ? " needs IN and OUT." : " needs one FILE."));
  }

  XmlObject* loaded = nullptr;
  const OBJECT_ERROR_CODE code =
      XmlObject::Load(utf8ToWide(positional[0]).c_str(), &loaded, utf8ToWide(schema).c_str());
  std::unique_ptr<XmlObject> tree(code == OBJECT_ERROR_NONE ? loaded : nullptr);
  if (action == "check") {
    console.out << codeName(code) << '\n';
    return code == OBJECT_ERROR_NONE ? kExitOk : kExitFailed;
  }
  if (code != OBJECT_ERROR_NONE) {
    return failure(console, positional[0] + " could not be loaded: " + codeName(code) + ".");
  }
  if (action == "tree") {
    printTree(tree.get(), console.out);
    return kExitOk;
  }
  if (tree->Save(utf8ToWide(positional[1]).c_str()) != 1) {
    return failure(console, positional[1] + " could not be written; a file already there is left as it was.");
  }
  console.out << "Saved " << positional[1] << ".\n";
  return kExitOk;
}

}  // namespace utils::btutil
