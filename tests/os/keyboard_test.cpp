#include "pisnp/keyboard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

// In a child with a new session whose controlling terminal is a fresh pseudo-terminal on its
// standard input. Returns 0 or the number of the failed check.
int keyhitOnOwnTerminal() {
    if (setsid() == -1) return 1;
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master == -1 || grantpt(master) != 0 || unlockpt(master) != 0) return 2;
    int slave = open(ptsname(master), O_RDWR);
    if (slave == -1 || ioctl(slave, TIOCSCTTY, 0) != 0) return 3;
    dup2(slave, STDIN_FILENO);
    termios before;
    tcgetattr(STDIN_FILENO, &before);

    unsigned char key = 0;
    if (psKeyhit(&key) != 0) return 4;  // nothing typed yet

    // A process outside the foreground group must leave the terminal alone.
    if (write(master, "x", 1) != 1) return 5;
    pid_t background = fork();
    if (background == 0) {
        setpgid(0, 0);
        unsigned char k;
        _exit(psKeyhit(&k));
    }
    int status = -1;
    waitpid(background, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 6;

    int hit = 0;
    for (int i = 0; i < 500 && hit == 0; ++i) {
        hit = psKeyhit(&key);
        if (hit == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (hit != 1 || key != 'x') return 7;
    termios after;
    tcgetattr(STDIN_FILENO, &after);
    if (after.c_lflag != before.c_lflag) return 8;  // echo and line mode restored

    if (write(master, "q", 1) != 1) return 9;
    if (psGetkey() != 'q') return 10;
    return 0;
}

TEST(Keyboard, KeyhitReadsOneByteOnlyInTerminalForeground) {
    pid_t pid = fork();
    ASSERT_NE(pid, -1);
    if (pid == 0) _exit(keyhitOnOwnTerminal());
    int status = -1;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failed check number";
}

TEST(Keyboard, KeyhitWithoutTerminalFindsNothing) {
    pid_t pid = fork();
    ASSERT_NE(pid, -1);
    if (pid == 0) {
        int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        unsigned char key = 0;
        _exit(psKeyhit(&key));
    }
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
