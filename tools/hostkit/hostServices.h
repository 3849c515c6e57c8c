// The host services object that a host hands to piSnapshotInit: its table of operations, the
// trace switch and the options record, with the trace and message operations turned into calls
// of the host's own functions.
//
// The library keeps the object's address until it is unloaded, so an object must outlive every
// call into the library; hosts keep theirs for the whole process.
#pragma once

#include <functional>
#include <string>

#include "piPlugin.h"
#include "pluginMessages.h"

namespace hostkit {

class HostServices {
  public:
    // file is the library's bare source file name; text is the formatted trace line.
    using TraceSink = std::function<void(const char* file, int line, const std::string& text)>;
    using MessageSink = std::function<void(const PluginMessage& message)>;

    // repository: the message repository name the library's message system opens; it must not
    // be empty. clientDir: where the catalogs are; empty for the library's default.
    HostServices(const std::string& repository, const std::string& clientDir);
    ~HostServices();
    HostServices(const HostServices&) = delete;
    HostServices& operator=(const HostServices&) = delete;

    piHostServices_t* services() { return &object_.services; }
    piHostOptions_t& options() { return options_; }

    // With a sink the trace switch is on; with none the library makes no trace call at all.
    void onTrace(TraceSink sink);
    void onMessage(MessageSink sink);
    // False, and nothing changed, when the text does not fit the options record.
    bool setClientDir(const std::string& dir);
    bool setRepository(const std::string& name);

    // Calls that reached an operation with an object pointer that is no live HostServices
    // object: a fault of the library, which a test host counts. Such calls are dropped.
    static int misdirectedCalls();

  private:
    // The library reads the services record at fixed offsets; the owner pointer behind it is
    // how an operation finds its way back to this object.
    struct Object {
        piHostServices_t services;
        HostServices* owner;
    };

    static HostServices* ownerOf(piHostServices_t* self);
    static void traceOp(piHostServices_t* self, const char* file, int line, const char* fmt, ...);
    static void messageOp(piHostServices_t* self, char* buf, int msgNum, ...);

    Object object_{};
    piHostOps_t ops_{};
    piHostOptions_t options_{};
    TraceSink trace_;
    MessageSink message_;
};

}  // namespace hostkit
