#include "sizes.h"

#include <cmath>
#include <cstdlib>
#include <limits>

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
    std::string s(text);
    if (s.empty() || !(s[0] >= '0' && s[0] <= '9')) return std::nullopt;
    size_t digits = s.find_first_not_of("0123456789");
    std::string_view rest = digits == std::string::npos ? "" : std::string_view(s).substr(digits);
    if (rest.empty() || rest == "%") {
        if (digits == std::string::npos) digits = s.size();
        if (digits > 3) return std::nullopt;
        unsigned long value = std::strtoul(s.c_str(), nullptr, 10);
        if (value < 1 || value > 100) return std::nullopt;
        return SizeRequest{true, value};
    }
    // A number with an optional fraction, then the unit.
    size_t numberEnd = digits;
    if (rest[0] == '.') {
        numberEnd = s.find_first_not_of("0123456789", digits + 1);
        if (numberEnd == std::string::npos || numberEnd == digits + 1) return std::nullopt;
    }
    std::string unit = s.substr(numberEnd);
    if (unit.size() == 3 && (unit.substr(1) == "iB" || unit.substr(1) == "ib")) unit.resize(1);
    if (unit.size() == 2 && (unit[1] == 'B' || unit[1] == 'b')) unit.resize(1);
    if (unit.size() != 1) return std::nullopt;
    uint64_t scale = 0;
    switch (unit[0]) {
        case 'k': case 'K': scale = kKiB; break;
        case 'm': case 'M': scale = kMiB; break;
        case 'g': case 'G': scale = kGiB; break;
        case 't': case 'T': scale = kTiB; break;
        default: return std::nullopt;
    }
    if (numberEnd > 20) return std::nullopt;
    long double number = std::strtold(s.substr(0, numberEnd).c_str(), nullptr);
    long double bytes = std::ceil(number * static_cast<long double>(scale));
    if (!(bytes >= 1) || bytes > static_cast<long double>(kLargest)) return std::nullopt;
    return SizeRequest{false, static_cast<uint64_t>(bytes)};
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
