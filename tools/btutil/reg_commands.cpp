#include "reg_commands.h"

#include "options.h"
#include "usage.h"

namespace utils::btutil {

int runReg(std::span<const std::string> args, port::RegistryPort& registry, Console& console) {
  if (args.empty()) {
    return usageError(console, "btutil reg needs an operation: add, query, delete, export or import.", "reg");
  }
  if (isHelpRequest(args[0]) || lowerAscii(args[0]) == "help") {
    printUsage(console.out, "reg");
    return kExitOk;
  }
  using Operation = int (*)(std::span<const std::string>, port::RegistryPort&, Console&);
  static constexpr struct {
    std::string_view name;
    Operation run;
  } kOperations[] = {
      {"add", regAdd}, {"query", regQuery}, {"delete", regDelete}, {"export", regExport}, {"import", regImport}};
  const std::string name = lowerAscii(args[0]);
  for (const auto& operation : kOperations) {
    if (operation.name == name) return operation.run(args.subspan(1), registry, console);
  }
  return usageError(console, "Unknown reg operation \"" + args[0] + "\": use add, query, delete, export or import.",
                    "reg");
}

}  // namespace utils::btutil
