#include "sizes.h"

#include <limits>
#include <utility>

#include "text.h"

namespace snaphost {

namespace {
constexpr uint64_t kKiB = 1024;
constexpr uint64_t kMiB = kKiB * 1024;
constexpr uint64_t kGiB = kMiB * 1024;
constexpr uint64_t kTiB = kGiB * 1024;
// The plug-in multiplies the size by 100 in 64 bits: nothing larger may reach it.
constexpr uint64_t kLargest = std::numeric_limits<uint64_t>::max() / 100;
}  // namespace

uint64_t SizeRequest::bytesFor(uint64_t originBytes) const {
    if (!percent) return value;
    // The same rounding as the plug-in's own percentage: down, in whole bytes.
    return originBytes / 100 * value + originBytes % 100 * value / 100;
}

std::string SizeRequest::text() const {
    if (percent) return strf("%llu%%", static_cast<unsigned long long>(value));
    for (auto [unit, letter] : {std::pair{kTiB, 'T'}, {kGiB, 'G'}, {kMiB, 'M'}, {kKiB, 'K'}})
        if (value % unit == 0) return strf("%llu%c", static_cast<unsigned long long>(value / unit), letter);
    return strf("%lluB", static_cast<unsigned long long>(value));
}

std::optional<SizeRequest> parseSize(std::string_view text) {
    // Whole digits, an optional fraction, then "%", nothing, or a unit; in integers only, so
    // that a size comes out the same on every machine.
    size_t i = 0;
    uint64_t whole = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        if (whole > kLargest) return std::nullopt;
        whole = whole * 10 + static_cast<uint64_t>(text[i++] - '0');
    }
    if (i == 0) return std::nullopt;
    std::string_view fraction;
    if (i < text.size() && text[i] == '.') {
        size_t start = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        fraction = text.substr(start, i - start);
        if (fraction.empty() || fraction.size() > 9) return std::nullopt;
    }
    std::string_view unit = text.substr(i);
    if (unit.empty() || unit == "%") {
        if (!fraction.empty() || whole < 1 || whole > 100) return std::nullopt;
        return SizeRequest{true, whole};
    }
    if (unit.size() == 3 && (unit.substr(1) == "iB" || unit.substr(1) == "ib")) unit.remove_suffix(2);
    if (unit.size() == 2 && (unit[1] == 'B' || unit[1] == 'b')) unit.remove_suffix(1);
    if (unit.size() != 1) return std::nullopt;
    uint64_t scale = 0;
    switch (unit[0]) {
        case 'k': case 'K': scale = kKiB; break;
        case 'm': case 'M': scale = kMiB; break;
        case 'g': case 'G': scale = kGiB; break;
        case 't': case 'T': scale = kTiB; break;
        default: return std::nullopt;
    }
    if (whole > kLargest / scale) return std::nullopt;
    uint64_t bytes = whole * scale;
    if (!fraction.empty()) {
        // The fraction of a unit, rounded up to a whole byte: at most 9 digits of a unit of at
        // most 2^40 bytes fit in 64 bits.
        uint64_t digits = 0, tens = 1;
        for (char c : fraction) {
            digits = digits * 10 + static_cast<uint64_t>(c - '0');
            tens *= 10;
        }
        uint64_t perUnit = scale / 1024;  // the unit in KiB, so the product stays small
        uint64_t part = (digits * perUnit * 1024 + tens - 1) / tens;
        if (perUnit == 0 || part > kLargest - bytes) return std::nullopt;
        bytes += part;
    }
    if (bytes == 0) return std::nullopt;
    return SizeRequest{false, bytes};
}

uint64_t roundUp(uint64_t bytes, uint64_t unit) {
    if (unit == 0) return bytes;
    uint64_t units = bytes / unit + (bytes % unit != 0 ? 1 : 0);
    return (units == 0 ? 1 : units) * unit;
}

std::string formatBytes(uint64_t bytes) {
    if (bytes < kMiB) return strf("%llu KiB", static_cast<unsigned long long>((bytes + kKiB - 1) / kKiB));
    if (bytes < kGiB) return strf("%.2f MiB", static_cast<double>(bytes) / kMiB);
    if (bytes < kTiB) return strf("%.2f GiB", static_cast<double>(bytes) / kGiB);
    return strf("%.2f TiB", static_cast<double>(bytes) / kTiB);
}

std::string sizeOption(uint64_t bytes) {
    uint64_t mib = roundUp(bytes, kMiB) / kMiB;
    if (mib % 1024 == 0) return strf("%lluG", static_cast<unsigned long long>(mib / 1024));
    return strf("%lluM", static_cast<unsigned long long>(mib));
}

}  // namespace snaphost
