/* Export macro for the library's public interface. */
#ifndef UTILS_EXPORT_H
#define UTILS_EXPORT_H

#if defined(UTILS_STATIC)
#define UTILS_API
#elif defined(_WIN32)
#if defined(UTILS_BUILDING)
#define UTILS_API __declspec(dllexport)
#else
#define UTILS_API __declspec(dllimport)
#endif
#else
#define UTILS_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define UTILS_EXTERN_C_BEGIN extern "C" {
#define UTILS_EXTERN_C_END }
#else
#define UTILS_EXTERN_C_BEGIN
#define UTILS_EXTERN_C_END
#endif

#endif /* UTILS_EXPORT_H */
