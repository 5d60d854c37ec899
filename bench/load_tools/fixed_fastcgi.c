/* The floor of any persistent gateway: a FastCGI responder (libfcgi, one
 * request at a time) that answers every request with one fixed answer, read
 * once at start from the file FIXED_ANSWER names: header lines, a blank
 * line and the body, as a CGI program prints them. */
#include <fcgiapp.h>
#include <stdio.h>
#include <stdlib.h>

int main(void) {
    const char* path = getenv("FIXED_ANSWER");
    FILE* file = path ? fopen(path, "rb") : NULL;
    if (!file) {
        fprintf(stderr, "fixed_fastcgi: set FIXED_ANSWER to a readable file\n");
        return 2;
    }
    static char answer[65536];
    const size_t size = fread(answer, 1, sizeof answer, file);
    fclose(file);
    if (size == 0 || size == sizeof answer)
        return 2;
    FCGX_Request request;
    if (FCGX_Init() != 0 || FCGX_InitRequest(&request, 0, 0) != 0)
        return 1;
    while (FCGX_Accept_r(&request) >= 0) {
        FCGX_PutStr(answer, (int)size, request.out);
        FCGX_Finish_r(&request);
    }
    return 0;
}
