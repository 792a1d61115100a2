#include "port/linux/registry_paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace utils::linuxport {
namespace {

constexpr char kDefaultMachinePath[] = "/var/lib/utils/registry/machine.db";

// A variable of the caller's environment, ignored (empty) in a set-user-ID or
// otherwise privileged process: there the caller must not choose which files
// the library reads its settings from or creates.
std::string environment(const char* name) {
  const char* value = ::secure_getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// $HOME, else the password database's home of the real user.
std::string homeFolder() {
  std::string home = environment("HOME");
  if (!home.empty()) return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    home = found->pw_dir;
  }
  return home;
}

}  // namespace

RegistryPaths registryPathsFromEnvironment() {
  RegistryPaths paths;
  paths.machine = environment("UTILS_REGISTRY_MACHINE");
  if (paths.machine.empty()) paths.machine = kDefaultMachinePath;
  paths.user = environment("UTILS_REGISTRY_USER");
  if (paths.user.empty()) {
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the XDG rules say.
    std::string config = environment("XDG_CONFIG_HOME");
    if (config.empty() || config[0] != '/') config = homeFolder() + "/.config";
    paths.user = config + "/utils/registry.db";
  }
  return paths;
}

}  // namespace utils::linuxport
