// The least a C++ program on Debian's shared C++ runtime costs to start:
// it needs the runtime and does nothing else.
#include <string>

int main(int argc, char**) {
    const std::string text(static_cast<size_t>(argc), 'x');
    return text.size() == 1 ? 0 : 1;
}
