// The help topics of each command (command_table.h): the first is the
// command's own text, the others its operations'.
#pragma once

#include <span>

#include "command_table.h"

namespace utils::btutil {

std::span<const HelpTopic> regHelp();
std::span<const HelpTopic> addrHelp();
std::span<const HelpTopic> decodeHelp();
std::span<const HelpTopic> xmlHelp();
std::span<const HelpTopic> radioHelp();
std::span<const HelpTopic> hciHelp();
std::span<const HelpTopic> pairedHelp();
std::span<const HelpTopic> stackHelp();
std::span<const HelpTopic> rssiHelp();
std::span<const HelpTopic> watchHelp();
std::span<const HelpTopic> dunHelp();
std::span<const HelpTopic> unlockHelp();
std::span<const HelpTopic> langHelp();
std::span<const HelpTopic> permitHelp();
std::span<const HelpTopic> servicesHelp();
std::span<const HelpTopic> ftplistHelp();
std::span<const HelpTopic> demoHelp();

}  // namespace utils::btutil
