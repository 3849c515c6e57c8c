// Small text helpers of snaphost.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace snaphost {

// printf into a std::string.
std::string strf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The lines of text without their line ends, trailing blank lines dropped.
std::vector<std::string> lines(std::string_view text);
// Without blanks at either end.
std::string trim(std::string_view text);
// The command as a shell would take it back, so that what is shown can be pasted.
std::string shellWords(const std::vector<std::string>& argv);

}  // namespace snaphost
