/* rawhost: drives one snapshot through the plug-in's entry points and prints, one line each,
 * every return code and every message that the host receives, with its inserts as they came.
 * Scenarios read these lines to check what a host sees of real volume manager failures, which
 * snaphost turns into prose.
 *
 * Usage: rawhost [-l LIBRARY] [-s PERCENT] [-t] VOLUME [SHELL-COMMAND]
 *   The volume list holds VOLUME with the origin's size in bytes and PERCENT (default 10).
 *   SHELL-COMMAND runs while the snapshot exists, with SNAPSHOT_DEVICE in its environment.
 *   -t sends the plug-in's trace lines to standard error.
 * Output lines: "start rc=N device=PATH", "message N: [insert] [insert] ...", "command rc=N",
 * "terminate rc=N", "pi-terminate rc=N", ... Newlines inside an insert are shown as "\n". The
 * exit status is 0 once the road has been walked to its end, whatever the codes were. */
#define _GNU_SOURCE

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bkpSnapshot.h"
#include "piPlugin.h"

static piHostOps_t ops;
static piHostOptions_t options;
static piHostServices_t services;

static void trace(piHostServices_t* self, const char* file, int line, const char* fmt, ...) {
    (void)self;
    va_list args;
    va_start(args, fmt);
    fprintf(stderr, "trace %s:%d ", file, line);
    vfprintf(stderr, fmt, args);
    va_end(args);
    fputc('\n', stderr);
}

static void printInsert(const char* text) {
    fputs(" [", stdout);
    for (const char* p = text != NULL ? text : "(null)"; *p != '\0'; ++p) {
        if (*p == '\n')
            fputs("\\n", stdout);
        else
            fputc(*p, stdout);
    }
    fputc(']', stdout);
}

/* Inserts as the plug-in passes them: 5250 (where, error text, rc, file, line) and 8103
 * (command, where, error text, rc, file, line). */
static void message(piHostServices_t* self, char* buf, int msgNum, ...) {
    (void)self;
    (void)buf;
    va_list args;
    va_start(args, msgNum);
    printf("message %d:", msgNum);
    int strings = msgNum == 5250 ? 2 : msgNum == 8103 ? 3 : 0;
    for (int i = 0; i < strings; ++i) printInsert(va_arg(args, const char*));
    if (strings > 0) {
        printf(" [%d]", va_arg(args, int));
        printInsert(va_arg(args, const char*));
        printf(" [%d]", va_arg(args, int));
    }
    va_end(args);
    putchar('\n');
    fflush(stdout);
}

static uint64_t sizeOf(const char* path) {
    uint64_t bytes = 0;
    int fd = open(path, O_RDONLY);
    if (fd >= 0) {
        if (ioctl(fd, BLKGETSIZE64, &bytes) != 0) {
            struct stat st;
            bytes = fstat(fd, &st) == 0 ? (uint64_t)st.st_size : 0;
        }
        close(fd);
    }
    return bytes;
}

#define LOOKUP(lib, type, name) ((type)dlsym(lib, #name))

int main(int argc, char** argv) {
    const char* library = "libPiSNP.so";
    unsigned long percent = 10;
    int opt;
    while ((opt = getopt(argc, argv, "+l:s:t")) != -1) {
        if (opt == 'l')
            library = optarg;
        else if (opt == 's')
            percent = strtoul(optarg, NULL, 10);
        else if (opt == 't')
            services.traceOn = 1;
        else
            return 2;
    }
    if (optind >= argc) {
        fprintf(stderr, "usage: rawhost [-l LIBRARY] [-s PERCENT] [-t] VOLUME [SHELL-COMMAND]\n");
        return 2;
    }
    char* volume = argv[optind];
    const char* command = optind + 1 < argc ? argv[optind + 1] : NULL;
    setvbuf(stdout, NULL, _IOLBF, 0);

    void* lib = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) {
        fprintf(stderr, "rawhost: %s\n", dlerror());
        return 2;
    }
    piQueryApp_fn queryApp = LOOKUP(lib, piQueryApp_fn, piQueryApp);
    piSnapshotInit_fn snapshotInit = LOOKUP(lib, piSnapshotInit_fn, piSnapshotInit);
    piTerminate_fn terminate = LOOKUP(lib, piTerminate_fn, piTerminate);
    bkpInitializeSnapshot_fn initialize =
        LOOKUP(lib, bkpInitializeSnapshot_fn, bkpInitializeSnapshot);
    bkpStartSnapshot_fn start = LOOKUP(lib, bkpStartSnapshot_fn, bkpStartSnapshot);
    bkpEndSnapshot_fn end = LOOKUP(lib, bkpEndSnapshot_fn, bkpEndSnapshot);
    bkpTerminateSnapshot_fn terminateSnapshot =
        LOOKUP(lib, bkpTerminateSnapshot_fn, bkpTerminateSnapshot);
    if (!queryApp || !snapshotInit || !terminate || !initialize || !start || !end ||
        !terminateSnapshot) {
        fprintf(stderr, "rawhost: %s lacks an entry point\n", library);
        return 2;
    }

    ops.trace = trace;
    ops.message = message;
    services.ops = &ops;
    services.options = &options;
    strcpy(options.msgRepository, "arcclientV3.cat");

    piAppInfo_t info;
    memset(&info, 0, sizeof info);
    printf("query rc=%d\n", queryApp(NULL, &info));
    piSnapshotInitIn_t in;
    piSnapshotInitOut_t out;
    memset(&in, 0, sizeof in);
    in.hostServices = &services;
    int16_t rc = snapshotInit(&in, &out);
    printf("init rc=%d\n", rc);

    if (rc == 0) {
        bkpSnapVolumeList_t node;
        memset(&node, 0, sizeof node);
        node.source = volume;
        node.sizeFactor1 = sizeOf(volume);
        node.sizeFactor2 = percent;
        bkpSnapshotInitIn_t init;
        memset(&init, 0, sizeof init);
        unsigned int handle = 0;
        rc = initialize(&node, &init, BKP_SNAP_MODE_CREATE_AND_PREPARE, &handle, 0);
        printf("prepare rc=%d handle=%u\n", rc, handle);
        if (rc == 0) {
            bkpSnapshotStartOut_t started;
            memset(&started, 0, sizeof started);
            rc = start(handle, &started);
            printf("start rc=%d device=%s\n", rc, started.props.devicePath);
            /* Only a snapshot that came about is removed: a failed start leaves nothing. */
            if (rc == 0) {
                if (command != NULL) {
                    setenv("SNAPSHOT_DEVICE", started.props.devicePath, 1);
                    int status = system(command);
                    printf("command rc=%d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
                }
                printf("end rc=%d\n", end(handle, 1));
                printf("terminate rc=%d\n", terminateSnapshot(handle));
            }
        }
    }
    printf("pi-terminate rc=%d\n", terminate());
    return 0;
}
