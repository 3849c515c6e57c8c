#include "hostServices.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace hostkit {
namespace {

// The library may trace from a second thread (a status callback during termination), so the
// list of live objects is locked.
std::mutex gLiveMutex;
std::vector<HostServices*> gLive;
int gMisdirected;

std::string format(const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int len = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (len < 0) return std::string(fmt);
    std::string out(static_cast<size_t>(len) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), fmt, args);
    out.resize(static_cast<size_t>(len));
    return out;
}

bool copyInto(char* field, size_t room, const std::string& text) {
    if (text.size() >= room) return false;
    std::memcpy(field, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace

HostServices::HostServices(const std::string& repository, const std::string& clientDir) {
    ops_.trace = traceOp;
    ops_.message = messageOp;
    object_.services.ops = &ops_;
    object_.services.options = &options_;
    object_.owner = this;
    setRepository(repository);
    setClientDir(clientDir);
    std::lock_guard<std::mutex> lock(gLiveMutex);
    gLive.push_back(this);
}

HostServices::~HostServices() {
    std::lock_guard<std::mutex> lock(gLiveMutex);
    gLive.erase(std::remove(gLive.begin(), gLive.end(), this), gLive.end());
}

void HostServices::onTrace(TraceSink sink) {
    trace_ = std::move(sink);
    object_.services.traceOn = trace_ ? 1 : 0;
}

void HostServices::onMessage(MessageSink sink) {
    message_ = std::move(sink);
}

bool HostServices::setClientDir(const std::string& dir) {
    return copyInto(options_.clientDir, sizeof options_.clientDir, dir);
}

bool HostServices::setRepository(const std::string& name) {
    return copyInto(options_.msgRepository, sizeof options_.msgRepository, name);
}

int HostServices::misdirectedCalls() {
    std::lock_guard<std::mutex> lock(gLiveMutex);
    return gMisdirected;
}

HostServices* HostServices::ownerOf(piHostServices_t* self) {
    std::lock_guard<std::mutex> lock(gLiveMutex);
    for (HostServices* host : gLive)
        if (host->services() == self) return host;
    ++gMisdirected;
    return nullptr;
}

void HostServices::traceOp(piHostServices_t* self, const char* file, int line, const char* fmt,
                           ...) {
    // The library relies on every trace call leaving errno as it was.
    int savedErrno = errno;
    HostServices* host = ownerOf(self);
    if (host != nullptr && host->trace_ && fmt != nullptr) {
        va_list args;
        va_start(args, fmt);
        std::string text = format(fmt, args);
        va_end(args);
        host->trace_(file != nullptr ? file : "?", line, text);
    }
    errno = savedErrno;
}

void HostServices::messageOp(piHostServices_t* self, char* buf, int msgNum, ...) {
    (void)buf;  // scratch the library frees unread: the sink does all the reporting
    int savedErrno = errno;
    HostServices* host = ownerOf(self);
    if (host != nullptr && host->message_) {
        va_list args;
        va_start(args, msgNum);
        PluginMessage message = decodeMessage(msgNum, args);
        va_end(args);
        host->message_(message);
    }
    errno = savedErrno;
}

}  // namespace hostkit
