/* snaphost: keeps a point-in-time snapshot of one LVM logical volume for as long as a backup
 * command runs, and removes it afterwards.
 *
 * It is a host of libPiSNP.so in the full sense: it loads the library with dlopen, owns the host
 * services object (its own trace and message operations and options record), and drives one
 * snapshot through the plug-in's entry points. Everything that touches the volume manager
 * happens inside the library; this program decides the order of the steps, runs the backup
 * command and makes sure that a snapshot it created is removed again, whatever happens. */
#define _GNU_SOURCE

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <limits.h>
#include <linux/fs.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "bkpSnapshot.h"
#include "piPlugin.h"

/* Exit codes, one per stage, so that a calling script can tell what went wrong. When several
 * stages fail, the first one counts; an interruption counts above all of them. */
enum {
    RC_OK = 0,
    RC_USAGE = 2,
    RC_LIBRARY = 3,
    RC_ORIGIN = 4,
    RC_PLUGIN_START = 5,
    RC_PREPARE = 6,
    RC_PRE_COMMAND = 7,
    RC_CREATE = 8,
    RC_POST_COMMAND = 9,
    RC_BACKUP = 10,
    RC_END = 11,
    RC_REMOVE = 12,
    RC_PLUGIN_STOP = 13,
    RC_SIGNAL_BASE = 128 /* + the signal's number, as a shell reports it */
};

/* Catalog messages of the plug-in whose texts this host supplies. */
enum { MSG_CREATE_FAILED = 5250, MSG_REMOVE_FAILED = 8103 };

#define DEFAULT_PERCENT 10
#define LIBRARY_NAME "libPiSNP.so"
/* The plug-in's message system opens the client's catalogs under the client directory; this
 * is the file it looks for in each language directory. */
#define CATALOG_NAME "arcclientV3.cat"
/* How long a backup command may take to end after a signal was passed on before it is
 * killed: long enough for a clean exit, short enough that the snapshot does not linger. */
#define GRACE_SECONDS 10
#define STRINGIFY_(x) #x
#define STRINGIFY(x) STRINGIFY_(x)

static const char usageText[] =
    "Usage: snaphost [OPTION]... VOLUME [--] COMMAND [ARGUMENT]...\n"
    "\n"
    "Take a point-in-time snapshot of the LVM logical volume VOLUME, run COMMAND\n"
    "while the snapshot exists, then remove the snapshot. COMMAND reads a frozen\n"
    "image of VOLUME from the snapshot device while VOLUME itself stays in use, so\n"
    "what it copies is consistent.\n"
    "\n"
    "VOLUME is given as /dev/VG/LV or as VG/LV. The snapshot is created in the same\n"
    "volume group and named after the current date and time, for example\n"
    "/dev/vg01/bkpsnapshot_date_7_4_2026_time_9.5.30.\n"
    "\n"
    "In COMMAND and its arguments every \"{}\" is replaced by the snapshot's device\n"
    "path; the path is also in the environment variable SNAPHOST_DEVICE. COMMAND\n"
    "is started directly, not through a shell: use  sh -c '...'  for pipes and\n"
    "redirections. Put \"--\" before COMMAND when it has options of its own.\n"
    "\n"
    "Examples:\n"
    "  snaphost /dev/vg01/home -- dd if={} of=/backup/home.img bs=1M\n"
    "  snaphost -s 20 vg01/db --pre 'db-ctl pause' --post 'db-ctl resume' \\\n"
    "      -- sh -c 'gzip -c < \"$SNAPHOST_DEVICE\" > /backup/db.img.gz'\n"
    "\n"
    "Options:\n"
    "  -s, --size=PERCENT    room for changes to VOLUME while the snapshot exists,\n"
    "                        as a percentage of VOLUME's size (1 to 100, default\n"
    "                        10). If more than that is written to VOLUME during\n"
    "                        the backup, the snapshot becomes unusable and COMMAND\n"
    "                        gets read errors.\n"
    "      --pre=COMMAND     shell command run just before the snapshot is taken,\n"
    "                        for example to make an application pause its writes\n"
    "      --post=COMMAND    shell command run just after the snapshot is taken,\n"
    "                        for example to let the application go on. Once the\n"
    "                        pre command has run, the post command runs too, even\n"
    "                        when the pre command or the snapshot failed, so that\n"
    "                        it can undo what the pre command did.\n"
    "  -t, --trace=FILE      append a trace of every step (snaphost's and the\n"
    "                        plug-in's) to FILE; \"-\" writes it to standard error\n"
    "  -v, --verbose         report each step on standard error\n"
    "  -l, --library=PATH    the plug-in library to load; default: the one named\n"
    "                        by $SNAPHOST_LIBRARY, else " LIBRARY_NAME " next to\n"
    "                        snaphost (or in ../ or ../lib/), else the one the\n"
    "                        dynamic loader finds\n"
    "      --client-dir=DIR  the client directory with the message catalogs\n"
    "                        (EN_US/" CATALOG_NAME " and others); default:\n"
    "                        $ARC_DIR, else the library's directory\n"
    "  -h, --help            show this help and exit\n"
    "\n"
    "Environment of the commands: SNAPHOST_ORIGIN holds VOLUME's device path for\n"
    "all three commands; SNAPHOST_DEVICE holds the snapshot's device path for the\n"
    "post command and COMMAND.\n"
    "\n"
    "The snapshot is always removed at the end: also when COMMAND fails, and when\n"
    "snaphost gets SIGINT (Ctrl-C), SIGTERM or SIGHUP. Such a signal is passed on\n"
    "to COMMAND and everything it started; what has not ended " STRINGIFY(GRACE_SECONDS)
    " seconds later\n"
    "is killed. A signal that arrives while a volume manager command or the pre or\n"
    "post command runs lets that step finish first.\n"
    "\n"
    "snaphost needs the rights of the volume manager (root) and finds lvcreate and\n"
    "lvremove in /sbin, in /usr/sbin or on PATH.\n"
    "\n"
    "Exit status (every failure is reported on standard error; when several steps\n"
    "fail, the first one counts, and an interruption counts above all):\n"
    "    0  success: snapshot taken, COMMAND succeeded, snapshot removed\n"
    "    2  wrong command line\n"
    "    3  the plug-in library could not be loaded\n"
    "    4  VOLUME could not be opened or measured\n"
    "    5  the plug-in could not be started\n"
    "    6  the snapshot could not be prepared (no free snapshot name)\n"
    "    7  the pre-snapshot command failed (no snapshot was taken)\n"
    "    8  the snapshot could not be created (the volume manager's error is shown)\n"
    "    9  the post-snapshot command failed (COMMAND was not run)\n"
    "   10  COMMAND could not be started or did not succeed\n"
    "   11  the plug-in could not end the snapshot\n"
    "   12  the snapshot could not be removed (its name is shown: remove it by hand)\n"
    "   13  the plug-in could not be stopped cleanly\n"
    "  128+N  interrupted by signal N: 129 SIGHUP, 130 SIGINT, 143 SIGTERM; the\n"
    "         snapshot is removed all the same. COMMAND ended by SIGINT counts as\n"
    "         an interruption.\n";

