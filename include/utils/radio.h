/* Radio and driver access: the bus driver and the first local radio, vendor HCI
 * commands, readiness checks, the paired-device count and the signal-strength
 * command. */
#ifndef UTILS_RADIO_H
#define UTILS_RADIO_H

#include "utils/address.h"
#include "utils/export.h"
#include "utils/wintypes.h"

/* Returned instead of an error code when no local radio is present. */
#define UTILS_NO_RADIO 0xFFFFFFFFu

UTILS_EXTERN_C_BEGIN

/* The bus driver opened for reading, or NULL. The caller closes it with CloseHandle. */
UTILS_API HANDLE OpenBusHandle(void);

/* The first local radio's handle, or NULL when there is none. When info is given
 * its dwSize is set and the radio's information is read into it (a failed read
 * leaves whatever the query left). The caller closes the handle with CloseHandle. */
UTILS_API HANDLE EnumerateFirstBthRadioHandle(BLUETOOTH_RADIO_INFO* info);

/* Sends a vendor-specific HCI command through the bus driver. parameters holds
 * parameterCount bytes (may be NULL); with usePattern the driver is asked to match
 * patternByte. On success min(outputSize, 1024) bytes of the driver's answer are
 * copied to output (when given). Returns 0, the error of the failed step, or
 * UTILS_NO_RADIO. */
UTILS_API DWORD SendVendorHCICmdEx(WORD opcode, int parameterCount, const BYTE* parameters, BOOL usePattern,
                                   BYTE patternByte, BYTE* output, DWORD outputSize);
UTILS_API DWORD SendVendorHCICmd(WORD opcode, int parameterCount, const BYTE* parameters, BOOL usePattern,
                                 BYTE patternByte);

/* 1 when an RFCOMM socket can be bound on the local radio, else 0. */
UTILS_API DWORD CheckBtStackIsStart(void);
/* 1 when the radio interface is present and the stack accepts a socket within
 * 50 attempts 500 ms apart (or the remove flag is 2), else 0. */
UTILS_API DWORD BtDriverIsReady(void);
/* Stores the remove flag that BtDriverIsReady reads (2 counts as ready). */
UTILS_API void SetDeviceRemoveFlag(DWORD flag);
/* 1 when a present radio device has a readable device description, else 0. */
UTILS_API DWORD DeviceIsVorlane(void);

/* Tells the bus driver how many devices the local radio remembers. */
UTILS_API void NotifyDriverPairedDeviceNum(void);

/* Sends the signal-strength command for the device at address (6 bytes, most
 * significant first). Returns 0, 1 (command not supported), 997 (pending),
 * 0xFFFFFFFE (other failure) or UTILS_NO_RADIO. */
UTILS_API DWORD SendRssiCmdWithAddr(const BYTE* address);

#if !defined(_WIN32)
/* Releases a bus or radio handle handed out by this library. FALSE for any
 * other value. On Windows the system's CloseHandle does this. */
UTILS_API BOOL CloseHandle(HANDLE handle);
#endif

UTILS_EXTERN_C_END

#endif /* UTILS_RADIO_H */
