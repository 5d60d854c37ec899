// Library-wide start and stop by reference count. Meant to be called from
// one thread, before and after the library's other users: the count is a
// plain integer.
#pragma once

class CorvaneServerId;

// Starts the library on the first call; later calls only count. A false
// result still raises the count, so the matching corvaneUninit balances it.
bool corvaneInit();
// Undoes one corvaneInit; the last one stops the library. Harmless after a
// failed start.
void corvaneUninit();

// The version of the server protocol the library speaks: always 2014.0.0,
// whatever the release. Null pointers are skipped.
void corvaneVersion(int* major, int* minor, int* maint);
// The release of the library linked, "major.minor.patch": the
// CORVANE_VERSION_STRING its CorvaneVersion.h was generated with.
const char* corvaneLibraryVersion();

// all: deletes every shared connection nobody holds; otherwise only the
// idle ones past their time-out.
void corvanePurgeConnections(bool all);

// Called with a server's identifier when a call loses its connection.
void corvaneSetDisconnectCallback(void (*callback)(const CorvaneServerId& server));

// Calls corvaneInit on construction and corvaneUninit on destruction when the
// start succeeded.
class CorvaneInitGuard {
public:
    CorvaneInitGuard() : ok_(corvaneInit()) {}
    ~CorvaneInitGuard() {
        if (ok_)
            corvaneUninit();
    }
    CorvaneInitGuard(const CorvaneInitGuard&) = delete;
    CorvaneInitGuard& operator=(const CorvaneInitGuard&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_;
};