/* ---- reporting ---------------------------------------------------------------------------- */

static FILE* traceOut;
static int verbose;
static int exitCode = RC_OK;
static volatile sig_atomic_t interruptSignal;
/* Texts of the plug-in's messages since the last stage began; they explain that stage's
 * failure, so they are printed with it. */
static char pendingMessages[2 * PI_HOST_MSGBUF_SIZE];

static const char* baseName(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash != NULL ? slash + 1 : path;
}

/* One trace line: time, source, text; a text without a line end gets one. */
static void traceText(const char* file, int line, const char* text) {
    struct timespec now;
    struct tm local;
    clock_gettime(CLOCK_REALTIME, &now);
    localtime_r(&now.tv_sec, &local);
    size_t len = strlen(text);
    fprintf(traceOut, "%02d:%02d:%02d.%03ld %s:%d %s%s", local.tm_hour, local.tm_min, local.tm_sec,
            now.tv_nsec / 1000000, baseName(file), line, text,
            len > 0 && text[len - 1] == '\n' ? "" : "\n");
    fflush(traceOut);
}

static void traceFormatted(const char* file, int line, const char* fmt, va_list args) {
    char* text = NULL;
    va_list copy;
    va_copy(copy, args);
    if (vasprintf(&text, fmt, copy) >= 0) {
        traceText(file, line, text);
        free(text);
    } else {
        char small[1024];
        vsnprintf(small, sizeof small, fmt, args);
        traceText(file, line, small);
    }
    va_end(copy);
}

__attribute__((format(printf, 3, 4))) static void hostTracef(const char* file, int line,
                                                             const char* fmt, ...) {
    if (traceOut == NULL) return;
    int savedErrno = errno;
    va_list args;
    va_start(args, fmt);
    traceFormatted(file, line, fmt, args);
    va_end(args);
    errno = savedErrno;
}
#define HTRACE(...) hostTracef(__FILE__, __LINE__, __VA_ARGS__)

/* Prints every line of text with the program's prefix, so that a log shows where it came
 * from. */
static void printLines(const char* text) {
    while (*text != '\0') {
        const char* end = strchr(text, '\n');
        int len = end != NULL ? (int)(end - text) : (int)strlen(text);
        fprintf(stderr, "snaphost: %.*s\n", len, text);
        text += len + (end != NULL ? 1 : 0);
    }
}

__attribute__((format(printf, 3, 4))) static void progressAt(const char* file, int line,
                                                             const char* fmt, ...) {
    char text[4096];
    va_list args;
    va_start(args, fmt);
    vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    hostTracef(file, line, "%s", text);
    if (verbose) printLines(text);
}
/* The trace shows where in this program each step was reported. */
#define progress(...) progressAt(__FILE__, __LINE__, __VA_ARGS__)

/* Reports a failed stage with the plug-in's messages that explain it, and remembers the first
 * failure's exit code. */
__attribute__((format(printf, 4, 5))) static void failStageAt(const char* file, int line, int code,
                                                              const char* fmt, ...) {
    char text[4096];
    va_list args;
    va_start(args, fmt);
    vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    hostTracef(file, line, "failure, exit code %d: %s", code, text);
    printLines(text);
    if (pendingMessages[0] != '\0') printLines(pendingMessages);
    pendingMessages[0] = '\0';
    if (exitCode == RC_OK) exitCode = code;
}
#define failStage(...) failStageAt(__FILE__, __LINE__, __VA_ARGS__)

/* A new stage: messages left from the one before belong to it, not to this one. They are only
 * left when that stage succeeded anyway, which is worth a warning. */
static void beginStageAt(const char* file, int line, const char* name) {
    if (pendingMessages[0] != '\0') {
        fprintf(stderr, "snaphost: warning: the plug-in reported:\n");
        printLines(pendingMessages);
        pendingMessages[0] = '\0';
    }
    hostTracef(file, line, "stage: %s", name);
}
#define beginStage(name) beginStageAt(__FILE__, __LINE__, name)

/* ---- the host services object -------------------------------------------------------------- */

