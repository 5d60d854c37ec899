// Internal to the gateway.
// A FastCGI process's reload: the program runs again in the same process,
// on the listening socket it was given (standard input, or the socket
// systemd passed, whose LISTEN_PID still names this process), so that the
// web server's connections queue on the socket meanwhile and none is
// refused. Called once every request has ended and every thread but the
// caller's has been joined.
#pragma once

// Blocks the stop signals (TERM, QUIT, HUP, USR1) in the calling thread
// for good, the block outliving the pool's and passing to the program
// restartProgram starts: one that comes after the pool took its stop
// waits, pending, for the next program's pool, where let in it would end
// the process. Called before the pool is made.
void holdStopSignals();

// Executes the running program again with argv, the signal mask kept; returns only when that
// failed, after saying why on standard error.
void restartProgram(char** argv);
