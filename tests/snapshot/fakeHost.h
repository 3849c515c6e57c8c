// A host services object for in-process tests: records the plug-in's trace lines and messages,
// and installs itself as the library's host for its lifetime.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "piPlugin.h"
#include "pisnp/dstring.h"
#include "snapshot/hostServices.h"

namespace snaptest {

// One call of the host's message operation, with its inserts as text (numbers in decimal).
struct MessageCall {
    int number;
    std::vector<std::string> inserts;
};

// The library's shared empty string is made on first use and lives on. Making it before any
// test runs keeps it out of the allocation trackers' live counts.
inline const bool sharedEmptyStringMade = [] {
    DString warmUp;
    return true;
}();

class FakeHost {
  public:
    FakeHost() {
        current() = this;
        ops_.trace = &FakeHost::trace;
        ops_.message = &FakeHost::message;
        services_ = {&ops_, {}, 1, {}, &options_};
        std::snprintf(options_.msgRepository, sizeof options_.msgRepository, "arcclientV3.cat");
        sharedUtilP = &services_;
    }
    ~FakeHost() {
        sharedUtilP = nullptr;
        current() = nullptr;
    }
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    piHostServices_t* services() { return &services_; }
    piHostOptions_t& options() { return options_; }
    const std::vector<std::string>& lines() const { return lines_; }
    const std::vector<MessageCall>& messageCalls() const { return messageCalls_; }
    void clear() {
        lines_.clear();
        messageCalls_.clear();
    }
    // How many recorded lines contain text.
    int count(const std::string& text) const {
        int n = 0;
        for (const std::string& line : lines_) n += line.find(text) != std::string::npos;
        return n;
    }
    bool traced(const std::string& text) const { return count(text) > 0; }

  private:
    static FakeHost*& current() {
        static FakeHost* host = nullptr;
        return host;
    }
    static void trace(piHostServices_t*, const char*, int, const char* fmt, ...) {
        char text[4096];
        va_list args;
        va_start(args, fmt);
        std::vsnprintf(text, sizeof text, fmt, args);
        va_end(args);
        static std::mutex mutex;  // status callbacks trace from a second thread
        std::lock_guard lock(mutex);
        if (current() != nullptr) current()->lines_.emplace_back(text);
    }
    // A host knows each message's inserts from its catalog; these are the ones the plug-in
    // sends: 's' a string, 'd' an int.
    static void message(piHostServices_t*, char*, int msgNum, ...) {
        if (current() == nullptr) return;
        MessageCall call{msgNum, {}};
        va_list args;
        va_start(args, msgNum);
        for (const char* k = msgNum == 5250 ? "ssdsd" : msgNum == 8103 ? "sssdsd" : ""; *k; ++k)
            call.inserts.push_back(*k == 's' ? va_arg(args, const char*)
                                             : std::to_string(va_arg(args, int)));
        va_end(args);
        current()->messageCalls_.push_back(std::move(call));
    }

    piHostOps_t ops_{};
    piHostServices_t services_{};
    piHostOptions_t options_{};
    std::vector<std::string> lines_;
    std::vector<MessageCall> messageCalls_;
};

}  // namespace snaptest
