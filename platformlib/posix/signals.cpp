#include "platformlib/posix/signals.h"

#include <pthread.h>
#include <signal.h>

namespace tavrix::sys {

namespace {
sigset_t closeSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}
} // namespace

void blockCloseSignals()
{
    const sigset_t set = closeSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void takeCloseSignals(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    // Calls the handler interrupts go on as they would have.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    const sigset_t set = closeSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

} // namespace tavrix::sys
