// Process-wide watcher of the network topology. While the network layer is
// initialised and at least one observer is registered, the "CoNetworkMonitor
// Thread" listens to the kernel routing socket and, when a link changes or an
// IPv4 address is added, calls every registered observer in registration
// order. It starts with the first observer and stops at the last uninit.
//
// Locks: the monitor lock guards the observer list and the running thread,
// and is held while observers are called, so an observer is never destroyed
// mid-call. Observers may take their own locks below it (a dispatcher's lock,
// then the dispatcher's observers' locks); none may take the monitor lock
// (create or destroy an observer) while holding one of those.
#pragma once

namespace Corvane {

class CoNetworkMonitor {
public:
    // Registers itself on construction and unregisters on destruction. The
    // most derived class calls activate() at the end of its constructor and
    // deactivate() at the start of its destructor, so that callback() is
    // never called on a half-built or half-destroyed object.
    class Observer {
    public:
        Observer();
        virtual ~Observer();
        Observer(const Observer&) = delete;
        Observer& operator=(const Observer&) = delete;

        // Called on the monitor thread, under the monitor lock.
        virtual void callback() = 0;

    protected:
        void activate();
        // Waits for a call in progress to end.
        void deactivate();

    private:
        friend class CoNetworkMonitor;
        bool active_ = false;  // guarded by the monitor lock
    };

    // Called by CoNetwork on its first init and last uninit.
    static void init();
    static void uninit();

private:
    CoNetworkMonitor() = delete;
    // Runs on the monitor thread after a change.
    static void trigger();
};

}  // namespace Corvane