static piHostOps_t hostOps;
static piHostOptions_t hostOptions;
static piHostServices_t hostServices;

static void hostTrace(piHostServices_t* self, const char* file, int line, const char* fmt, ...) {
    (void)self;
    if (traceOut == NULL) return;
    int savedErrno = errno;
    va_list args;
    va_start(args, fmt);
    traceFormatted(file != NULL ? file : "?", line, fmt, args);
    va_end(args);
    errno = savedErrno;
}

/* Appends the volume manager's error text to out, indented, without its trailing blank
 * lines. */
static void appendIndented(char* out, size_t size, const char* text) {
    if (text == NULL || *text == '\0') text = "(no error text)";
    size_t len = strlen(text);
    while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == ' ' || text[len - 1] == '\t'))
        --len;
    size_t used = strlen(out);
    int lineStart = 1;
    for (size_t i = 0; i < len && used + 4 < size; ++i) {
        /* Each line is indented the same, whatever indentation the volume manager gave it. */
        if (lineStart) {
            if (text[i] == ' ' || text[i] == '\t') continue;
            out[used++] = ' ';
            out[used++] = ' ';
            lineStart = 0;
        }
        out[used++] = text[i];
        if (text[i] == '\n') lineStart = 1;
    }
    out[used] = '\0';
}

/* The host's catalog texts for the plug-in's messages. The inserts follow the message's
 * definition; the caller's function, file and line go to the trace only, because a reader of
 * the error wants to know what the volume manager said, not where the plug-in noticed it. */
static void hostMessage(piHostServices_t* self, char* buf, int msgNum, ...) {
    (void)self;
    int savedErrno = errno;
    static char ownBuf[PI_HOST_MSGBUF_SIZE];
    if (buf == NULL) buf = ownBuf;
    buf[0] = '\0';
    va_list args;
    va_start(args, msgNum);
    if (msgNum == MSG_CREATE_FAILED) {
        const char* where = va_arg(args, const char*);
        const char* errText = va_arg(args, const char*);
        int rc = va_arg(args, int);
        const char* file = va_arg(args, const char*);
        int line = va_arg(args, int);
        snprintf(buf, PI_HOST_MSGBUF_SIZE,
                 "The volume manager could not create the snapshot: lvcreate ended with "
                 "return code %d and said:\n",
                 rc);
        appendIndented(buf, PI_HOST_MSGBUF_SIZE, errText);
        HTRACE("message %d from %s (%s:%d)", msgNum, where ? where : "?", file ? file : "?", line);
    } else if (msgNum == MSG_REMOVE_FAILED) {
        const char* command = va_arg(args, const char*);
        const char* where = va_arg(args, const char*);
        const char* errText = va_arg(args, const char*);
        int rc = va_arg(args, int);
        const char* file = va_arg(args, const char*);
        int line = va_arg(args, int);
        snprintf(buf, PI_HOST_MSGBUF_SIZE,
                 "The volume manager could not remove the snapshot: '%s' ended with return "
                 "code %d and said:\n",
                 command ? command : "?", rc);
        appendIndented(buf, PI_HOST_MSGBUF_SIZE, errText);
        HTRACE("message %d from %s (%s:%d)", msgNum, where ? where : "?", file ? file : "?", line);
    } else {
        /* The inserts of an unknown message cannot be read safely: their types are unknown. */
        snprintf(buf, PI_HOST_MSGBUF_SIZE, "The plug-in reported message %d.", msgNum);
    }
    va_end(args);
    HTRACE("message %d: %s", msgNum, buf);

    size_t used = strlen(pendingMessages);
    if (used > 0 && used + 1 < sizeof pendingMessages) pendingMessages[used++] = '\n';
    snprintf(pendingMessages + used, sizeof pendingMessages - used, "%s", buf);
    errno = savedErrno;
}

static void setUpHostServices(const char* clientDir) {
    hostOps.trace = hostTrace;
    hostOps.message = hostMessage;
    hostServices.ops = &hostOps;
    hostServices.traceOn = traceOut != NULL;
    hostServices.options = &hostOptions;
    /* The same file serves as the local and the English catalog. */
    snprintf(hostOptions.msgRepository, sizeof hostOptions.msgRepository, "%s", CATALOG_NAME);
    snprintf(hostOptions.clientDir, sizeof hostOptions.clientDir, "%s", clientDir);
}

/* ---- the plug-in library ------------------------------------------------------------------- */

typedef struct {
    void* handle;
    char path[PATH_MAX];
    piQueryApp_fn queryApp;
    piSnapshotInit_fn snapshotInit;
    piTerminate_fn terminate;
    bkpInitializeSnapshot_fn initializeSnapshot;
    bkpPreStartSnapshot_fn preStartSnapshot;
    bkpStartSnapshot_fn startSnapshot;
    bkpPostStartSnapshot_fn postStartSnapshot;
    bkpEndSnapshot_fn endSnapshot;
    bkpTerminateSnapshot_fn terminateSnapshot;
} Plugin;

/* Appends one failed attempt to the explanation shown when no library could be loaded. */
static void noteAttempt(char* why, size_t size, const char* candidate, const char* error) {
    size_t used = strlen(why);
    snprintf(why + used, size - used, "\n  %s: %s", candidate, error ? error : "not loadable");
}

static int tryLoad(Plugin* plugin, const char* candidate, char* why, size_t size) {
    /* A path with a slash is loaded as it stands; a bare name through the loader's search. */
    if (strchr(candidate, '/') != NULL && access(candidate, F_OK) != 0) {
        noteAttempt(why, size, candidate, "no such file");
        return 0;
    }
    plugin->handle = dlopen(candidate, RTLD_NOW | RTLD_LOCAL);
    if (plugin->handle == NULL) {
        noteAttempt(why, size, candidate, dlerror());
        return 0;
    }
    return 1;
}

