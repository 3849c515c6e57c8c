// Signal handler installation of the portable layer.
//
// Not exported yet: it joins the rest of the file layer's exports when that layer is complete.
#pragma once

// Installs handler for sig with an empty signal mask and no flags; a null handler restores the
// default action, SIG_IGN ignores the signal. Returns sigaction's result.
int pkInstallSignalHandler(int sig, void (*handler)(int));
