#include "pisnp/files.h"

#include <signal.h>

int pkInstallSignalHandler(int sig, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;  // null is SIG_DFL
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    return sigaction(sig, &action, nullptr);
}
