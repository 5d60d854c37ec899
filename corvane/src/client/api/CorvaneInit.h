// Library-wide start and stop by reference count. Meant to be called from
// one thread: the count is a plain integer.
#pragma once


// Starts the library on the first call; later calls only count. A false
// result still raises the count, so the matching corvaneUninit balances it.
bool corvaneInit();
// Undoes one corvaneInit; the last one stops the library. Harmless after a
// failed start.
void corvaneUninit();

// Library version: always 2014.0.0.
void corvaneVersion(int* major, int* minor, int* maint);

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
