// Moves the calling process into a network namespace of its own: only lo,
// up, with multicast on and 224.0.0.0/4 routed to it. Discovery multicasts
// on every multicast-capable interface, so no test may run it where an
// interface leads off the machine; every test binary calls this first.
// Children (the gateway, the sim, a web server) inherit the namespace.
#pragma once

#include <string>

namespace CorvaneTest {

// Call before any thread starts. Root gets a plain network namespace; a
// user without the right gets one inside a user namespace of its own. False
// with *error set when neither works.
bool enterPrivateNetwork(std::string* error);

}  // namespace CorvaneTest
