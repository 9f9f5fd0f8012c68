#pragma once

// The last step of a process that has closed everything of its own.
class ProcessExit
{
public:
    // Flushes the standard streams and ends the process without the libraries'
    // exit-time destructors. Qt Multimedia's PulseAudio engine disconnects its
    // context there without holding its main-loop lock, racing the loop's own
    // thread, and libpulse then aborts the process once in a few hundred exits.
    // Under LeakSanitizer the leak check still runs, as at a normal exit.
    [[noreturn]] static void leave(int code);
};
