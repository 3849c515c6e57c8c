/* A careless or hostile host on the host kit against the fake volume manager: device paths that
 * carry shell syntax, and two processes that take snapshots in the same volume group in the same
 * second.
 * Usage: run-in-namespace.sh host_hostile path/to/libPiSNP.so */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "hostServices.h"
#include "hostTest.h"
#include "pluginLibrary.h"

static const hostkit::EntryPoints* lib;

static const char* vg;
static char marker[512], logPath[512];
static int messages;

static int startLibrary(void) {
    static hostkit::HostServices host("hostmessages.cat", "");
    host.onMessage([](const hostkit::PluginMessage& m) { messages += m.number == 5250; });
    piAppInfo_t info;
    piSnapshotInitIn_t in;
    piSnapshotInitOut_t out;
    memset(&info, 0, sizeof info);
    memset(&in, 0, sizeof in);
    in.hostServices = host.services();
    return lib->queryApp(NULL, &info) == 0 && lib->snapshotInit(&in, &out) == 0;
}

/* Initialises and starts a snapshot of source; the start's code, or -100 for a failed start-up. */
static int snapshotOf(const char* source, unsigned int* handle, bkpSnapshotStartOut_t* out) {
    bkpSnapVolumeList_t volume;
    bkpSnapshotInitIn_t in;
    memset(&volume, 0, sizeof volume);
    memset(&in, 0, sizeof in);
    volume.source = const_cast<char*>(source);
    volume.sizeFactor1 = 10737418240ULL;
    volume.sizeFactor2 = 10;
    int rc = lib->initializeSnapshot(&volume, &in, BKP_SNAP_MODE_CREATE_AND_PREPARE, handle, 0);
    return rc != 0 ? rc - 100 : lib->startSnapshot(*handle, out);
}

static int fileHas(const char* path, const char* text) {
    char buf[4096] = "";
    FILE* f = fopen(path, "r");
    if (f == NULL) return 0;
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    buf[n] = '\0';
    fclose(f);
    return text == NULL || strstr(buf, text) != NULL;
}

static int groupIsEmpty(const char* group) {
    char cmd[600];
    snprintf(cmd, sizeof cmd, "[ -z \"$(ls -A /dev/%s)\" ]", group);
    return system(cmd) == 0;
}

/* Every shell construct, in the volume and in the volume group: refused before any command. */
static void hostilePaths(void) {
    fclose(fopen(logPath, "w"));
    const char* tails[] = {";touch %s",  "$(touch %s)", "`touch %s`", "|touch %s", "&& touch %s",
                           "\ntouch %s", ">%s",         " -s /dev/x", "*",         "&"};
    for (size_t i = 0; i < sizeof tails / sizeof tails[0]; ++i) {
        char tail[600], source[1400];
        snprintf(tail, sizeof tail, tails[i], marker);
        for (int inGroup = 0; inGroup < 2; ++inGroup) {
            if (inGroup)
                snprintf(source, sizeof source, "/dev/%s%s/home", vg, tail);
            else
                snprintf(source, sizeof source, "/dev/%s/home%s", vg, tail);
            unsigned int handle = 0;
            bkpSnapshotStartOut_t out;
            int before = messages;
            CHECK(snapshotOf(source, &handle, &out) == BKP_RC_INVALID_VOLUME_PATH - 100);
            CHECK(messages == before + 1);
        }
    }
    CHECK(access(marker, F_OK) != 0);
    CHECK(!fileHas(logPath, "lv")); /* no command ran at all */
    CHECK(groupIsEmpty(vg));

    /* Unusual names the volume manager allows take the usual road, line for line. */
    char group[64], source[128], expected[512];
    snprintf(group, sizeof group, "%s.x+y_z-1", vg);
    snprintf(source, sizeof source, "/dev/%s/l.v+a_b..c-", group);
    snprintf(expected, sizeof expected, "mkdir -p /dev/%s", group);
    CHECK(system(expected) == 0);
    unsigned int handle = 0;
    bkpSnapshotStartOut_t out;
    CHECK(snapshotOf(source, &handle, &out) == 0);
    CHECK(lib->terminateSnapshot(handle) == 0);
    const char* name = strrchr(out.props.devicePath, '/') + 1;
    snprintf(expected, sizeof expected,
             "lvcreate -L 1048576K -n %s -s %s\nlvremove -f /dev/%s/%s\n", name, source, group,
             name);
    CHECK(fileHas(logPath, expected) && groupIsEmpty(group));
}

/* One of two processes that start in the same second: its snapshot is its own throughout, and
 * it removes only that one. The parent says when to look again and end. */
static int racer(const char* source, int toParent, int fromParent) {
    int rc = startLibrary() ? 0 : 10;
    time_t now = time(NULL);
    while (time(NULL) == now) usleep(1000); /* both begin at the start of the same second */
    unsigned int handle = 0;
    bkpSnapshotStartOut_t out;
    if (rc == 0 && snapshotOf(source, &handle, &out) != 0) rc = 11;
    if (rc == 0 && !fileHas(out.props.devicePath, source)) rc = 12;
    char go;
    if (write(toParent, "S", 1) != 1 || read(fromParent, &go, 1) != 1) return 13;
    if (rc == 0 && !fileHas(out.props.devicePath, source)) rc = 14; /* the other one has ended */
    if (rc == 0 && (lib->terminateSnapshot(handle) != 0 || fileHas(out.props.devicePath, NULL))) rc = 15;
    return rc;
}

static void twoProcessesInOneSecond(void) {
    for (int round = 0; round < 5; ++round) {
        int up[2], down[2][2];
        pid_t pid[2];
        CHECK(pipe(up) == 0 && pipe(down[0]) == 0 && pipe(down[1]) == 0);
        for (int i = 0; i < 2; ++i) {
            char source[128];
            snprintf(source, sizeof source, "/dev/%s/lv_%c", vg, 'a' + i);
            pid[i] = fork();
            if (pid[i] == 0) _exit(racer(source, up[1], down[i][0]));
        }
        char started[2];
        CHECK(read(up[0], started, 1) == 1 && read(up[0], started + 1, 1) == 1);
        for (int i = 0; i < 2; ++i) {
            int status = -1;
            CHECK(write(down[i][1], "G", 1) == 1);
            waitpid(pid[i], &status, 0);
            CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
                fprintf(stderr, "round %d racer %d: %d\n", round, i, status);
            close(down[i][0]);
            close(down[i][1]);
        }
        close(up[0]);
        close(up[1]);
        CHECK(groupIsEmpty(vg));
    }
}

int main(int argc, char** argv) {
    const char* tmp = getenv("FAKELVM_TMP");
    vg = getenv("FAKELVM_VG");
    if (argc < 2 || getenv("FAKELVM_INSIDE") == NULL || tmp == NULL || vg == NULL) {
        fprintf(stderr, "usage: run-in-namespace.sh %s libPiSNP.so\n", argv[0]);
        return 2;
    }
    snprintf(marker, sizeof marker, "%s/marker", tmp);
    snprintf(logPath, sizeof logPath, "%s", getenv("FAKELVM_LOG"));
    std::string why;
    auto plugin = hostkit::PluginLibrary::load({argv[1]}, &why);
    if (!plugin) {
        fprintf(stderr, "cannot load the library:%s\n", why.c_str());
        return 2;
    }
    lib = &plugin->entry();
    twoProcessesInOneSecond();
    CHECK(startLibrary());
    hostilePaths();
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
