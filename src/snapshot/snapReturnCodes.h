// Return codes of the snapshot plug-in that callers and the host test against.
#pragma once

namespace snaprc {

inline constexpr int kOk = 0;
// Registry and plug-in start-up.
inline constexpr int kNoMemory = 102;
inline constexpr int kInvalidProvider = 24;  // also: handle to prepare not found
// Registry member results.
inline constexpr int kAddNoMemory = 1;
inline constexpr int kNoRegistry = -1;
inline constexpr unsigned int kNoHandle = 0xFFFFFFFFu;
// Volume lists.
inline constexpr int kVolumeConflict = 6054;

}  // namespace snaprc
