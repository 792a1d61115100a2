// Where the registry files live: UTILS_REGISTRY_MACHINE and UTILS_REGISTRY_USER
// when set, else /var/lib/utils/registry/machine.db and
// $XDG_CONFIG_HOME/utils/registry.db (~/.config/utils/registry.db).
#pragma once

#include <string>

namespace utils::linuxport {

struct RegistryPaths {
  std::string machine;
  std::string user;
};

RegistryPaths registryPathsFromEnvironment();

}  // namespace utils::linuxport
