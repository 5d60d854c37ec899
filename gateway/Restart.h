// Internal to the gateway.
// A FastCGI process's reload: the program runs again in the same process,
// on the listening socket it was given (standard input, or the socket
// systemd passed, whose LISTEN_PID still names this process), so that the
// web server's connections queue on the socket meanwhile and none is
// refused. Called once every request has ended and every thread but the
// caller's has been joined.
#pragma once

// Executes the running program again with argv; returns only when that
// failed, after saying why on standard error.
void restartProgram(char** argv);
