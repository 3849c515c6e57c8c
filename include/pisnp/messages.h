// The message system: client types, and starting and stopping the message catalogs.
//
// nlinit and nlterm are called by the plug-in's start-up and tear-down (or by a host that uses
// the runtime without the plug-in), from one thread at a time.
#pragma once

#include "pisnp_export.h"

// Client types: which kind of client program the runtime works for. Stored by the message system
// and the trace facility; types 4, 9, 10 and 11 change their behaviour.
enum cliType_t : int {
    ctCLBackup = 0,
    ctCLAdmin = 1,
    ctGUIBackup = 2,
    ctODBCDriver = 3,
    ctCLAPI = 4,
    ctCLSpaceMGT = 5,
    ctDICAD = 6,
    ctDIWebClient = 7,
    ctJBBDaemon = 8,
    ctUtlAppl = 9,
    ctCLUtlAppl = 10,
    ctGUIUtlAppl = 11,
    ctDIJavaGUI = 12,
};

// Message system start-up and shut-down.
//
// STAND-IN: until the catalog reader exists, start-up only checks its arguments and records the
// client type and formats, and shut-down only clears the started state. The interface is the
// final one, so callers do not change when the real start-up replaces this.
// Longest repository name the message system accepts (with its terminator).
inline constexpr int kNlsReposNameMax = 4352;

// Filled for the caller of nlinit.
struct nlsReturnInfo_t {
    char name[kNlsReposNameMax];  // the repository name, then the message locale chosen
    unsigned int dateFmt;
    unsigned int timeFmt;
    unsigned int numberFmt;
};

// The one message-catalog object of the process.
struct nlsObject_t {
    int initialised;  // 1 between nlinit and nlterm
    cliType_t clientType;
    int consoleTimeStamp;
};

// Resets the object and returns it; never null.
PISNP_API nlsObject_t* newNlsGlobalObject(void (**outputs)(char*), int mode);
// Starts the message catalogs. 0, or 610 when reposName is missing or empty.
PISNP_API int nlinit(char* reposName, int cacheSize, char* dsDir, cliType_t clientType,
                     unsigned int dateFmt, unsigned int timeFmt, unsigned int numberFmt,
                     nlsReturnInfo_t* retInfo, char* reposFile);
// Stops the message catalogs. 0.
PISNP_API int nlterm();
