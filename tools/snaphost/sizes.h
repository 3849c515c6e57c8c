// Snapshot sizes: what --size accepts, and how sizes are shown.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace snaphost {

// A share of the origin (1 to 100 percent) or an absolute size in bytes.
struct SizeRequest {
    bool percent = true;
    uint64_t value = 10;

    // The bytes asked for, for an origin of originBytes.
    uint64_t bytesFor(uint64_t originBytes) const;
    // As the user wrote it, normalised: "10%" or "512M".
    std::string text() const;
};

// "10", "10%" (percent); "512M", "2G", "1.5g", "300MiB" (binary units K, M, G, T). Nothing else:
// a bare number is a percentage, so that an old "--size 20" keeps its meaning.
std::optional<SizeRequest> parseSize(std::string_view text);

uint64_t roundUp(uint64_t bytes, uint64_t unit);
// "512 KiB", "4.00 MiB", "2.00 GiB".
std::string formatBytes(uint64_t bytes);
// The smallest whole-MiB option value that holds bytes, as --size takes it: "16M", "2G".
std::string sizeOption(uint64_t bytes);

}  // namespace snaphost
