/* A host written in plain C against include/ only: every public header compiles as C (with its
 * layout checks), the dlsym forms match the declarations, and the program loads the library
 * with dlopen, hands it a services object of its own and drives the plug-in entry points the way
 * a backup client does.
 * Usage: host_plugin path/to/libPiSNP.so */
#include <dlfcn.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "bkpSnapshot.h"
#include "bkpSnapVolumeList.h"
#include "hostTest.h"
#include "piPlugin.h"
#include "pisnp_export.h"
#include "pisnp_layout.h"

#define SAME_TYPE(fn, type) \
    _Static_assert(_Generic(&fn, type : 1, default : 0), #fn " matches " #type)

SAME_TYPE(piQueryApp, piQueryApp_fn);
SAME_TYPE(piSnapshotInit, piSnapshotInit_fn);
SAME_TYPE(piTerminate, piTerminate_fn);
SAME_TYPE(bkpInitializeSnapshotSet, bkpInitializeSnapshotSet_fn);
SAME_TYPE(bkpInitializeSnapshot, bkpInitializeSnapshot_fn);
SAME_TYPE(bkpTerminateSnapshot, bkpTerminateSnapshot_fn);
SAME_TYPE(bkpStartSnapshot, bkpStartSnapshot_fn);
SAME_TYPE(bkpPreStartSnapshot, bkpPreStartSnapshot_fn);
SAME_TYPE(bkpPostStartSnapshot, bkpPostStartSnapshot_fn);
SAME_TYPE(bkpEndSnapshot, bkpEndSnapshot_fn);
SAME_TYPE(bkpOBFGetInfo, bkpOBFGetInfo_fn);
SAME_TYPE(bkpSnapshotStatusCallback, bkpSnapshotStatusCallback_fn);
SAME_TYPE(bkpSnapshotGetErrorInfo, bkpSnapshotGetErrorInfo_fn);
SAME_TYPE(bkpCancelSnapshot, bkpCancelSnapshot_fn);
SAME_TYPE(bkpSnapshotAction, bkpSnapshotAction_fn);

/* ---- the host's side ---- */

/* The library sees the services object's first part only; a real host's object goes on. */
typedef struct {
    piHostServices_t services;
    unsigned char hostPrivate[512];
} HostObject;

static HostObject host;
static piHostOps_t hostOps;
static piHostOptions_t hostOptions;

static int traceCalls, misdirectedTraceCalls, messageCalls;
static char traceLog[256 * 1024];
static size_t traceLen;

static void hostTrace(piHostServices_t* self, const char* file, int line, const char* fmt, ...) {
    ++traceCalls;
    /* The library must pass this object and its own bare source file name and line. */
    if (self != &host.services || file == NULL || *file == '\0' || strchr(file, '/') != NULL ||
        line <= 0)
        ++misdirectedTraceCalls;
    char text[2048];
    va_list args;
    va_start(args, fmt);
    vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    size_t n = strlen(text);
    if (traceLen + n + 1 < sizeof traceLog) {
        memcpy(traceLog + traceLen, text, n + 1);
        traceLen += n;
    }
}

static void hostMessage(piHostServices_t* self, char* buf, int msgNum, ...) {
    (void)self;
    (void)buf;
    (void)msgNum;
    ++messageCalls;
}

static void clearTrace(void) {
    traceCalls = 0;
    traceLen = 0;
    traceLog[0] = '\0';
}

static int traced(const char* text) {
    return strstr(traceLog, text) != NULL;
}

static void setUpHost(void) {
    hostOps.trace = hostTrace;
    hostOps.message = hostMessage;
    host.services.ops = &hostOps;
    host.services.traceOn = 1;
    host.services.options = &hostOptions;
    /* No client directory: the library finds the catalogs next to itself. */
    strcpy(hostOptions.msgRepository, "arcclientV3.cat");
}

/* ---- the library's side ---- */

static piQueryApp_fn queryApp;
static piSnapshotInit_fn snapshotInit;
static piTerminate_fn terminate;

static int16_t startLibrary(piSnapshotInitOut_t* out) {
    piSnapshotInitIn_t in;
    memset(&in, 0, sizeof in);
    in.hostServices = &host.services;
    memset(out, 0xFF, sizeof *out);
    return snapshotInit(&in, out);
}

/* ---- the checks ---- */

static void initWithoutQueryIsRefused(void) {
    piSnapshotInitOut_t out;
    clearTrace();
    CHECK(startLibrary(&out) == 24);
    CHECK(traced("bkpInitializeSnapshot(): Invalid snap provider <0>.\n"));
    CHECK(out.versionMajor == 0xFFFF && out.versionMinor == 0xFFFF);
    /* The registry was made before the refusal; tearing down must cope with it. */
    CHECK(terminate() == 0);
}

static void queryFillsTheRecord(void) {
    static const char banner[] =
        "******************************************************\n"
        "Snapshot Utility\n"
        "******************************************************";
    piAppInfo_t info;
    memset(&info, 0xAA, sizeof info);
    info.hostAttrib = NULL;
    CHECK(queryApp(NULL, &info) == 0);
    CHECK(info.infoVersion == 3);
    CHECK(strcmp(info.appName, "PISNAPSHOT") == 0);
    CHECK(strcmp(info.libName, "libPiSNP.so") == 0);
    CHECK(strcmp(info.banner, banner) == 0);
    CHECK(info.appKind == 8);
    CHECK(info.apiVersion == 1);
    CHECK(info.apiRelease == 10);
    CHECK(info.capabilities == 9);
    CHECK(info.level == 9);
    CHECK(info.hostAttrib == NULL);
    CHECK(info.reserved1328 == 0);
    CHECK(info.extra[0] == '\0');

    /* With storage of its own the host gets the whole attribute record. */
    piSnapAttrib_t attrib;
    memset(&attrib, 0xEE, sizeof attrib);
    memset(&info, 0xAA, sizeof info);
    info.hostAttrib = &attrib;
    CHECK(queryApp(NULL, &info) == 0);
    CHECK(info.hostAttrib == &attrib);
    piSnapAttrib_t expected;
    memset(&expected, 0, sizeof expected);
    expected.attribVersion = 1;
    expected.attribLevel = 2;
    expected.providerType = 2;
    expected.capabilities = 9;
    CHECK(memcmp(&attrib, &expected, sizeof attrib) == 0);
    CHECK(info.capabilities == 9);
}

static void initStartsOneProvider(void) {
    piSnapshotInitOut_t out;
    clearTrace();
    CHECK(startLibrary(&out) == 0);
    CHECK(out.versionMajor == 0 && out.versionMinor == 0);
    CHECK(traced("Returning snapshot ID 1.\n"));
    CHECK(traced("Adding snapshot instance 1.\n"));
    CHECK(traced("1 current snapshot instances.\n"));
    CHECK(traced("piSnapshotInit(): Snapshot Provider <2>, Version<0>.<0>\n"));

    /* A second start while running changes nothing and creates no second provider. */
    clearTrace();
    CHECK(startLibrary(&out) == 0);
    CHECK(traced("piSnapshotInit(): Invalid snapshotHandle='1' or snapProviderP is null\n"));
    CHECK(!traced("Returning snapshot ID"));
    CHECK(!traced("Adding snapshot instance"));

    clearTrace();
    CHECK(terminate() == 0);
    CHECK(traced("Removing snapshot instance 1.\n"));
    CHECK(traced("0 current snapshot instances.\n"));
    CHECK(traced("Deleting global data object.\n"));

    /* After a tear-down the library starts afresh, with IDs from 1 again. */
    clearTrace();
    CHECK(startLibrary(&out) == 0);
    CHECK(traced("Returning snapshot ID 1.\n"));
    CHECK(terminate() == 0);
}

static void emptyRepositoryStopsStartUp(void) {
    piSnapshotInitOut_t out;
    char saved = hostOptions.msgRepository[0];
    hostOptions.msgRepository[0] = '\0';
    clearTrace();
    CHECK(startLibrary(&out) == 610);
    CHECK(!traced("Adding snapshot instance"));
    CHECK(terminate() == 0);
    hostOptions.msgRepository[0] = saved;
}

static void traceSwitchOffSilencesEveryPath(void) {
    piSnapshotInitOut_t out;
    host.services.traceOn = 0;
    clearTrace();
    CHECK(startLibrary(&out) == 0);
    CHECK(startLibrary(&out) == 0);
    CHECK(terminate() == 0);
    char saved = hostOptions.msgRepository[0];
    hostOptions.msgRepository[0] = '\0';
    CHECK(startLibrary(&out) == 610);
    CHECK(terminate() == 0);
    hostOptions.msgRepository[0] = saved;
    CHECK(terminate() == 0);
    CHECK(traceCalls == 0);
    host.services.traceOn = 1;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s libPiSNP.so\n", argv[0]);
        return 2;
    }
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        printf("0 passed, 1 failed\n");
        return 1;
    }
    /* Object pointers converted to function pointers: what every dlsym host does. */
    *(void**)&queryApp = dlsym(lib, "piQueryApp");
    *(void**)&snapshotInit = dlsym(lib, "piSnapshotInit");
    *(void**)&terminate = dlsym(lib, "piTerminate");
    CHECK(queryApp != NULL && snapshotInit != NULL && terminate != NULL);
    if (queryApp == NULL || snapshotInit == NULL || terminate == NULL) {
        printf("%d passed, %d failed\n", passed, failed);
        return 1;
    }

    setUpHost();
    initWithoutQueryIsRefused(); /* must come first: it needs a library that was never queried */
    queryFillsTheRecord();
    initStartsOneProvider();
    emptyRepositoryStopsStartUp();
    traceSwitchOffSilencesEveryPath();
    CHECK(misdirectedTraceCalls == 0);
    CHECK(messageCalls == 0);

    /* Not unloaded: the runtime keeps a few blocks for the whole process (made on first use),
     * which would look lost to a leak checker once the library's globals are gone. */
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
