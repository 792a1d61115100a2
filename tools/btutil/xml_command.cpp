// btutil xml check FILE [--schema XSD] | tree FILE | convert IN OUT
#include "xml_command.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "common/utf16.h"
#include "options.h"
#include "usage.h"
#include "utils/xml.h"

// Trees from Load are plain XmlObjects, deleted as such.
#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"

namespace utils::btutil {
namespace {

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

// A file that cannot be opened is the system's refusal, not bad input: the
// loader would report both as OBJECT_ERROR_LOAD_DOCUMENT.
bool readable(const std::string& path, std::string* error) {
  std::error_code code;
  if (!std::filesystem::is_regular_file(path, code)) {
    *error = code ? code.message() : "not a regular file";
    return false;
  }
  if (!std::ifstream(path, std::ios::binary)) {
    *error = "it cannot be opened for reading";
    return false;
  }
  return true;
}

// What a failed load means for the exit code: the document or schema was wrong,
// or the system could not make one.
int loadFailure(OBJECT_ERROR_CODE code) {
  return code == OBJECT_ERROR_CREATE_DOCUMENT || code == OBJECT_ERROR_CREATE_SCHEMA_CACHE ? kExitFailed : kExitUsage;
}

int usage(Console& console, std::string_view message) {
  console.err << "ERROR: " << message << "\nType \"btutil xml --help\" for usage.\n";
  return kExitUsage;
}

}  // namespace

int runXml(std::span<const std::string> args, Console& console) {
  if (args.empty()) return usage(console, "btutil xml needs check, tree or convert.");
  if (isHelpRequest(args[0]) || lowerAscii(args[0]) == "help") {
    printUsage(console.out, "xml");
    return kExitOk;
  }
  const std::string action = lowerAscii(args[0]);
  std::vector<std::string> positional;
  std::string schema;
  for (size_t i = 1; i < args.size(); ++i) {
    if (isHelpRequest(args[i])) {
      printUsage(console.out, "xml");
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

  // A file that cannot be read is the system's refusal; the loader's code alone
  // would not tell it from a malformed one.
  std::string unreadable;
  for (const std::string* input : {&positional[0], &schema}) {
    std::string error;
    if (unreadable.empty() && !input->empty() && !readable(*input, &error)) {
      unreadable = "Cannot read " + *input + ": " + error;
    }
  }
  XmlObject* loaded = nullptr;
  const OBJECT_ERROR_CODE code =
      XmlObject::Load(utf8ToWide(positional[0]).c_str(), &loaded, utf8ToWide(schema).c_str());
  std::unique_ptr<XmlObject> tree(code == OBJECT_ERROR_NONE ? loaded : nullptr);
  if (action == "check") console.out << codeName(code) << '\n';
  if (code != OBJECT_ERROR_NONE) {
    if (!unreadable.empty()) return failure(console, unreadable);
    if (action != "check")
      console.err << "ERROR: " << positional[0] << " could not be loaded: " << codeName(code) << ".\n";
    return loadFailure(code);
  }
  if (action == "check") return kExitOk;
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