static int loadPlugin(Plugin* plugin, const char* explicitPath) {
    char why[4 * PATH_MAX] = "";
    int loaded = 0;
    if (explicitPath != NULL) {
        loaded = tryLoad(plugin, explicitPath, why, sizeof why);
    } else {
        char exe[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n > 0) {
            exe[n] = '\0';
            *strrchr(exe, '/') = '\0';
            /* Beside the program as installed together, one level up in the build tree, and
             * in the lib directory of an installation prefix. */
            static const char* const places[] = {"%s/" LIBRARY_NAME, "%s/../" LIBRARY_NAME,
                                                 "%s/../lib/" LIBRARY_NAME};
            for (size_t i = 0; !loaded && i < sizeof places / sizeof places[0]; ++i) {
                char candidate[PATH_MAX + 32];
                snprintf(candidate, sizeof candidate, places[i], exe);
                loaded = tryLoad(plugin, candidate, why, sizeof why);
            }
        }
        if (!loaded) loaded = tryLoad(plugin, LIBRARY_NAME, why, sizeof why);
    }
    if (!loaded) {
        failStage(RC_LIBRARY, "loading the plug-in library failed; tried:%s", why);
        return 0;
    }

    struct {
        const char* name;
        void** slot;
    } entries[] = {
        {"piQueryApp", (void**)&plugin->queryApp},
        {"piSnapshotInit", (void**)&plugin->snapshotInit},
        {"piTerminate", (void**)&plugin->terminate},
        {"bkpInitializeSnapshot", (void**)&plugin->initializeSnapshot},
        {"bkpPreStartSnapshot", (void**)&plugin->preStartSnapshot},
        {"bkpStartSnapshot", (void**)&plugin->startSnapshot},
        {"bkpPostStartSnapshot", (void**)&plugin->postStartSnapshot},
        {"bkpEndSnapshot", (void**)&plugin->endSnapshot},
        {"bkpTerminateSnapshot", (void**)&plugin->terminateSnapshot},
    };
    for (size_t i = 0; i < sizeof entries / sizeof entries[0]; ++i) {
        *entries[i].slot = dlsym(plugin->handle, entries[i].name);
        if (*entries[i].slot == NULL) {
            failStage(RC_LIBRARY, "loading the plug-in library failed: it has no entry point %s",
                      entries[i].name);
            return 0;
        }
    }
    /* Where the loader found it: shown to the user, and the default client directory. */
    Dl_info info;
    if (dladdr(*entries[0].slot, &info) == 0 || info.dli_fname == NULL ||
        realpath(info.dli_fname, plugin->path) == NULL)
        snprintf(plugin->path, sizeof plugin->path, "%s", LIBRARY_NAME);
    return 1;
}

/* ---- the volume ---------------------------------------------------------------------------- */

/* The characters the volume manager allows in names. The plug-in puts the path into a shell
 * command line, so nothing else may pass. */
static int isVolumeName(const char* name, size_t len) {
    if (len == 0 || name[0] == '-') return 0;
    for (size_t i = 0; i < len; ++i) {
        char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '+' || c == '_' || c == '.' || c == '-'))
            return 0;
    }
    return 1;
}

/* Accepts /dev/VG/LV or VG/LV and writes /dev/VG/LV: the plug-in takes the volume group from
 * exactly that form. */
static int volumePath(const char* arg, char* path, size_t size) {
    const char* rest = strncmp(arg, "/dev/", 5) == 0 ? arg + 5 : arg;
    const char* slash = strchr(rest, '/');
    if (slash == NULL || strchr(slash + 1, '/') != NULL) return 0;
    if (!isVolumeName(rest, (size_t)(slash - rest)) ||
        !isVolumeName(slash + 1, strlen(slash + 1)) || strncmp(rest, "mapper/", 7) == 0)
        return 0;
    return snprintf(path, size, "/dev/%s", rest) < (int)size;
}

/* The origin's size in bytes, the first of the plug-in's two size factors. */
static int measureOrigin(const char* path, uint64_t* bytes) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd == -1) {
        failStage(RC_ORIGIN, "reading the volume failed: cannot open %s: %s", path,
                  strerror(errno));
        return 0;
    }
    struct stat st;
    int ok = fstat(fd, &st) == 0;
    if (ok && S_ISBLK(st.st_mode)) {
        ok = ioctl(fd, BLKGETSIZE64, bytes) == 0;
    } else if (ok && S_ISREG(st.st_mode)) {
        /* Where there is no volume manager (tests), a file stands in for the volume; the
         * volume manager itself refuses anything that is not one of its volumes. */
        *bytes = (uint64_t)st.st_size;
    } else if (ok) {
        close(fd);
        failStage(RC_ORIGIN, "reading the volume failed: %s is not a block device", path);
        return 0;
    }
    int err = errno;
    close(fd);
    if (!ok) {
        failStage(RC_ORIGIN, "reading the volume failed: cannot get the size of %s: %s", path,
                  strerror(err));
        return 0;
    }
    if (*bytes == 0) {
        failStage(RC_ORIGIN, "reading the volume failed: %s is empty", path);
        return 0;
    }
    return 1;
}

/* ---- signals and the backup command --------------------------------------------------------- */

static void onSignal(int sig) {
    if (interruptSignal == 0) interruptSignal = sig;
}

static const int interruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

