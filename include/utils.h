/* The whole public interface of the utils library. */
#ifndef UTILS_H
#define UTILS_H

#include "utils/wintypes.h"
#include "utils/export.h"
#include "utils/trace.h"
#include "utils/address.h"
#include "utils/primitives.h"
#include "utils/registry.h"

#endif /* UTILS_H */
