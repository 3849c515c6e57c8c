// The kind of client program the runtime serves. The trace prefix and the thread banner show
// it; the message system changes behaviour for a few kinds.
#pragma once

enum cliType_t {
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
