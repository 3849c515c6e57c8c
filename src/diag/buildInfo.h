// Build constants that file headers carry (trace file, wrapping logs).
#pragma once

namespace pisnp {

inline constexpr const char kProductBanner[] = "libPiSNP Snapshot Runtime 1.0.0";
// In the form of the C library's ctime text, behind one blank, without its newline.
inline constexpr const char kBuildDate[] = " Thu Jan  1 00:00:00 2026";

}  // namespace pisnp
