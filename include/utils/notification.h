/* The event notification service: follows one remote device's ACL connection
 * and signal strength on the first local radio and hands (connected, level) to
 * one registered callback.
 *
 * UTIL_BT_Initialize is called on the thread that will run the callbacks' window:
 * on Windows that thread must dispatch window messages (the callbacks run while
 * it does); on Linux the library's own event thread delivers them. Every
 * callback runs on that one thread. */
#ifndef UTILS_NOTIFICATION_H
#define UTILS_NOTIFICATION_H

#include "utils/address.h"
#include "utils/export.h"
#include "utils/wintypes.h"

/* connected: 1 while the watched device has an ACL connection, else 0. level: 0
 * to 5 from the last signal strength (0 when none is known), or 6 once when the
 * device connects. The result is not used. */
typedef DWORD (*UTIL_BT_NotifyCallback)(DWORD connected, DWORD level);

UTILS_EXTERN_C_BEGIN

/* Starts the service for the device at address (clears the callback). A running
 * service is stopped first. */
UTILS_API void UTIL_BT_Initialize(BtAddr address);

/* Stores the callback (NULL removes it); returns 0. */
UTILS_API DWORD RegisterNotification(UTIL_BT_NotifyCallback callback);

/* Stops the service and releases what it holds. Harmless when it is not running. */
UTILS_API void UTIL_BT_Uninitialize(void);

UTILS_EXTERN_C_END

#endif /* UTILS_NOTIFICATION_H */
