/* Platform and processor switches of the SDK.
 *
 * The real header knows only Windows and macOS and stops with "unrecognized AE platform"
 * anywhere else. This stand-in adds a Linux branch of its own (AE_OS_LINUX) so the plug-in, the
 * host runner and the tests build there; no real SDK header ever sees that macro. */

#ifndef FRAMEMELD_SDK_AECONFIG_H
#define FRAMEMELD_SDK_AECONFIG_H

#if defined(_WIN32)
#define AE_OS_WIN
#elif defined(__APPLE__) && defined(__MACH__)
#define AE_OS_MAC
#elif defined(__linux__)
#define AE_OS_LINUX
#else
#error "unrecognized AE platform"
#endif

#if defined(__x86_64__) || defined(_M_X64) || defined(_M_AMD64)
#define AE_PROC_INTELx64
#elif defined(__i386__) || defined(_M_IX86)
#define AE_PROC_INTEL
#elif defined(__aarch64__) || defined(_M_ARM64)
#define AE_PROC_ARM64
#else
#error "unrecognized AE processor"
#endif

/* Every supported processor is little-endian. */
#define AE_LITTLE_ENDIAN

#endif /* FRAMEMELD_SDK_AECONFIG_H */
