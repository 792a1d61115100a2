/* The whole public interface of the utils library. */
#ifndef UTILS_H
#define UTILS_H

#include "utils/address.h"
#include "utils/dialup.h"
#include "utils/export.h"
#include "utils/notification.h"
#include "utils/policy.h"
#include "utils/primitives.h"
#include "utils/radio.h"
#include "utils/registry.h"
#include "utils/trace.h"
#include "utils/transfer.h"
#include "utils/ui.h"
#include "utils/wintypes.h"
#include "utils/xml.h"

#endif /* UTILS_H */