static void catchInterrupts(void) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    /* Restarted, so that the library's own waits for its commands go on undisturbed: a
     * signal only marks the run as interrupted, and the run stops at the next step. */
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < sizeof interruptSignals / sizeof interruptSignals[0]; ++i)
        sigaction(interruptSignals[i], &action, NULL);
}

static int interrupted(void) {
    return interruptSignal != 0;
}

/* The terminal whose foreground snaphost is, or -1: only then is the terminal handed to the
 * backup command, so that it can read it and Ctrl-C reaches it. */
static int foregroundTerminal(void) {
    for (int fd = 0; fd <= 2; ++fd)
        if (isatty(fd) && tcgetpgrp(fd) == getpgrp()) return fd;
    return -1;
}

static double monotonicSeconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

/* Copies the command with every "{}" in each argument replaced by the device path. */
static char** substituteDevice(char* const* command, int count, const char* device) {
    char** out = calloc((size_t)count + 1, sizeof *out);
    if (out == NULL) return NULL;
    size_t devLen = strlen(device);
    for (int i = 0; i < count; ++i) {
        size_t len = strlen(command[i]);
        size_t marks = 0;
        for (const char* p = strstr(command[i], "{}"); p != NULL; p = strstr(p + 2, "{}")) ++marks;
        out[i] = malloc(len + marks * devLen + 1);
        if (out[i] == NULL) {
            for (int j = 0; j < i; ++j) free(out[j]);
            free(out);
            return NULL;
        }
        char* dst = out[i];
        for (const char* src = command[i]; *src != '\0';) {
            if (src[0] == '{' && src[1] == '}') {
                memcpy(dst, device, devLen);
                dst += devLen;
                src += 2;
            } else {
                *dst++ = *src++;
            }
        }
        *dst = '\0';
    }
    return out;
}

static void freeArgv(char** argv) {
    if (argv == NULL) return;
    for (char** p = argv; *p != NULL; ++p) free(*p);
    free(argv);
}

/* The command as a shell would take it back, so that what is shown can be pasted. */
static void describeArgv(char* out, size_t size, char* const* argv) {
    size_t used = 0;
    out[0] = '\0';
    for (char* const* p = argv; *p != NULL && used + 8 < size; ++p) {
        const char* arg = *p;
        int plain = *arg != '\0' && strspn(arg,
                                           "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                           "0123456789_./:=@%+,-{}") == strlen(arg);
        if (p != argv) out[used++] = ' ';
        if (!plain) out[used++] = '\'';
        for (; *arg != '\0' && used + 8 < size; ++arg) {
            if (*arg == '\'' && !plain) {
                memcpy(out + used, "'\\''", 4);
                used += 4;
            } else {
                out[used++] = *arg;
            }
        }
        if (!plain) out[used++] = '\'';
        out[used] = '\0';
    }
}

/* Runs the backup command in a process group of its own, so that a signal passed on reaches
 * everything the command started (a process left reading the snapshot would keep the volume
 * manager from removing it). Returns 1 with the wait status, or 0 when the command was not
 * run (reported). */
static int runBackupCommand(char* const* argv, int* status) {
    sigset_t waitSet, oldMask;
    sigemptyset(&waitSet);
    for (size_t i = 0; i < sizeof interruptSignals / sizeof interruptSignals[0]; ++i)
        sigaddset(&waitSet, interruptSignals[i]);
    sigaddset(&waitSet, SIGCHLD);
    /* Taking the terminal back from the background is allowed only with SIGTTOU blocked. */
    sigaddset(&waitSet, SIGTTOU);
    sigprocmask(SIG_BLOCK, &waitSet, &oldMask);
    if (interrupted()) {
        sigprocmask(SIG_SETMASK, &oldMask, NULL);
        return 0;
    }

    /* The status must reach the wait below, not a reaping handler. */
    signal(SIGCHLD, SIG_DFL);
    int tty = foregroundTerminal();
    int execError[2];
    if (pipe2(execError, O_CLOEXEC) != 0) {
        failStage(RC_BACKUP, "the backup command could not be started: %s", strerror(errno));
        sigprocmask(SIG_SETMASK, &oldMask, NULL);
        return 0;
    }
    pid_t pid = fork();
    if (pid == -1) {
        failStage(RC_BACKUP, "the backup command could not be started: %s", strerror(errno));
        close(execError[0]);
        close(execError[1]);
        sigprocmask(SIG_SETMASK, &oldMask, NULL);
        return 0;
    }
    if (pid == 0) {
        setpgid(0, 0);
        if (tty >= 0) tcsetpgrp(tty, getpid());
        /* Caught signals return to their defaults with exec; the mask must be restored. */
        sigprocmask(SIG_SETMASK, &oldMask, NULL);
        execvp(argv[0], argv);
        int err = errno;
        ssize_t ignored = write(execError[1], &err, sizeof err);
        (void)ignored;
        _exit(127);
    }
    /* Both sides set the group and the terminal, whichever runs first. */
    setpgid(pid, pid);
    if (tty >= 0) tcsetpgrp(tty, pid);
    close(execError[1]);
    int err = 0;
    ssize_t got;
    do {
        got = read(execError[0], &err, sizeof err);
    } while (got == -1 && errno == EINTR);
    close(execError[0]);
    HTRACE("backup command started: pid %d, own process group, terminal %s", (int)pid,
           tty >= 0 ? "handed over" : "not used");

    int forwarded = 0;
    double killAt = 0;
    for (;;) {
        pid_t r = waitpid(pid, status, WNOHANG | (tty >= 0 ? WUNTRACED : 0));
        if (r == pid && WIFSTOPPED(*status)) {
            /* Ctrl-Z stopped the command: stop along with it, as a shell expects of a job,
             * and carry on together when continued. */
            HTRACE("backup command stopped by signal %d; stopping too", WSTOPSIG(*status));
            tcsetpgrp(tty, getpgrp());
            kill(getpid(), SIGSTOP);
            tcsetpgrp(tty, pid);
            kill(-pid, SIGCONT);
            continue;
        }
        if (r == pid || (r == -1 && errno != EINTR)) break;

        struct timespec tick = {0, 200 * 1000 * 1000};
        int sig = sigtimedwait(&waitSet, NULL, &tick);
        if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP) {
            if (interruptSignal == 0) interruptSignal = sig;
            if (!forwarded) {
                HTRACE("signal %d: passing it on to the backup command's process group", sig);
                kill(-pid, sig);
                forwarded = 1;
                killAt = monotonicSeconds() + GRACE_SECONDS;
            } else {
                HTRACE("signal %d again: killing the backup command's process group", sig);
                kill(-pid, SIGKILL);
            }
        }
        if (forwarded && killAt > 0 && monotonicSeconds() >= killAt) {
            HTRACE("the backup command outlived its %d seconds of grace: killing it",
                   GRACE_SECONDS);
            kill(-pid, SIGKILL);
            killAt = 0;
        }
    }
    if (forwarded) kill(-pid, SIGKILL); /* whatever it started and left behind */
    if (tty >= 0) tcsetpgrp(tty, getpgrp());
    sigprocmask(SIG_SETMASK, &oldMask, NULL);

    if (err != 0) {
        failStage(RC_BACKUP, "the backup command could not be started: %s: %s", argv[0],
                  strerror(err));
        return 0;
    }
    return 1;
}

