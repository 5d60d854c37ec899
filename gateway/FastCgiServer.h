// Internal to the gateway.
// The gateway as a FastCGI application: one process serving requests on a
// listening socket it was given, many at once, with one persistent
// GatewayDriver. Each request's variables, body and output are its own
// FastCGI streams; the process environment only supplies settings.
#pragma once

// The socket to accept FastCGI connections on: standard input when a web
// server or spawn-fcgi started the program on a listening socket, or the
// first socket systemd passed (LISTEN_FDS); -1 for a CGI run.
int fastCgiListener();

// serveFastCgi's answer to SIGHUP: the caller starts the program again,
// on the same listener.
constexpr int kRestartStatus = -1;

// Serves requests on listener with CORVANE_FASTCGI_THREADS threads
// (default 8) until SIGTERM, SIGQUIT, SIGUSR1 or SIGHUP comes, or the
// listener fails; every connection taken by then is served first. A
// connection has CORVANE_BODY_TIMEOUT to send its request's variables.
// programName stands in for the command line of a CGI run (argv[0] only);
// may be null. Returns the exit status, or kRestartStatus after SIGHUP.
int serveFastCgi(int listener, char* programName);
