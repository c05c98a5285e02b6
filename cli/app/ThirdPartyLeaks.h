#pragma once
// Leaks inside libraries the tool uses, known and not ours to fix, for LeakSanitizer builds.
// Executables hand them over by defining __lsan_default_suppressions (see cli/main.cpp), and keep
// LeakSanitizer from listing the suppressions it used on every exit.

namespace framemeld::cli {

// OpenImageIO 2.4's movie reader allocates an FFmpeg codec context on every open and never frees
// it (under a kilobyte per movie opened). FFmpeg is built without frame pointers, so the fast
// unwinder's stack ends in FFmpeg's allocator and the reader's own frame cannot be named; FFmpeg
// is reached only through that reader, so its allocations are what is let go.
inline constexpr const char *kThirdPartyLeakSuppressions = "leak:libavutil.so\n";

inline constexpr const char *kLeakSanitizerOptions = "print_suppressions=0";

} // namespace framemeld::cli
