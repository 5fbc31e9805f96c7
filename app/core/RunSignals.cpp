#include "core/RunSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <initializer_list>

namespace {

int g_pipe[2] = {-1, -1};
volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_hangup = 0;
volatile sig_atomic_t g_retry = 0;

void OnSignal(int signal) {
    const int saved = errno;
    if (signal == SIGINT || signal == SIGTERM) g_stop = 1;
    if (signal == SIGHUP) g_hangup = 1;
    if (signal == SIGUSR1) g_retry = 1;
    if (signal != SIGPIPE && signal != SIGXFSZ) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    }
    errno = saved;
}

} // namespace

bool InstallRunSignals() {
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGPIPE, SIGXFSZ})
        if (::sigaction(signal, &action, nullptr) != 0) return false;
    return true;
}

int RunSignalsFd() {
    return g_pipe[0];
}

void DrainRunSignals() {
    char drain[16];
    while (g_pipe[0] >= 0 && ::read(g_pipe[0], drain, sizeof drain) > 0) {
    }
}

bool StopSignalled() {
    return g_stop != 0;
}

bool TakeHangupSignal() {
    if (g_hangup == 0) return false;
    g_hangup = 0;
    return true;
}

bool TakeRetrySignal() {
    if (g_retry == 0) return false;
    g_retry = 0;
    return true;
}
