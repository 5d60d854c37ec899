#include "base/ipc/CoCache.h"

#include <cassert>

#include "base/loggerBase/CoMsg.h"
#include "base/threads/CoLockGuard.h"
#include "base/time/CoClock.h"

namespace Corvane {

// ---- Entry

void CoCache::Entry::acquire(const Key&) {
    entryLock_.get();
    locked_.store(true);
}

void CoCache::Entry::release() {
    locked_.store(false);
    entryLock_.release();
}

bool CoCache::Entry::tryAcquire() {
    if (!entryLock_.tryGet())
        return false;
    locked_.store(true);
    return true;
}

// ---- SharedEntry

CoCache::SharedEntry::~SharedEntry() {
    // The last release clears the flag and frees the entry lock while it
    // still holds the count mutex; let it leave before the mutex goes.
    CoLockGuard guard(countMutex_);
}

void CoCache::SharedEntry::acquire(const Key&) {
    CoLockGuard guard(countMutex_);
    incref();
}

void CoCache::SharedEntry::release() {
    CoLockGuard guard(countMutex_);
    decref();
}

void CoCache::SharedEntry::incref() {
    if (++refCount_ == 1) {
        // An entry nobody references is never held.
        const bool acquired = tryAcquire();
        assert(acquired && "false");
        (void)acquired;
    }
}

void CoCache::SharedEntry::decref() {
    assert(refCount_ > 0 && "refCount_ > 0");
    if (--refCount_ == 0)
        Entry::release();
}

int CoCache::SharedEntry::refCount() const {
    CoLockGuard guard(countMutex_);
    return refCount_;
}

// ---- EntryLockGuard

CoCache::EntryLockGuard::EntryLockGuard(CoCache* cache, Entry* lockedEntry) : lockedEntry_(lockedEntry), cache_(cache) {
    assert((!lockedEntry_ || lockedEntry_->isLocked()) && "lockedEntry_->isLocked()");
}

CoCache::EntryLockGuard::~EntryLockGuard() {
    if (lockedEntry_)
        cache_->release(lockedEntry_);
}

// ---- Iterator

CoCache::Iterator::Iterator(CoCache& cache)
    : cache_(cache), guard_(cache.mutex_), position_(static_cast<int>(cache.slots_.size())) {}

CoCache::Entry* CoCache::Iterator::next() {
    while (position_ > 0) {
        --position_;
        if (Entry* entry = cache_.slots_[static_cast<size_t>(position_)]) {
            current_ = position_;
            return entry;
        }
    }
    current_ = -1;
    return nullptr;
}

std::unique_ptr<CoCache::Entry> CoCache::Iterator::clearCurrent() {
    if (current_ < 0)
        return nullptr;
    Entry*& slot = cache_.slots_[static_cast<size_t>(current_)];
    std::unique_ptr<Entry> entry(slot);
    slot = nullptr;
    current_ = -1;
    return entry;
}

// ---- CoCache

void CoCache::Retire::operator()(Entry* entry) const {
    entry->entryLock_.get();
    delete entry;
}

CoCache::CoCache(int capacity, int64_t idleExpiryUs, bool reuseExpired)
    : capacity_(capacity < 1 ? 1 : capacity),
      idleExpiryUs_(idleExpiryUs),
      reuseExpired_(reuseExpired),
      slots_(static_cast<size_t>(capacity_), nullptr) {}

CoCache::~CoCache() {
    for (auto it = slots_.rbegin(); it != slots_.rend(); ++it)
        delete *it;
}

int64_t CoCache::nowUs() const { return CoClock::wallUs(); }

bool CoCache::recycleEntry(Entry*, const Key&) { return false; }

int CoCache::slotCount() const {
    CoLockGuard guard(mutex_);
    return static_cast<int>(slots_.size());
}

void CoCache::release(Entry* entry) {
    if (entry)
        entry->release();
}

CoCache::Entry* CoCache::lookup(const Key& key, bool create, bool includeLocked, bool evict, int grow) {
    LookupOptions options;
    options.create = create;
    options.includeLocked = includeLocked;
    options.evict = evict;
    options.grow = grow;
    return lookup(key, options);
}

CoCache::Entry* CoCache::lookup(const Key& key, const LookupOptions& options) {
    // Declared before the guard: what was taken out is deleted after the
    // mutex is released, on an exception too.
    Retired retired;
    bool factoryFailed = false;
    Entry* entry = nullptr;
    {
        CoLockGuard guard(mutex_);
        entry = lookupLocked(key, options, &retired, &factoryFailed);
    }
    if (factoryFailed)
        CO_ERROR("Cache factory returned NULL.");
    return entry;
}

CoCache::Entry* CoCache::lookupLocked(const Key& key, const LookupOptions& options, Retired* retired,
                                      bool* factoryFailed) {
    const int64_t now = nowUs();
    int freeSlot = -1, found = -1, oldest = -1, live = 0;
    for (int i = 0; i < static_cast<int>(slots_.size()); ++i) {
        Entry* entry = slots_[static_cast<size_t>(i)];
        if (!entry) {
            if (freeSlot < 0)
                freeSlot = i;
            continue;
        }
        const bool locked = entry->isLocked();
        const bool expired =
            idleExpiryUs_ >= 0 && !locked && now - static_cast<int64_t>(entry->lastUseUs_) >= idleExpiryUs_;
        if (found < 0 && (options.includeLocked || !locked) && entry->matches(key)) {
            if (reuseExpired_ || !expired) {
                found = i;
                ++live;
                continue;
            }
        } else if (!expired) {
            // Ties keep the earlier slot.
            const bool older = oldest < 0 || entry->lastUseUs_ < slots_[static_cast<size_t>(oldest)]->lastUseUs_;
            if (older && !locked)
                oldest = i;
            ++live;
            continue;
        }
        retireLocked(i, retired);
        if (freeSlot < 0)
            freeSlot = i;
    }

    Entry* entry = nullptr;
    if (found >= 0) {
        entry = slots_[static_cast<size_t>(found)];
        entry->acquire(key);
    } else {
        if (!options.create)
            return nullptr;
        bool replace = false;
        if (freeSlot < 0) {
            if (options.evict && oldest >= 0) {
                replace = true;
            } else if (options.grow < 1) {
                return nullptr;
            } else {
                freeSlot = static_cast<int>(slots_.size());
                slots_.resize(slots_.size() + static_cast<size_t>(options.grow), nullptr);
            }
        }
        // A full cache replaces even when a slot is free; the slot stays empty.
        if (!replace && (live < capacity_ || !options.evict || oldest < 0)) {
            entry = createEntry(key);
            if (!entry) {
                *factoryFailed = true;
                return nullptr;
            }
            slots_[static_cast<size_t>(freeSlot)] = entry;
            entry->acquire(key);
        } else {
            entry = replaceLocked(oldest, key, retired, factoryFailed);
            if (!entry)
                return nullptr;
        }
    }
    entry->lastUseUs_ = static_cast<uint64_t>(now);
    return entry;
}

CoCache::Entry* CoCache::replaceLocked(int slot, const Key& key, Retired* retired, bool* factoryFailed) {
    Entry*& victimSlot = slots_[static_cast<size_t>(slot)];
    bool recycled = false;
    try {
        recycled = recycleEntry(victimSlot, key);
    } catch (...) {
        // A victim that failed half-way through recycling is not trusted again.
        retireLocked(slot, retired);
        throw;
    }
    if (!recycled) {
        Entry* fresh = createEntry(key);  // on an exception the victim stays
        if (!fresh) {
            *factoryFailed = true;
            return nullptr;
        }
        retireLocked(slot, retired);
        victimSlot = fresh;
    }
    victimSlot->acquire(key);
    return victimSlot;
}

void CoCache::retireLocked(int slot, Retired* retired) {
    Entry*& entry = slots_[static_cast<size_t>(slot)];
    retired->emplace_back(entry);
    entry = nullptr;
}

int CoCache::removeLocked(const Key* key, bool onlyUnlocked, bool firstOnly, Retired* retired) {
    int removed = 0;
    for (int i = 0; i < static_cast<int>(slots_.size()); ++i) {
        Entry* entry = slots_[static_cast<size_t>(i)];
        if (!entry || (onlyUnlocked && entry->isLocked()) || (key && !entry->matches(*key)))
            continue;
        retireLocked(i, retired);
        ++removed;
        if (firstOnly)
            break;
    }
    return removed;
}

int CoCache::flush(bool onlyUnlocked) {
    Retired retired;
    CoLockGuard guard(mutex_);
    return removeLocked(nullptr, onlyUnlocked, false, &retired);
}

int CoCache::removeAll(const Key& key, bool onlyUnlocked) {
    Retired retired;
    CoLockGuard guard(mutex_);
    return removeLocked(&key, onlyUnlocked, false, &retired);
}

int CoCache::removeFirst(const Key& key, bool onlyUnlocked) {
    Retired retired;
    CoLockGuard guard(mutex_);
    return removeLocked(&key, onlyUnlocked, true, &retired);
}

std::unique_ptr<CoCache::Entry> CoCache::takeLast() {
    CoLockGuard guard(mutex_);
    for (auto it = slots_.rbegin(); it != slots_.rend(); ++it) {
        if (*it) {
            std::unique_ptr<Entry> entry(*it);
            *it = nullptr;
            return entry;
        }
    }
    return nullptr;
}

}  // namespace Corvane
