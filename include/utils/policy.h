/* Service and access policy: whether a remote device's request may go ahead,
 * enabling newly supported services on a paired device, and queries on the
 * supported services and the registered file transfer folders. */
#ifndef UTILS_POLICY_H
#define UTILS_POLICY_H

#include "utils/address.h"
#include "utils/export.h"
#include "utils/wintypes.h"

UTILS_EXTERN_C_BEGIN

/* 1 when the remote device (BdAddr) may make a request of this kind to the local
 * radio (BdAddr), from the settings stored for the pair; a one-time permission is
 * used up by the call it grants. 0 for a null address. */
UTILS_API BOOL IsRequestPermitted(const BYTE* localAddress, const BYTE* remoteAddress, WORD requestCode);

/* Enables on the paired device every service class that the support list marks as
 * supported and that has not been enabled for it yet, and records what it enabled.
 * Outcomes are written as trace lines only. */
UTILS_API void UTILS_EnableNewServices(const BtAddr* device);

/* 1 when the support list marks the service class as supported; 0 otherwise and
 * for a null pointer. */
UTILS_API BOOL UTILS_BluetoothIsLocalServiceSupported(const GUID* service);

/* 1 when a per-user shell folder carries the device's address and its class is
 * registered for the user; 0 otherwise and for a null pointer. */
UTILS_API BOOL UTILS_FtpClientRegistered(const BtAddr* device);

UTILS_EXTERN_C_END

#endif /* UTILS_POLICY_H */
