// The signal handler may use only async-signal-safe calls (write, tcsetattr,
// unlink, sigaction, pthread_sigmask, raise, _exit; the terminal's restore
// and erase functions keep to them too) and may read only what it can see
// whole; the record of what to undo (interruption.cpp) is kept that way.
//
// After the cleanup the process dies of the signal itself rather than
// exiting with 128 + its number. A shell tells the two apart: a child killed
// by SIGINT means the user interrupted, and the shell stops its script or
// loop too, while a child that exits with status 130 has handled the signal,
// and the script goes on with its next command.
#include "interruption.hpp"

#include "interruption_cleanup.hpp"

#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int INTERRUPTING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// The calling thread's nesting of InterruptionBlock, and its signal mask
// before the outermost one.
thread_local int block_depth = 0;
thread_local sigset_t mask_outside_blocks;

extern "C" void on_interruption(int signal_number)
{
    undo_for_exit();

    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal_number, &default_action, nullptr);
    // The signal is blocked while its handler runs; once unblocked, the
    // raised one is delivered before raise returns.
    sigset_t this_signal;
    sigemptyset(&this_signal);
    sigaddset(&this_signal, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &this_signal, nullptr);
    raise(signal_number);
    _exit(128 + signal_number);  // only if the signal could not end the process
}

sigset_t interrupting_set()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : INTERRUPTING_SIGNALS)
        sigaddset(&set, signal_number);
    return set;
}

}  // namespace

void install_interruption_handlers()
{
    struct sigaction action {};
    action.sa_handler = on_interruption;
    action.sa_mask = interrupting_set();  // one handler at a time
    for (int signal_number : INTERRUPTING_SIGNALS)
        sigaction(signal_number, &action, nullptr);
}

void remove_temporary_file(const char* path)
{
    unlink(path);
}

void exit_at_once(const char* message)
{
    const sigset_t set = interrupting_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    undo_for_exit();
    const char prefix[] = "pi: ";
    (void)!write(STDERR_FILENO, prefix, sizeof prefix - 1);
    (void)!write(STDERR_FILENO, message, std::strlen(message));
    (void)!write(STDERR_FILENO, "\n", 1);
    _exit(1);
}

InterruptionBlock::InterruptionBlock()
{
    if (block_depth++ == 0) {
        const sigset_t set = interrupting_set();
        pthread_sigmask(SIG_BLOCK, &set, &mask_outside_blocks);
    }
}

InterruptionBlock::~InterruptionBlock()
{
    if (--block_depth == 0)
        pthread_sigmask(SIG_SETMASK, &mask_outside_blocks, nullptr);
}
