/* A host on the project's host kit that drives whole snapshots through libPiSNP.so, against the
 * fake volume manager: run it through run-in-namespace.sh, which puts the fakes at /sbin and an
 * empty tmpfs at /dev/$FAKELVM_VG.
 * Usage: run-in-namespace.sh host_road path/to/libPiSNP.so */
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "hostServices.h"
#include "hostTest.h"
#include "pluginLibrary.h"

/* ---- the host's side ---- */

static hostkit::HostServices* host;
static int misdirectedTraceCalls;
static char traceLog[512 * 1024];
static size_t traceLen;
static pthread_mutex_t traceMutex = PTHREAD_MUTEX_INITIALIZER;

static void hostTrace(const char* file, int line, const std::string& text) {
    pthread_mutex_lock(&traceMutex);
    if (strchr(file, '/') != NULL || line <= 0) ++misdirectedTraceCalls;
    if (traceLen + text.size() + 1 < sizeof traceLog) {
        memcpy(traceLog + traceLen, text.c_str(), text.size() + 1);
        traceLen += text.size();
    }
    pthread_mutex_unlock(&traceMutex);
}

/* The last message, as a host would render it from its catalog. */
static int messageCount;
static hostkit::PluginMessage last;

static void hostMessage(const hostkit::PluginMessage& message) {
    ++messageCount;
    last = message;
}

static void clearHost(void) {
    traceLen = 0;
    traceLog[0] = '\0';
    messageCount = 0;
    last = hostkit::PluginMessage();
}

static int traced(const char* text) {
    return strstr(traceLog, text) != NULL;
}

/* ---- the fake volume manager's side ---- */

static const char* vg;
static char logPath[1024], controlPath[1024], ranPath[1024];

static void answer(const char* assignments) {
    FILE* f = fopen(controlPath, "w");
    if (f != NULL) {
        fprintf(f, "%s\n", assignments);
        fclose(f);
    }
}

/* Number of lines in the fakes' log, and the last one. */
static int logLines(char* last, size_t room) {
    FILE* f = fopen(logPath, "r");
    int n = 0;
    char line[2048];
    if (last != NULL) last[0] = '\0';
    if (f == NULL) return 0;
    while (fgets(line, sizeof line, f) != NULL) {
        ++n;
        line[strcspn(line, "\n")] = '\0';
        if (last != NULL) snprintf(last, room, "%s", line);
    }
    fclose(f);
    return n;
}

static int nodeExists(const char* devicePath) {
    struct stat st;
    return stat(devicePath, &st) == 0;
}

