// The wake event and the worker threads of the notification port on Linux.
#pragma once

#include <memory>

#include "port/notification_port.h"

namespace utils::linuxport {

DWORD createLinuxWakeEvent(std::unique_ptr<port::WakeEvent>* event);
DWORD startLinuxThread(std::function<void()> entry, std::unique_ptr<port::WorkerThread>* thread);

}  // namespace utils::linuxport
