/* Environment switch of the plug-in support layer: WIN_ENV or MAC_ENV, exactly one.
 *
 * Windows is recognised by _WINDOWS, _MSC_VER or WINDOWS, as in the real header; a Windows build
 * with none of them (a cross compiler that only defines _WIN32) stops here rather than silently
 * taking the non-Windows type choices, which differ in width (SPBoolean). Linux is a branch of the
 * stand-in's own (LINUX_ENV); it follows the macOS type choices. */

#ifndef FRAMEMELD_SDK_SPCONFIG_H
#define FRAMEMELD_SDK_SPCONFIG_H

#if defined(_WINDOWS) || defined(_MSC_VER) || defined(WINDOWS)
#define WIN_ENV 1
#endif

#if defined(__APPLE_CC__)
#define MAC_ENV 1
#endif

#if !defined(WIN_ENV) && !defined(MAC_ENV) && defined(__linux__)
#define LINUX_ENV 1
#endif

#if defined(WIN_ENV) && defined(MAC_ENV)
#error "SPConfig.h: both WIN_ENV and MAC_ENV are set"
#endif

#if !defined(WIN_ENV) && !defined(MAC_ENV) && !defined(LINUX_ENV)
#if defined(_WIN32)
#error "SPConfig.h: Windows builds must define _WINDOWS (as the SDK's own projects do)"
#else
#error "SPConfig.h: unrecognized environment"
#endif
#endif

#endif /* FRAMEMELD_SDK_SPCONFIG_H */