/* ---- the run ------------------------------------------------------------------------------- */

typedef struct {
    const char* origin;   /* /dev/VG/LV */
    unsigned int percent; /* snapshot size as a share of the origin */
    char* preCommand;     /* may be null */
    char* postCommand;    /* may be null */
    char* const* command; /* the backup command, not yet substituted */
    int commandCount;
} Request;

static const char* describeSignal(int sig) {
    const char* name = strsignal(sig);
    return name != NULL ? name : "unknown signal";
}

/* Runs the backup command on the snapshot device and reports how it ended. */
static void backUp(const Request* req, const char* device) {
    beginStage("backup command");
    char** argv = substituteDevice(req->command, req->commandCount, device);
    if (argv == NULL) {
        failStage(RC_BACKUP, "the backup command could not be started: out of memory");
        return;
    }
    char shown[4096];
    describeArgv(shown, sizeof shown, argv);
    progress("running the backup command: %s", shown);
    int status = 0;
    if (runBackupCommand(argv, &status)) {
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            progress("the backup command succeeded");
        } else if (WIFEXITED(status)) {
            failStage(RC_BACKUP, "the backup command failed: %s exited with status %d", argv[0],
                      WEXITSTATUS(status));
        } else if (WIFSIGNALED(status)) {
            /* Ctrl-C at the terminal reaches only the command, which then stands for the
             * whole run having been interrupted. */
            if (WTERMSIG(status) == SIGINT && interruptSignal == 0) interruptSignal = SIGINT;
            failStage(RC_BACKUP, "the backup command failed: %s was ended by signal %d (%s)",
                      argv[0], WTERMSIG(status), describeSignal(WTERMSIG(status)));
        }
    }
    freeArgv(argv);
}

/* Everything between a started plug-in and its end: prepare, pre command, create, post
 * command, backup, end, remove. */
