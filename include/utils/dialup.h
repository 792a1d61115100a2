/* Dial-up networking through a paired phone's dial-up service: one phone per
 * process, named by its address; one callback told whether the connection is
 * usable; dial and hang up.
 *
 * DunInitialize is called on the thread that owns the dial's window: on Windows
 * that thread must dispatch window messages (dial progress is handled while it
 * does); on Linux the library's own event thread stands in for it. The callback
 * may run on that thread, on the library's monitor or hang-up threads, or on the
 * thread of a DunConnect that fails; two of them may call it at once. Treat its
 * argument as a level (connected now, or not), not as a count of events. */
#ifndef UTILS_DIALUP_H
#define UTILS_DIALUP_H

#include "utils/address.h"
#include "utils/export.h"
#include "utils/wintypes.h"

#if defined(_WIN32)
#define UTILS_DUN_CALLBACK WINAPI
#else
#define UTILS_DUN_CALLBACK
#endif

/* connected: 1 when the connection is up, 0 when it is not (only the low byte
 * counts). */
typedef void(UTILS_DUN_CALLBACK* DunNotifyCallback)(BYTE connected);

UTILS_EXTERN_C_BEGIN

/* Sets up the dial-up context for the phone at address: its window, its modem,
 * and monitoring of a connection that already runs on that modem. Clears the
 * callback. A context set up earlier is replaced (its monitor stopped, its
 * window released). */
UTILS_API void DunInitialize(BtAddr address);

/* Stores the callback. Returns 0, or ERROR_INVALID_BLOCK (9) for NULL, which
 * keeps the stored one. */
UTILS_API DWORD DunRegisterNotification(DunNotifyCallback callback);

/* Writes the phone's phonebook entry and starts dialling it. Returns 1 when the
 * dial was started (the callback follows with 1 once the link to the phone is
 * up, or with 0 when the dial fails), 0 when it could not be started (the
 * callback is then called with 0 unless the entry could not be prepared). */
UTILS_API BOOL DunConnect(void);

/* Stops monitoring and hangs the connection up in the background; returns at
 * once. The callback is called with 0 once the connection is gone (or after 30
 * seconds if it never goes). May be called from inside the callback. */
UTILS_API void DunDisConnect(void);

/* Stops monitoring, ends the background hang-up waits (without their callback),
 * and releases the context's window and event. May be called from inside the
 * callback. */
UTILS_API void DunUninitialize(void);

UTILS_EXTERN_C_END

#endif /* UTILS_DIALUP_H */
