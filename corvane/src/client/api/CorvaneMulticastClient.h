// The process-wide discovery client that the server connections ask to turn
// a server identifier into the server's full description. This version knows
// no servers: resolve always fails, so a connection goes straight to the host
// and port written in the identifier, which is all a server given by address
// needs. Server discovery by multicast replaces it with the same interface.
// Thread-safe: it holds no state.
#pragma once

class CorvaneDaemonInfo;
class CorvaneServerId;

class CorvaneMulticastClient {
public:
    // The singleton, made on first use; never null.
    static CorvaneMulticastClient* instance();
    // Deletes the singleton; the next instance() makes a new one.
    static void destroyInstance();

    virtual ~CorvaneMulticastClient() = default;

    // Copies the first known record that describes id into out; false when
    // no record does (always, here).
    bool resolve(const CorvaneServerId& id, CorvaneDaemonInfo& out);
    // Marks the server as seen, or searches for it when it is unknown.
    void refreshServer(const CorvaneServerId& id);
    // Forgets the first record that describes id.
    void removeServer(const CorvaneServerId& id);
    // Searches the network for the server holding storageId; null or empty
    // does nothing.
    void findStorage(const char* storageId);

private:
    CorvaneMulticastClient() = default;
};
