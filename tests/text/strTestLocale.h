// Switches the process to a UTF-8 locale for one test and puts the previous one back.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace pisnp_test {

class Utf8Locale {
  public:
    Utf8Locale() : previous_(std::setlocale(LC_ALL, nullptr)) {
        active_ = std::setlocale(LC_ALL, "C.UTF-8") != nullptr ||
                  std::setlocale(LC_ALL, "C.utf8") != nullptr;
    }
    ~Utf8Locale() { std::setlocale(LC_ALL, previous_.c_str()); }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;

    bool active() const { return active_; }

  private:
    std::string previous_;
    bool active_ = false;
};

}  // namespace pisnp_test

// Opens a test that needs multibyte text; skips it where no UTF-8 locale is installed.
#define NEED_UTF8_LOCALE()                \
    ::pisnp_test::Utf8Locale utf8Locale_; \
    if (!utf8Locale_.active()) GTEST_SKIP() << "no UTF-8 locale available"
