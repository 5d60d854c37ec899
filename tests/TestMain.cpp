// The main of every test binary: the tests start discovery, which must not
// reach past this machine, so they run in a private network namespace.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "support/PrivateNetwork.h"

int main(int argc, char** argv) {
    std::string error;
    if (!CorvaneTest::enterPrivateNetwork(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