static void snapshotNameAt(time_t t, char* out, size_t room) {
    struct tm tm;
    localtime_r(&t, &tm);
    snprintf(out, room, "bkpsnapshot_date_%d_%d_%d_time_%d.%d.%d", tm.tm_mon + 1, tm.tm_mday,
             tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

/* Makes the device nodes of the names of the seconds from..to (relative to now) exist. */
static void occupyNames(int from, int to) {
    time_t now = time(NULL);
    for (int i = from; i <= to; ++i) {
        char name[128], path[512];
        snapshotNameAt(now + i, name, sizeof name);
        snprintf(path, sizeof path, "/dev/%s/%s", vg, name);
        FILE* f = fopen(path, "w");
        if (f != NULL) fclose(f);
    }
}

static void clearNodes(void) {
    char cmd[512];
    snprintf(cmd, sizeof cmd, "rm -f /dev/%s/bkpsnapshot_*", vg);
    CHECK(system(cmd) == 0);
}

static double now(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

/* A small file's whole text, or "" when it cannot be read. */
static void readText(const char* path, char* out, size_t room) {
    FILE* f = fopen(path, "r");
    size_t n = 0;
    if (f != NULL) {
        n = fread(out, 1, room - 1, f);
        fclose(f);
    }
    out[n] = '\0';
}

/* ---- the library's side ---- */

static const hostkit::EntryPoints* lib;

static char source[256], namePrefix[300];
static bkpSnapVolumeList_t volumes;

static bkpSnapshotInitIn_t record(char* pre, char* post) {
    bkpSnapshotInitIn_t in;
    memset(&in, 0, sizeof in);
    in.preSnapshotCmd = pre;
    in.postSnapshotCmd = post;
    return in;
}

/* A snapshot made in mode 0 without commands, and started. */
static unsigned int startedSnapshot(bkpSnapshotStartOut_t* out) {
    bkpSnapshotInitIn_t in = record(NULL, NULL);
    unsigned int handle = 0;
    CHECK(lib->initializeSnapshot(&volumes, &in, BKP_SNAP_MODE_CREATE_AND_PREPARE, &handle, 0) == 0);
    CHECK(lib->startSnapshot(handle, out) == 0);
    return handle;
}

/* ---- the checks ---- */

static void wholeRoadInOneCall(void) {
    char pre[1200], post[1200];
    snprintf(pre, sizeof pre, "echo pre >> %s", ranPath);
    snprintf(post, sizeof post, "echo post >> %s", ranPath);
    bkpSnapshotInitIn_t in = record(pre, post);
    unsigned int handle = 0;
    clearHost();
    CHECK(lib->initializeSnapshot(&volumes, &in, BKP_SNAP_MODE_CREATE_AND_PREPARE, &handle, 0) == 0);
    CHECK(handle == 2); /* the start-up provider has 1 */
    CHECK(traced("bkpInitializeSnapshot(): Entering...\n"));
    CHECK(traced("DSnapshotProvider::DSnapshotProvider(): using root bin directory: </sbin/>\n"));

    bkpSnapshotCmdRec_t cmd;
    memset(&cmd, 0, sizeof cmd);
    cmd.cmdRc = -5;
    CHECK(lib->preStartSnapshot(handle, &cmd) == 0 && cmd.cmdRc == 0);

    bkpSnapshotStartOut_t out;
    memset(&out, 0xAB, sizeof out);
    int before = logLines(NULL, 0);
    CHECK(lib->startSnapshot(handle, &out) == 0);
    CHECK(out.reserved0[0] == 0xAB && out.reserved0[11] == 0xAB);
    CHECK(out.props.propsVersion == 1);
    CHECK(strncmp(out.props.devicePath, namePrefix, strlen(namePrefix)) == 0);
    CHECK(nodeExists(out.props.devicePath));
    const char* name = strrchr(out.props.devicePath, '/') + 1;
    char last[2048], expected[sizeof out.props.devicePath + 256];
    CHECK(logLines(last, sizeof last) == before + 1);
    snprintf(expected, sizeof expected, "lvcreate -L 1048576K -n %s -s %s", name, source);
    CHECK(strcmp(last, expected) == 0);
    snprintf(expected, sizeof expected,
             "DSnapshotProvider::startSnapshot(): snap cmd: </sbin/lvcreate -L 1048576K -n %s "
             "-s %s 1>/dev/null>\n",
             name, source);
    CHECK(traced(expected));

    cmd.cmdRc = -5;
    CHECK(lib->postStartSnapshot(handle, &cmd) == 0 && cmd.cmdRc == 0);
    CHECK(lib->endSnapshot(handle, 1) == 0);

    double start = now();
    CHECK(lib->terminateSnapshot(handle) == 0);
    CHECK(now() - start >= 0.95);
    CHECK(!nodeExists(out.props.devicePath));
    logLines(last, sizeof last);
    snprintf(expected, sizeof expected, "lvremove -f %s", out.props.devicePath);
    CHECK(strcmp(last, expected) == 0);
    CHECK(messageCount == 0);
    char ran[64];
    readText(ranPath, ran, sizeof ran);
    CHECK(strcmp(ran, "pre\npost\n") == 0);
}

static void createThenPrepare(void) {
    bkpSnapshotInitIn_t in = record(NULL, NULL);
    in.snapParam1 = 17;
    unsigned int handle = 0;
    CHECK(lib->initializeSnapshot(&volumes, &in, BKP_SNAP_MODE_CREATE, &handle, 0) == 0);
    CHECK(in.snapParam2 == 17);
    unsigned int again = handle;
    CHECK(lib->initializeSnapshot(&volumes, &in, BKP_SNAP_MODE_PREPARE, &again, 0) == 0);
    CHECK(again == handle);
    bkpSnapshotStartOut_t out;
    CHECK(lib->startSnapshot(handle, &out) == 0);
    CHECK(nodeExists(out.props.devicePath));
    CHECK(lib->terminateSnapshot(handle) == 0);
    CHECK(!nodeExists(out.props.devicePath));
}

static void snapshotSets(void) {
    bkpSnapshotInitIn_t in = record(NULL, NULL);
    unsigned int set = 0;
    int before = logLines(NULL, 0);
    clearHost();
    CHECK(lib->initializeSnapshotSet(NULL, &in, BKP_SNAPSET_MODE_CREATE, &set) == 0);
    CHECK(lib->initializeSnapshotSet(NULL, &in, BKP_SNAPSET_MODE_PREPARE, &set) == 0);
    CHECK(traced("bkpInitializeSnapshotSet(): Error '5' preparing snapshot\n"));
    CHECK(lib->initializeSnapshotSet(NULL, &in, 3, &set) == 2);
    CHECK(traced("bkpInitializeSnapshotSet(): ERROR: Invalid snap set mode '3\n"));
    /* A set creates no volume, so terminating it removes none. */
    CHECK(lib->terminateSnapshot(set) == 0);
    CHECK(logLines(NULL, 0) == before);
}

static void volumeManagerFailures(void) {
    bkpSnapshotInitIn_t in = record(NULL, NULL);
    unsigned int handle = 0;
    bkpSnapshotStartOut_t out;

    /* lvcreate fails and says why: its text reaches the host under 5250. */
    CHECK(lib->initializeSnapshot(&volumes, &in, BKP_SNAP_MODE_CREATE_AND_PREPARE, &handle, 0) == 0);
    answer("FAKELVM_LVCREATE_RC=5; FAKELVM_LVCREATE_ERR='  Insufficient free space: 256 extents'");
    clearHost();
    CHECK(lib->startSnapshot(handle, &out) == 5);
    CHECK(!nodeExists(out.props.devicePath));
    /* Written after a failure too, so the host knows which device was meant. */
    CHECK(strncmp(out.props.devicePath, namePrefix, strlen(namePrefix)) == 0);
    CHECK(messageCount == 1 && last.number == 5250 && last.known);
    CHECK(last.where == "DSnapshotProvider::startSnapshot():");
    CHECK(last.errorText == "  Insufficient free space: 256 extents\n");
    CHECK(last.commandRc == 5);
    CHECK(last.file == "lvmSnapshotOps.cpp");
    CHECK(last.line > 0);
    CHECK(traced("DSnapshotProvider::startSnapshot(): Exiting, rc=5\n"));

    /* Failing silently: the same code, nothing to report. */
    answer("FAKELVM_LVCREATE_RC=3");
    clearHost();
    CHECK(lib->startSnapshot(handle, &out) == 5);
    CHECK(messageCount == 0);

    /* A snapshot that was never made is not this provider's to remove: nothing runs, 0. */
    answer("");
    clearHost();
    CHECK(lib->terminateSnapshot(handle) == 0);
    CHECK(messageCount == 0);
    CHECK(traced("DSnapshotProvider::deleteSnapshot(): Exiting, rc = 0"));
    CHECK(!traced("lvremove"));

    /* lvremove refuses a snapshot that exists: 24, the node stays, the handle is gone. */
    handle = startedSnapshot(&out);
    answer("FAKELVM_LVREMOVE_RC=5; FAKELVM_LVREMOVE_ERR='  Logical volume is in use'");
    clearHost();
    char expected[sizeof out.props.devicePath + 64];
    snprintf(expected, sizeof expected, "/sbin/lvremove -f %s 1>/dev/null", out.props.devicePath);
    CHECK(lib->terminateSnapshot(handle) == 24);
    CHECK(messageCount == 1 && last.number == 8103 && last.known);
    CHECK(last.command == expected);
    CHECK(last.where == "DSnapshotProvider::deleteSnapshot():");
    CHECK(last.errorText == "  Logical volume is in use\n");
    CHECK(last.commandRc == 5);
    CHECK(last.file == "lvmSnapshotOps.cpp");
    CHECK(traced("DSnapshotProvider::deleteSnapshot(): Exiting, rc = 24"));
    CHECK(nodeExists(out.props.devicePath));
    CHECK(lib->endSnapshot(handle, 1) == -1);
    answer("");
    clearNodes();
}

static void hostCommands(void) {
    char pre[] = "exit 3", post9[] = "exit 9";
    bkpSnapshotInitIn_t in = record(pre, post9);
    unsigned int both = 0, postOnly = 0;
    CHECK(lib->initializeSnapshot(&volumes, &in, BKP_SNAP_MODE_CREATE, &both, 0) == 0);
    bkpSnapshotCmdRec_t cmd;
    memset(&cmd, 0, sizeof cmd);
    /* cmdRc carries the command's own status; the answer says which command failed. */
    CHECK(lib->preStartSnapshot(both, &cmd) == 3 && cmd.cmdRc == 3);
    cmd.postNeedsPre = 1;
    CHECK(lib->postStartSnapshot(both, &cmd) == 4 && cmd.cmdRc == 9);
    CHECK(lib->cancelSnapshot(both, 1) == 0);
    CHECK(lib->snapshotAction(both, NULL, NULL) == 0);
    bkpOBFInfo_t obf;
    CHECK(lib->obfGetInfo(both, &obf) == 0 && obf.obfVersion == 1);

    char post[1200];
    snprintf(post, sizeof post, "echo late >> %s", ranPath);
    in = record(NULL, post);
    CHECK(lib->initializeSnapshot(&volumes, &in, BKP_SNAP_MODE_CREATE, &postOnly, 0) == 0);
    remove(ranPath);
    /* Nothing to run: the answer is 0 and cmdRc stays as the host left it. */
    cmd.cmdRc = -5;
    CHECK(lib->preStartSnapshot(postOnly, &cmd) == 0 && cmd.cmdRc == -5);
    cmd.postNeedsPre = 1;
    CHECK(lib->postStartSnapshot(postOnly, &cmd) == 0 && cmd.cmdRc == -5);
    CHECK(access(ranPath, F_OK) != 0);
    cmd.postNeedsPre = 0;
    CHECK(lib->postStartSnapshot(postOnly, &cmd) == 0 && cmd.cmdRc == 0);
    CHECK(access(ranPath, F_OK) == 0);
    /* Both stay registered: the library's tear-down deletes them without removing volumes. */
}

static void unknownHandles(void) {
    const unsigned int unknown = 4040;
    unsigned int handle = unknown;
    bkpSnapshotInitIn_t in = record(NULL, NULL);
    bkpSnapshotStartOut_t out;
    bkpOBFInfo_t obf;
    bkpSnapshotStatus status;
    CHECK(lib->terminateSnapshot(unknown) == -1);
    CHECK(lib->startSnapshot(unknown, &out) == -1);
    CHECK(lib->obfGetInfo(unknown, &obf) == 102);
    CHECK(lib->statusCallback(unknown, &status) == -1);
    CHECK(lib->initializeSnapshot(&volumes, &in, BKP_SNAP_MODE_PREPARE, &handle, 0) == 24);
    CHECK(lib->initializeSnapshotSet(NULL, &in, BKP_SNAPSET_MODE_PREPARE, &handle) == 24);
}

/* Names that exist already are skipped, a second apart; when every name tried is taken the
 * snapshot fails, is forgotten, and its error record can still be read. */
static void nameRetries(void) {
    bkpSnapshotStartOut_t out;
    occupyNames(0, 1);
    double start = now();
    unsigned int handle = startedSnapshot(&out);
    CHECK(now() - start >= 0.95);
    CHECK(nodeExists(out.props.devicePath));
    CHECK(lib->terminateSnapshot(handle) == 0);
    /* The occupied names are still there, so the one chosen was another. */
    CHECK(!nodeExists(out.props.devicePath));
    clearNodes();

    occupyNames(-1, 10);
    clearHost();
    bkpSnapshotInitIn_t in = record(NULL, NULL);
    start = now();
    CHECK(lib->initializeSnapshot(&volumes, &in, BKP_SNAP_MODE_CREATE_AND_PREPARE, &handle, 0) == 5);
    CHECK(now() - start >= 4.9);
    CHECK(traced("bkpInitializeSnapshot(): Error 5 preparing snapshot\n"));
    bkpSnapshotErrorInfo_t info;
    memset(&info, 0x6B, sizeof info);
    CHECK(lib->getErrorInfo(handle, &info) == 0);
    CHECK(info.data[0] == 0 && info.data[sizeof info.data - 1] == 0);
    CHECK(traced("is still NULL")); /* the handle was forgotten */
    clearNodes();
}

static unsigned int callbackHandle;
static volatile int terminating;
static int callbackRc = -100;
static unsigned char statusAfter[48];

static void* hostStatusThread(void* arg) {
    (void)arg;
    while (!__atomic_load_n(&terminating, __ATOMIC_ACQUIRE)) usleep(1000);
    /* Well inside termination's first pause of a second. */
    usleep(300 * 1000);
    bkpSnapshotStatus status;
    memset(&status, 0xEE, sizeof status);
    callbackRc = lib->statusCallback(callbackHandle, &status);
    memcpy(statusAfter, &status, sizeof statusAfter);
    return NULL;
}

static void statusCallbackWhileTerminating(void) {
    bkpSnapshotStartOut_t out;
    callbackHandle = startedSnapshot(&out);
    pthread_t thread;
    CHECK(pthread_create(&thread, NULL, hostStatusThread, NULL) == 0);
    __atomic_store_n(&terminating, 1, __ATOMIC_RELEASE);
    CHECK(lib->terminateSnapshot(callbackHandle) == 0);
    pthread_join(thread, NULL);
    CHECK(callbackRc == 0);
    CHECK(statusAfter[0] == 0 && statusAfter[47] == 0);
    CHECK(!nodeExists(out.props.devicePath));
}

/* The fakes must be what /sbin holds here, or this program would drive the machine's volume
 * manager. */
static int insideFakeNamespace(void) {
    const char* inside = getenv("FAKELVM_INSIDE");
    char text[256];
    readText("/sbin/lvcreate", text, sizeof text);
    return inside != NULL && strcmp(inside, "1") == 0 && strstr(text, "Fake lvcreate") != NULL &&
           getenv("FAKELVM_VG") != NULL && getenv("FAKELVM_LOG") != NULL &&
           getenv("FAKELVM_CONTROL") != NULL && getenv("FAKELVM_TMP") != NULL;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: run-in-namespace.sh %s libPiSNP.so\n", argv[0]);
        return 2;
    }
    if (!insideFakeNamespace()) {
        fprintf(stderr, "%s: not inside run-in-namespace.sh; refusing to run\n", argv[0]);
        return 2;
    }
    vg = getenv("FAKELVM_VG");
    snprintf(logPath, sizeof logPath, "%s", getenv("FAKELVM_LOG"));
    snprintf(controlPath, sizeof controlPath, "%s", getenv("FAKELVM_CONTROL"));
    snprintf(ranPath, sizeof ranPath, "%s/ran", getenv("FAKELVM_TMP"));
    snprintf(source, sizeof source, "/dev/%s/lv_home", vg);
    snprintf(namePrefix, sizeof namePrefix, "/dev/%s/bkpsnapshot_date_", vg);
    memset(&volumes, 0, sizeof volumes);
    volumes.source = source;
    volumes.sizeFactor1 = 10737418240ULL;
    volumes.sizeFactor2 = 10;

    std::string why;
    auto plugin = hostkit::PluginLibrary::load({argv[1]}, &why);
    if (!plugin) {
        fprintf(stderr, "cannot load the library:%s\n", why.c_str());
        printf("0 passed, 1 failed\n");
        return 1;
    }
    lib = &plugin->entry();
    static hostkit::HostServices services("arcclientV3.cat", "");
    host = &services;
    host->onTrace(hostTrace);
    host->onMessage(hostMessage);

    piAppInfo_t info;
    memset(&info, 0, sizeof info);
    CHECK(lib->queryApp(NULL, &info) == 0);
    piSnapshotInitIn_t initIn;
    piSnapshotInitOut_t initOut;
    memset(&initIn, 0, sizeof initIn);
    initIn.hostServices = host->services();
    CHECK(lib->snapshotInit(&initIn, &initOut) == 0);

    wholeRoadInOneCall();
    createThenPrepare();
    snapshotSets();
    volumeManagerFailures();
    hostCommands();
    unknownHandles();
    nameRetries();
    statusCallbackWhileTerminating();

    CHECK(lib->terminate() == 0);
    CHECK(misdirectedTraceCalls == 0 && hostkit::HostServices::misdirectedCalls() == 0);
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
