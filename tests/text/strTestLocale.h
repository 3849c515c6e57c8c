// Switches the process to a locale for one test and puts the previous one back.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <initializer_list>
#include <string>

namespace pisnp_test {

class ScopedLocale {
  public:
    // The first of the names that the machine has.
    ScopedLocale(std::initializer_list<const char*> names)
        : previous_(std::setlocale(LC_ALL, nullptr)) {
        for (const char* name : names) {
            if (std::setlocale(LC_ALL, name) != nullptr) {
                active_ = true;
                break;
            }
        }
    }
    ~ScopedLocale() { std::setlocale(LC_ALL, previous_.c_str()); }

    bool active() const { return active_; }

  private:
    std::string previous_;
    bool active_ = false;
};

}  // namespace pisnp_test

// Opens a test that needs multibyte text; skips it where no UTF-8 locale is installed.
#define NEED_UTF8_LOCALE()                                         \
    ::pisnp_test::ScopedLocale utf8Locale_({"C.UTF-8", "C.utf8"}); \
    if (!utf8Locale_.active()) GTEST_SKIP() << "no UTF-8 locale available"
