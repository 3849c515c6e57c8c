#include "base/sysCalls.h"
#include "pisnp/keyboard.h"

#include <termios.h>
#include <unistd.h>

int psKeyhit(unsigned char* key) {
    // A background process must not touch the terminal: reading would stop it.
    if (tcgetpgrp(STDIN_FILENO) != getpgrp()) return 0;
    termios saved;
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return 0;
    termios single = saved;
    single.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON);
    single.c_cc[VMIN] = 0;  // answer at once, with or without a byte
    single.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &single);
    unsigned char byte;
    ssize_t n = read(STDIN_FILENO, &byte, 1);
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    if (n != 1) return 0;
    if (key != nullptr) *key = byte;
    return 1;
}

int psGetkey() {
    unsigned char key;
    while (psKeyhit(&key) == 0) pisnp::sys::sleep(1);
    return key;
}
