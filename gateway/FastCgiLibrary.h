// Internal to the gateway.
// Debian's libfcgi, loaded only when the process serves FastCGI: a CGI run
// never maps it, nor binds its symbols. Holds the functions the gateway
// calls, with the types fcgiapp.h gives them. Loaded by the first call of
// fastCgiLibrary(), from any thread, and kept until the process exits;
// read-only after that.
#pragma once

#include <fcgiapp.h>

#include <string>

struct FastCgiLibrary {
    decltype(&FCGX_Init) init;
    decltype(&FCGX_InitRequest) initRequest;
    decltype(&FCGX_Accept_r) accept;
    decltype(&FCGX_Finish_r) finish;
    decltype(&FCGX_Free) free;
    decltype(&FCGX_Detach) detach;
    decltype(&FCGX_GetStr) getStr;
    decltype(&FCGX_PutStr) putStr;
    decltype(&FCGX_FClose) close;
    decltype(&FCGX_FFlush) flush;
};

// The library's functions; null when it could not be loaded, with a
// sentence saying why in *error (when error is not null).
const FastCgiLibrary* fastCgiLibrary(std::string* error = nullptr);
