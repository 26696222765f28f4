#pragma once
// Exit codes of unplot-engine. The service maps them to job states: keep them as they are.

namespace unplot::engine::exitcode {
inline constexpr int kConverted = 0;              // every page converted cleanly
inline constexpr int kFailure = 1;                // anything else went wrong (writing the archive, ...)
inline constexpr int kUsage = 2;                  // bad arguments, unknown version, malformed page list
inline constexpr int kUnreadableInput = 3;        // not a PDF, damaged, or needs a password
inline constexpr int kNothingConverted = 4;       // no page could be converted
inline constexpr int kConvertedWithWarnings = 10; // converted, but something was skipped (see stderr)
} // namespace unplot::engine::exitcode
