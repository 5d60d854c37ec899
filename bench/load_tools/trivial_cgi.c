/* The floor: a CGI program that only prints a fixed response. */
#include <stdio.h>

int main(void) {
    fputs("Content-Type: text/xml\n\n<response>root</response>\n", stdout);
    return 0;
}