static void snapshotAndBackUp(const Plugin* plugin, const Request* req, uint64_t originBytes) {
    beginStage("preparing the snapshot");
    bkpSnapVolumeList_t volume;
    memset(&volume, 0, sizeof volume);
    volume.source = (char*)req->origin;
    volume.volumeName = strrchr(req->origin, '/') + 1;
    /* The plug-in asks for bytes x percent / 100, in KiB. */
    volume.sizeFactor1 = originBytes;
    volume.sizeFactor2 = req->percent;

    bkpSnapshotInitIn_t init;
    memset(&init, 0, sizeof init);
    init.preSnapshotCmd = req->preCommand;
    init.postSnapshotCmd = req->postCommand;
    unsigned int handle = 0;
    int16_t rc =
        plugin->initializeSnapshot(&volume, &init, BKP_SNAP_MODE_CREATE_AND_PREPARE, &handle, 0);
    HTRACE("bkpInitializeSnapshot: rc %d, handle %u", rc, handle);
    if (rc != 0) {
        failStage(RC_PREPARE, "preparing the snapshot failed (plug-in code %d%s)", rc,
                  rc == 5 ? ": every snapshot name tried exists already" : "");
        return;
    }
    if (interrupted()) return;

    /* Once the pre command has run, the post command has to run as well: it is what undoes
     * the pre command's work, whether or not the snapshot came about. */
    int preRan = 0;
    int preOk = 1;
    bkpSnapshotCmdRec_t cmd;
    beginStage("pre-snapshot command");
    if (req->preCommand != NULL) progress("running the pre-snapshot command: %s", req->preCommand);
    memset(&cmd, 0, sizeof cmd);
    rc = plugin->preStartSnapshot(handle, &cmd);
    preRan = 1;
    HTRACE("bkpPreStartSnapshot: rc %d, command rc %d", rc, cmd.cmdRc);
    if (rc != 0) {
        preOk = 0;
        if (rc == 3)
            failStage(RC_PRE_COMMAND, "the pre-snapshot command failed: it returned %d", cmd.cmdRc);
        else
            failStage(RC_PRE_COMMAND, "the pre-snapshot command failed (plug-in code %d)", rc);
    }

    int created = 0;
    bkpSnapshotStartOut_t start;
    memset(&start, 0, sizeof start);
    if (preOk && !interrupted()) {
        beginStage("creating the snapshot");
        rc = plugin->startSnapshot(handle, &start);
        start.props.devicePath[sizeof start.props.devicePath - 1] = '\0';
        HTRACE("bkpStartSnapshot: rc %d, device '%s'", rc, start.props.devicePath);
        if (rc == 0) {
            created = 1;
            progress("snapshot %s of %s created", start.props.devicePath, req->origin);
        } else {
            failStage(RC_CREATE, "creating the snapshot failed (plug-in code %d)", rc);
            /* A volume manager stopped half-way may still have left the volume behind. */
            struct stat st;
            if (start.props.devicePath[0] != '\0' && stat(start.props.devicePath, &st) == 0) {
                HTRACE("%s exists after the failure: it will be removed", start.props.devicePath);
                created = 1;
            }
        }
    }
    if (start.props.devicePath[0] != '\0') setenv("SNAPHOST_DEVICE", start.props.devicePath, 1);

    int postOk = 1;
    if (preRan) {
        beginStage("post-snapshot command");
        if (req->postCommand != NULL)
            progress("running the post-snapshot command: %s", req->postCommand);
        memset(&cmd, 0, sizeof cmd);
        rc = plugin->postStartSnapshot(handle, &cmd);
        HTRACE("bkpPostStartSnapshot: rc %d, command rc %d", rc, cmd.cmdRc);
        if (rc != 0) {
            postOk = 0;
            if (rc == 4)
                failStage(RC_POST_COMMAND, "the post-snapshot command failed: it returned %d",
                          cmd.cmdRc);
            else
                failStage(RC_POST_COMMAND, "the post-snapshot command failed (plug-in code %d)",
                          rc);
        }
    }

    int backupOk = 0;
    if (created && exitCode == RC_OK && postOk && !interrupted()) {
        backUp(req, start.props.devicePath);
        backupOk = exitCode == RC_OK;
    }

    /* From here on nothing may skip the removal: not a failure, not a signal. */
    if (!created) return;
    beginStage("ending the snapshot");
    /* The flag tells the plug-in whether the snapshot served its purpose. */
    rc = plugin->endSnapshot(handle, backupOk ? 1 : 0);
    HTRACE("bkpEndSnapshot: rc %d", rc);
    if (rc != 0) failStage(RC_END, "ending the snapshot failed (plug-in code %d)", rc);

    beginStage("removing the snapshot");
    progress("removing snapshot %s", start.props.devicePath);
    rc = plugin->terminateSnapshot(handle);
    HTRACE("bkpTerminateSnapshot: rc %d", rc);
    if (rc != 0) {
        failStage(RC_REMOVE,
                  "removing the snapshot failed (plug-in code %d); it may still exist: check with "
                  "lvs and remove it with: lvremove -f %s",
                  rc, start.props.devicePath);
    } else {
        progress("snapshot %s removed", start.props.devicePath);
    }
}

static void runPlugin(const Plugin* plugin, const Request* req, uint64_t originBytes) {
    beginStage("starting the plug-in");
    piSnapAttrib_t attrib;
    piAppInfo_t info;
    memset(&attrib, 0, sizeof attrib);
    memset(&info, 0, sizeof info);
    info.hostAttrib = &attrib;
    int queryRc = plugin->queryApp(NULL, &info);
    info.appName[sizeof info.appName - 1] = '\0';
    info.libName[sizeof info.libName - 1] = '\0';
    HTRACE("piQueryApp: rc %d, application '%s', library '%s', provider type %u", queryRc,
           info.appName, info.libName, attrib.providerType);

    piSnapshotInitIn_t in;
    piSnapshotInitOut_t out;
    memset(&in, 0, sizeof in);
    memset(&out, 0, sizeof out);
    in.hostServices = &hostServices;
    int16_t rc = plugin->snapshotInit(&in, &out);
    HTRACE("piSnapshotInit: rc %d, provider version %u.%u", rc, out.versionMajor, out.versionMinor);
    if (queryRc != 0 || rc != 0) {
        if (queryRc != 0)
            failStage(RC_PLUGIN_START, "starting the plug-in failed: piQueryApp returned %d",
                      queryRc);
        else if (rc == 610)
            failStage(RC_PLUGIN_START,
                      "starting the plug-in failed (code 610): its message system did not start; "
                      "is %s/EN_US/%s there? (see --client-dir)",
                      hostOptions.clientDir, CATALOG_NAME);
        else
            failStage(RC_PLUGIN_START, "starting the plug-in failed (code %d)", rc);
    } else {
        snapshotAndBackUp(plugin, req, originBytes);
    }

    /* The library is told to stop in every state it may be in. */
    beginStage("stopping the plug-in");
    int stopRc = plugin->terminate();
    HTRACE("piTerminate: rc %d", stopRc);
    if (stopRc != 0) failStage(RC_PLUGIN_STOP, "stopping the plug-in failed (code %d)", stopRc);
    beginStage("finishing");
}

/* ---- the command line ---------------------------------------------------------------------- */

__attribute__((format(printf, 1, 2))) static int usageError(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    fprintf(stderr, "snaphost: ");
    vfprintf(stderr, fmt, args);
    fprintf(stderr, "\nTry 'snaphost --help' for more information.\n");
    va_end(args);
    return RC_USAGE;
}

