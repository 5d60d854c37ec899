// A small keyed cache of heavyweight objects. lookup() returns the entry for
// a key, held by the caller until released, making one through the
// subclass's factory when none matches and replacing the least recently used
// idle entry when the cache is full. Idle entries expire after a time, but
// only a later lookup (or a flush) removes them: nothing runs in the
// background. A SharedEntry can be held by many callers at once through a
// reference count.
//
// Ownership: the cache owns every entry in its slots; callers borrow an
// entry between lookup and release.
//
// Thread-safe. The cache mutex serialises every walk of the slots; each
// entry's lock records that it is held, and a shared entry's count has its
// own mutex. Lock order: cache mutex, then an entry's count mutex or entry
// lock. Release never takes the cache mutex, so a holder can always let go.
// Entries taken out of the slots are deleted after the cache mutex is
// released, each once its entry lock could be taken: deleting a connection
// can block.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/threads/CoLock.h"
#include "base/threads/CoLockGuard.h"
#include "base/threads/CoMutex.h"

namespace Corvane {

class CoCache {
public:
    // What an entry is looked up by. Entries recognise their own key type
    // with a dynamic cast.
    class Key {
    public:
        virtual ~Key() = default;
    };

    // Base of the cached objects. Held (locked) while a caller has it.
    class Entry {
    public:
        Entry() : entryLock_(1) {}
        virtual ~Entry() = default;
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

        virtual bool matches(const Key& key) = 0;
        // Takes the entry lock, waiting while another caller holds it.
        virtual void acquire(const Key& key);
        virtual void release();
        // Takes the entry lock only if it is free.
        bool tryAcquire();

        bool isLocked() const { return locked_.load(); }
        // When lookup last returned the entry (microseconds since the epoch).
        uint64_t lastUseUs() const { return lastUseUs_; }

    private:
        friend class CoCache;

        uint64_t lastUseUs_ = 0;  // guarded by the cache mutex
        std::atomic<bool> locked_{false};
        CoLock entryLock_;
    };

    // An entry held through a reference count: acquiring it never blocks,
    // and it counts as locked while any reference exists.
    class SharedEntry : public Entry {
    public:
        // Waits for a release still inside the count mutex.
        ~SharedEntry() override;

        void acquire(const Key& key) override;
        void release() override;
        virtual void incref();  // count mutex held
        virtual void decref();  // count mutex held

        int refCount() const;

    private:
        mutable CoMutex countMutex_;  // guards refCount_
        int refCount_ = 0;
    };

    // Holds one acquired entry (or none) and gives it back to the cache on
    // destruction. Subclasses add only their type.
    class EntryLockGuard {
    public:
        EntryLockGuard(CoCache* cache, Entry* lockedEntry);
        virtual ~EntryLockGuard();
        EntryLockGuard(const EntryLockGuard&) = delete;
        EntryLockGuard& operator=(const EntryLockGuard&) = delete;

        Entry* entry() const { return lockedEntry_; }

    protected:
        Entry* lockedEntry_;
        CoCache* cache_;
    };

    // Walks the entries from the highest slot down. Holds the cache mutex
    // for its whole life: do not call the cache from inside the walk.
    class Iterator {
    public:
        explicit Iterator(CoCache& cache);
        Iterator(const Iterator&) = delete;
        Iterator& operator=(const Iterator&) = delete;

        // The next entry, or null at the end.
        Entry* next();
        // Clears the slot of the entry next() last returned and hands the
        // entry over without deleting it; null if there is none.
        std::unique_ptr<Entry> clearCurrent();

    private:
        CoCache& cache_;
        CoLockGuard guard_;
        int position_;
        int current_ = -1;
    };

    // A capacity below 1 becomes 1. A negative idle expiry means entries
    // never expire. With reuseExpired, an expired entry that matches is
    // still returned.
    CoCache(int capacity, int64_t idleExpiryUs, bool reuseExpired);
    // Deletes every entry, last slot first; nobody may hold one any more.
    virtual ~CoCache();
    CoCache(const CoCache&) = delete;
    CoCache& operator=(const CoCache&) = delete;

    // How lookup() searches. The defaults find or make the entry, replacing
    // the least recently used idle one when the cache is full.
    struct LookupOptions {
        bool create = true;         // make an entry when none matches
        bool includeLocked = true;  // held entries match too (a plain one is then waited for)
        bool evict = true;          // replace the least recently used idle entry when full
        int grow = 0;               // slots to add when none is free and nothing is evicted
    };

    // The entry for key, acquired and stamped with the current time, or
    // null. Exceptions from the factory, recycleEntry, matches and acquire
    // pass through.
    Entry* lookup(const Key& key, const LookupOptions& options);
    // The same, the options given one by one in the order of LookupOptions.
    Entry* lookup(const Key& key, bool create, bool includeLocked, bool evict, int grow);
    // Null is ignored.
    void release(Entry* entry);

    // Each returns the number of entries deleted. With onlyUnlocked false a
    // held entry is deleted once its holders let go.
    int flush(bool onlyUnlocked);
    int removeAll(const Key& key, bool onlyUnlocked);
    int removeFirst(const Key& key, bool onlyUnlocked);

    // Clears the highest occupied slot and hands its entry over; null when
    // the cache is empty.
    std::unique_ptr<Entry> takeLast();

    int capacity() const { return capacity_; }
    int slotCount() const;

protected:
    // The factory: a new entry for key, or null on failure.
    virtual Entry* createEntry(const Key& key) = 0;
    // May turn victim, the idle entry about to be replaced, into the entry
    // for key; true when it did.
    virtual bool recycleEntry(Entry* victim, const Key& key);
    // Microseconds since the epoch.
    virtual int64_t nowUs() const;

private:
    // Deletes an entry once its entry lock can be taken.
    struct Retire {
        void operator()(Entry* entry) const;
    };
    using Retired = std::vector<std::unique_ptr<Entry, Retire>>;

    Entry* lookupLocked(const Key& key, const LookupOptions& options, Retired* retired, bool* factoryFailed);
    Entry* replaceLocked(int slot, const Key& key, Retired* retired, bool* factoryFailed);
    void retireLocked(int slot, Retired* retired);
    int removeLocked(const Key* key, bool onlyUnlocked, bool firstOnly, Retired* retired);

    const int capacity_;
    const int64_t idleExpiryUs_;
    const bool reuseExpired_;
    mutable CoMutex mutex_;      // guards slots_ and every entry's lastUseUs_
    std::vector<Entry*> slots_;  // owned; null is a free slot; only grows
};

}  // namespace Corvane
