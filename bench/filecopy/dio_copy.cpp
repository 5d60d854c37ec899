// Copies SRC to DST the way CoFilePath moves a file across file systems,
// for bench/cross_fs_copy.sh.
#include <cstdio>

#include "base/fileUtil/CoFilePath.h"
#include "base/loggerBase/CoException.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SRC DST\n", argv[0]);
        return 2;
    }
    try {
        Corvane::CoFilePath(argv[1]).copyTo(Corvane::CoFilePath(argv[2]));
    } catch (const Corvane::CoException& e) {
        std::fprintf(stderr, "%s: %s\n", e.detail(), e.what());
        return 1;
    }
    return 0;
}