static int parsePercent(const char* text, unsigned int* percent) {
    char* end = NULL;
    errno = 0;
    unsigned long value = strtoul(text, &end, 10);
    if (end == text || errno != 0) return 0;
    if (*end == '%') ++end;
    if (*end != '\0' || text[0] == '-' || value < 1 || value > 100) return 0;
    *percent = (unsigned int)value;
    return 1;
}

int main(int argc, char** argv) {
    enum { OPT_PRE = 256, OPT_POST, OPT_CLIENT_DIR };
    static const struct option longOptions[] = {
        {"size", required_argument, NULL, 's'},
        {"pre", required_argument, NULL, OPT_PRE},
        {"post", required_argument, NULL, OPT_POST},
        {"trace", required_argument, NULL, 't'},
        {"verbose", no_argument, NULL, 'v'},
        {"library", required_argument, NULL, 'l'},
        {"client-dir", required_argument, NULL, OPT_CLIENT_DIR},
        {"help", no_argument, NULL, 'h'},
        {NULL, 0, NULL, 0},
    };
    Request req;
    memset(&req, 0, sizeof req);
    req.percent = DEFAULT_PERCENT;
    const char* tracePath = NULL;
    const char* libraryPath = getenv("SNAPHOST_LIBRARY");
    const char* clientDir = getenv("ARC_DIR");
    if (libraryPath != NULL && *libraryPath == '\0') libraryPath = NULL;
    if (clientDir != NULL && *clientDir == '\0') clientDir = NULL;

    /* "+": options end at VOLUME, so the backup command's own options stay its own. */
    int opt;
    opterr = 0;
    while ((opt = getopt_long(argc, argv, "+:s:t:vl:h", longOptions, NULL)) != -1) {
        switch (opt) {
            case 's':
                if (!parsePercent(optarg, &req.percent))
                    return usageError("--size takes a percentage from 1 to 100, not '%s'", optarg);
                break;
            case OPT_PRE:
                req.preCommand = optarg;
                break;
            case OPT_POST:
                req.postCommand = optarg;
                break;
            case 't':
                tracePath = optarg;
                break;
            case 'v':
                verbose = 1;
                break;
            case 'l':
                libraryPath = optarg;
                break;
            case OPT_CLIENT_DIR:
                clientDir = optarg;
                break;
            case 'h':
                fputs(usageText, stdout);
                return RC_OK;
            case ':':
                return usageError("option %s needs a value", argv[optind - 1]);
            default: {
                /* A short option may sit inside a group such as -vx: name the letter. */
                char shown[3] = {'-', (char)optopt, '\0'};
                return usageError("unknown option %s", optopt != 0 ? shown : argv[optind - 1]);
            }
        }
    }
    if (optind >= argc) return usageError("no volume given");
    const char* volumeArg = argv[optind++];
    if (optind < argc && strcmp(argv[optind], "--") == 0) ++optind;
    if (optind >= argc) return usageError("no backup command given after %s", volumeArg);
    req.command = argv + optind;
    req.commandCount = argc - optind;

    char origin[PATH_MAX];
    if (!volumePath(volumeArg, origin, sizeof origin))
        return usageError("'%s' is not a logical volume: give it as /dev/VG/LV or VG/LV",
                          volumeArg);
    req.origin = origin;
    if (req.preCommand != NULL && *req.preCommand == '\0') req.preCommand = NULL;
    if (req.postCommand != NULL && *req.postCommand == '\0') req.postCommand = NULL;

    if (tracePath != NULL) {
        if (strcmp(tracePath, "-") == 0) {
            traceOut = stderr;
        } else {
            traceOut = fopen(tracePath, "ae");
            if (traceOut == NULL) {
                fprintf(stderr, "snaphost: cannot open the trace file %s: %s\n", tracePath,
                        strerror(errno));
                return RC_USAGE;
            }
        }
        HTRACE("snaphost started: pid %d, volume %s, size %u%%", (int)getpid(), origin,
               req.percent);
    }
    catchInterrupts();

    Plugin plugin;
    memset(&plugin, 0, sizeof plugin);
    beginStage("loading the plug-in library");
    if (!loadPlugin(&plugin, libraryPath)) return exitCode;
    progress("plug-in library %s loaded", plugin.path);

    beginStage("reading the volume");
    uint64_t originBytes = 0;
    if (!measureOrigin(origin, &originBytes)) return exitCode;
    progress("volume %s: %llu bytes; snapshot room %u%%: %llu KiB", origin,
             (unsigned long long)originBytes, req.percent,
             (unsigned long long)(originBytes * req.percent / 102400));

    char libraryDir[PATH_MAX];
    if (clientDir == NULL) {
        snprintf(libraryDir, sizeof libraryDir, "%s", plugin.path);
        char* slash = strrchr(libraryDir, '/');
        if (slash != NULL) *slash = '\0';
        clientDir = slash != NULL ? libraryDir : "";
    }
    if (strlen(clientDir) >= sizeof hostOptions.clientDir)
        return usageError("the client directory '%s' is too long", clientDir);
    setUpHostServices(clientDir);
    setenv("SNAPHOST_ORIGIN", origin, 1);

    runPlugin(&plugin, &req, originBytes);

    if (interrupted()) {
        fprintf(stderr, "snaphost: interrupted by signal %d (%s)\n", (int)interruptSignal,
                describeSignal(interruptSignal));
        exitCode = RC_SIGNAL_BASE + interruptSignal;
    }
    HTRACE("snaphost ends with exit code %d", exitCode);
    if (traceOut != NULL && traceOut != stderr) fclose(traceOut);
    /* The library stays loaded: the runtime keeps blocks for the whole process. */
    return exitCode;
}
