// Internal to the gateway.
// The program's options for an operator at a shell: --version, --help and
// --check (every setting the gateway reads, the network configuration
// file and the account directory; one line per problem). Only outside a
// web server and only when the first argument starts with "--"; anything
// else is a request.
#pragma once

// True when argv asks for an option rather than a request.
bool isCommandLineOption(int argc, char** argv);
// Runs the option, writing to standard output (problems and usage errors
// to standard error); returns the exit status.
int runCommandLine(int argc, char** argv);
