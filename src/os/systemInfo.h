// The process-wide system information record.
//
// So far it holds only the client's executable directory, which command execution needs to
// find its helper program. Nothing in the library fills it: the host does, with a string from
// malloc ending in "/". Not exported yet.
#pragma once

struct dsSystemInfo_t {
    char* execDir;  // null until the host sets it
};

dsSystemInfo_t* dsGetSystemInfo();
