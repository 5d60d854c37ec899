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

// Serves requests on listener with CORVANE_FASTCGI_THREADS threads
// (default 8) until SIGTERM or SIGUSR1 comes, or the listener fails; the
// requests in progress are finished first. A connection has
// CORVANE_BODY_TIMEOUT to send its request's variables. programName stands
// in for the command line of a CGI run (argv[0] only); may be null.
// Returns the exit status.
int serveFastCgi(int listener, char* programName);
