// The host's services as the snapshot plug-in uses them.
//
// The plug-in keeps the host services object from piSnapshotInit on and never frees it. Its
// trace lines go to the host's trace operation (never to the runtime's own trace facility), and
// only while the host's trace switch is on, so a host that does not trace pays nothing.
#pragma once

#include <cerrno>

#include "pisnp/plugin.h"

// One trace line to the host, with the caller's source file name and line: SNAP_TRACE(fmt, ...).
// errno is left as it was, whatever the host's operation does with it.
#define SNAP_TRACE(...)                                                                     \
    do {                                                                                    \
        piHostServices_t* snapHost_ = sharedUtilP;                                          \
        if (snapHost_ != nullptr && snapHost_->traceOn != 0 && snapHost_->ops != nullptr && \
            snapHost_->ops->trace != nullptr) {                                             \
            int snapErrno_ = errno;                                                         \
            snapHost_->ops->trace(snapHost_, __FILE_NAME__, __LINE__, __VA_ARGS__);         \
            errno = snapErrno_;                                                             \
        }                                                                                   \
    } while (0)

// Reports catalog message msgNum with its inserts through the host's message operation:
// SNAP_HOST_MESSAGE(buf, msgNum, inserts...). buf must hold PI_HOST_MSGBUF_SIZE bytes.
#define SNAP_HOST_MESSAGE(buf, ...)                                 \
    do {                                                            \
        piHostServices_t* snapHost_ = sharedUtilP;                  \
        if (snapHost_ != nullptr && snapHost_->ops != nullptr &&    \
            snapHost_->ops->message != nullptr)                     \
            snapHost_->ops->message(snapHost_, (buf), __VA_ARGS__); \
    } while (0)
