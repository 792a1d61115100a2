/* Identifiers of the warning dialog in the library's resources. */
#ifndef UTILS_WARNING_RESOURCES_H
#define UTILS_WARNING_RESOURCES_H

#define IDD_INVALID_PASSWORD 260
#define IDC_WARNING_TEXT 274
#define IDC_WARNING_ICON 275
#define IDC_WARNING_OK 276
#define IDI_COMMON_WARNING 144

#endif
