/* Links against libPiSNP.so (no dlopen) and calls it: what a project that found the library
 * with find_package or pkg-config builds. Prints the application record's names. */
#include <stdio.h>
#include <string.h>

#include "piPlugin.h"

int main(void) {
    piAppInfo_t info;
    memset(&info, 0, sizeof info);
    if (piQueryApp(NULL, &info) != 0) return 1;
    printf("%s %s\n", info.appName, info.libName);
    return strcmp(info.appName, "PISNAPSHOT") == 0 ? 0 : 1;
}
