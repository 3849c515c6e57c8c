// Client types: which kind of client program the runtime works for. Stored by the message system
// and the trace facility; types 4, 9, 10 and 11 change their behaviour.
#pragma once

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
