#include "base/ipc/CoCache.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/threads/CoThreadMgr.h"
#include "common/base/threads/ThreadTestSupport.h"
#include "support/Eventually.h"
#include "support/Gate.h"
#include "support/MessageLog.h"

namespace {

using Corvane::CoCache;
using Corvane::CoThread;
using Corvane::CoThreadMgr;
using CorvaneTest::eventually;
using CorvaneTest::Gate;

// What happened to the entries, in order; outlives the cache.
class Journal {
public:
    void add(const std::string& event) {
        std::lock_guard<std::mutex> guard(mutex_);
        events_.push_back(event);
    }
    std::vector<std::string> events() {
        std::lock_guard<std::mutex> guard(mutex_);
        return events_;
    }
    void clear() {
        std::lock_guard<std::mutex> guard(mutex_);
        events_.clear();
    }
    int count(const std::string& event) {
        int n = 0;
        for (const std::string& e : events())
            n += e == event;
        return n;
    }

private:
    std::mutex mutex_;  // guards events_
    std::vector<std::string> events_;
};

struct NameKey : CoCache::Key {
    explicit NameKey(std::string n) : name(std::move(n)) {}
    std::string name;
};

// Matches no entry: matching it throws.
struct PoisonKey : CoCache::Key {};

struct Named {
    explicit Named(std::string n) : name(std::move(n)) {}
    virtual ~Named() = default;
    std::string name;
};

std::string nameOf(CoCache::Entry* entry) { return dynamic_cast<Named*>(entry)->name; }

template <typename Base>
class NamedEntry : public Base, public Named {
public:
    NamedEntry(std::string n, Journal& journal) : Named(std::move(n)), journal_(journal) {
        journal_.add("create " + name);
    }
    ~NamedEntry() override { journal_.add("delete " + name); }

    bool matches(const CoCache::Key& key) override {
        if (dynamic_cast<const PoisonKey*>(&key))
            throw std::runtime_error("poisoned key");
        const NameKey* named = dynamic_cast<const NameKey*>(&key);
        return named && named->name == name;
    }
    void release() override {
        journal_.add("release " + name);
        Base::release();
    }

private:
    Journal& journal_;
};

using PlainTestEntry = NamedEntry<CoCache::Entry>;
using SharedTestEntry = NamedEntry<CoCache::SharedEntry>;

// A cache whose clock and factory the test drives.
class TestCache : public CoCache {
public:
    enum class Factory { Make, ReturnNull, Throw };
    enum class Recycle { No, Rename, Throw };

    TestCache(int capacity, int64_t idleExpiryUs, bool reuseExpired, bool shared, Journal& journal)
        : CoCache(capacity, idleExpiryUs, reuseExpired), shared_(shared), journal_(journal) {}
    ~TestCache() override = default;

    int64_t now = 1000000;
    Factory factory = Factory::Make;
    Recycle recycle = Recycle::No;

protected:
    Entry* createEntry(const Key& key) override {
        if (factory == Factory::ReturnNull)
            return nullptr;
        if (factory == Factory::Throw)
            throw std::runtime_error("factory failed");
        const std::string& name = static_cast<const NameKey&>(key).name;
        if (shared_)
            return new SharedTestEntry(name, journal_);
        return new PlainTestEntry(name, journal_);
    }
    bool recycleEntry(Entry* victim, const Key& key) override {
        if (recycle == Recycle::Throw)
            throw std::runtime_error("recycling failed");
        if (recycle == Recycle::No)
            return false;
        dynamic_cast<Named*>(victim)->name = static_cast<const NameKey&>(key).name;
        journal_.add("recycle");
        return true;
    }
    int64_t nowUs() const override { return now; }

private:
    const bool shared_;
    Journal& journal_;
};

class CoCacheTest : public ::testing::Test {
protected:
    TestCache& makeCache(int capacity, int64_t idleExpiryUs = -1, bool reuseExpired = false, bool shared = false) {
        cache_ = std::make_unique<TestCache>(capacity, idleExpiryUs, reuseExpired, shared, journal_);
        return *cache_;
    }

    CoCache::Entry* get(const std::string& name, bool create = true, bool includeLocked = false, bool evict = true,
                        int grow = 0) {
        return cache_->lookup(NameKey(name), create, includeLocked, evict, grow);
    }

    // Looks name up at time t and lets it go again.
    void touch(const std::string& name, int64_t t) {
        cache_->now = t;
        CoCache::Entry* entry = get(name);
        ASSERT_NE(nullptr, entry) << name;
        cache_->release(entry);
    }

    // Entry names from the highest slot down.
    std::vector<std::string> names() {
        std::vector<std::string> found;
        CoCache::Iterator it(*cache_);
        while (CoCache::Entry* entry = it.next())
            found.push_back(nameOf(entry));
        return found;
    }

    Journal journal_;
    std::unique_ptr<TestCache> cache_;
};

TEST_F(CoCacheTest, CapacityZeroHoldsOneLiveEntry) {
    makeCache(0);
    EXPECT_EQ(1, cache_->capacity());
    touch("a", 100);
    touch("b", 200);
    EXPECT_EQ(std::vector<std::string>{"b"}, names());
    EXPECT_EQ(1, journal_.count("delete a"));
}

TEST_F(CoCacheTest, EvictsTheLeastRecentlyUsedIdleEntry) {
    makeCache(2);
    touch("a", 100);
    touch("b", 200);
    touch("a", 300);  // b is now the older
    touch("c", 400);
    EXPECT_EQ((std::vector<std::string>{"c", "a"}), names());
    EXPECT_EQ(1, journal_.count("delete b"));

    // Held entries are never evicted: with both held there is no room.
    CoCache::Entry* a = get("a");
    CoCache::Entry* c = get("c");
    EXPECT_EQ(nullptr, get("d"));
    EXPECT_EQ(2, cache_->slotCount());
    CoCache::Entry* d = get("d", true, false, true, 1);  // unless the cache may grow
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(3, cache_->slotCount());
    for (CoCache::Entry* entry : {a, c, d})
        cache_->release(entry);

    // At capacity with a slot free, the oldest idle entry is still
    // replaced (ties go to the lower slot) and the free slot stays free.
    EXPECT_EQ(1, cache_->removeFirst(NameKey("d"), true));
    touch("e", 500);
    EXPECT_EQ((std::vector<std::string>{"c", "e"}), names());
    EXPECT_EQ(3, cache_->slotCount());
    EXPECT_EQ(1, journal_.count("delete a"));
}

TEST_F(CoCacheTest, EqualLastUseEvictsTheLowerSlot) {
    makeCache(2);
    touch("a", 100);
    touch("b", 100);
    touch("c", 200);
    EXPECT_EQ((std::vector<std::string>{"b", "c"}), names());
}

TEST_F(CoCacheTest, IdleEntryExpiresExactlyAtTheLimit) {
    struct Case {
        int64_t ageUs;
        bool expired;
    };
    for (const Case& c : {Case{999, false}, Case{1000, true}}) {
        makeCache(4, 1000);
        touch("a", 5000);
        cache_->now = 5000 + c.ageUs;
        // A lookup that creates nothing still sweeps what it passes.
        EXPECT_EQ(nullptr, get("other", false));
        EXPECT_EQ(c.expired ? std::vector<std::string>{} : std::vector<std::string>{"a"}, names())
            << "age " << c.ageUs;
    }
}

TEST_F(CoCacheTest, HeldEntriesDoNotExpire) {
    makeCache(4, 1000);
    touch("idle", 0);
    CoCache::Entry* held = get("held");  // looked up at 0 too
    cache_->now = 100000;
    EXPECT_EQ(nullptr, get("other", false));
    EXPECT_EQ(std::vector<std::string>{"held"}, names());
    cache_->release(held);
}

TEST_F(CoCacheTest, ExpiredMatchIsReusedOnlyWhenAllowed) {
    for (const bool reuse : {true, false}) {
        makeCache(4, 1000, reuse);
        touch("a", 0);
        cache_->now = 5000;
        CoCache::Entry* second = get("a");
        ASSERT_NE(nullptr, second);
        EXPECT_EQ(reuse ? 1 : 2, journal_.count("create a")) << "reuse " << reuse;
        EXPECT_EQ(5000u, second->lastUseUs());
        cache_->release(second);
        cache_.reset();
        journal_.clear();
    }
}

TEST_F(CoCacheTest, SharedEntryIsHeldWhileAnyReferenceRemains) {
    makeCache(1, 1000, false, true);
    cache_->now = 0;
    CoCache::Entry* first = get("s", true, true);
    CoCache::Entry* second = get("s", true, true);
    ASSERT_EQ(first, second);
    auto* shared = static_cast<CoCache::SharedEntry*>(first);
    EXPECT_EQ(2, shared->refCount());
    cache_->release(first);
    EXPECT_TRUE(shared->isLocked());

    cache_->now = 5000;  // long past the expiry, but referenced
    EXPECT_EQ(nullptr, get("other", false));
    EXPECT_EQ(std::vector<std::string>{"s"}, names());

    cache_->release(second);
    EXPECT_FALSE(shared->isLocked());
    EXPECT_EQ(0, shared->refCount());
    cache_->now = 10000;  // idle now, so it ages from its last lookup
    EXPECT_EQ(nullptr, get("other", false));
    EXPECT_TRUE(names().empty());
}

TEST_F(CoCacheTest, SharedEntryCountsReferencesFromSeveralThreads) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    makeCache(2, -1, false, true);
    struct Worker {
        TestCache* cache;
        Gate* letGo;
        std::atomic<int>* holding;
        static void run(void* arg) {
            Worker* w = static_cast<Worker*>(arg);
            const NameKey key("s");
            for (int i = 0; i < kRounds; ++i)
                w->cache->release(w->cache->lookup(key, true, true, true, 0));
            CoCache::Entry* held = w->cache->lookup(key, true, true, true, 0);
            ++*w->holding;
            w->letGo->wait();
            w->cache->release(held);
        }
    };
    Gate letGo;
    std::atomic<int> holding{0};
    Worker worker{cache_.get(), &letGo, &holding};
    std::vector<std::unique_ptr<CoThread>> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back(&CoThreadMgr::createThread("cache user", &Worker::run, &worker, true));

    ASSERT_TRUE(eventually([&] { return holding.load() == kThreads; }));
    CoCache::Entry* entry = get("s", false, true);
    ASSERT_NE(nullptr, entry);
    auto* shared = static_cast<CoCache::SharedEntry*>(entry);
    EXPECT_EQ(kThreads + 1, shared->refCount());
    cache_->release(entry);

    letGo.open();
    for (auto& thread : threads)
        thread->wait();
    EXPECT_EQ(0, shared->refCount());
    EXPECT_FALSE(shared->isLocked());
    EXPECT_EQ(1, journal_.count("create s"));
}

TEST_F(CoCacheTest, FactoryReturningNullChangesNothing) {
    makeCache(1);
    CorvaneTest::MessageLog::Scope messages;
    cache_->factory = TestCache::Factory::ReturnNull;
    EXPECT_EQ(nullptr, get("a"));  // free slot: stays free
    EXPECT_TRUE(names().empty());
    EXPECT_EQ(1, messages->count("Cache factory returned NULL."));

    cache_->factory = TestCache::Factory::Make;
    touch("a", 100);
    cache_->factory = TestCache::Factory::ReturnNull;
    EXPECT_EQ(nullptr, get("b"));  // replacement: the victim stays
    EXPECT_EQ(std::vector<std::string>{"a"}, names());
    EXPECT_EQ(0, journal_.count("delete a"));
}

TEST_F(CoCacheTest, RecycledVictimServesTheNewKey) {
    makeCache(1);
    touch("a", 100);
    CoCache::Entry* before = nullptr;
    {
        CoCache::Iterator it(*cache_);
        before = it.next();
    }
    cache_->recycle = TestCache::Recycle::Rename;
    cache_->now = 200;
    CoCache::Entry* entry = get("b");
    EXPECT_EQ(before, entry);
    EXPECT_EQ("b", nameOf(entry));
    EXPECT_EQ(0, journal_.count("delete a"));
    cache_->release(entry);
}

TEST_F(CoCacheTest, ExceptionsLeaveTheCacheUsable) {
    makeCache(1, 1000);
    cache_->factory = TestCache::Factory::Throw;
    EXPECT_THROW(get("a"), std::runtime_error);  // free slot stays free
    EXPECT_TRUE(names().empty());

    cache_->factory = TestCache::Factory::Make;
    touch("a", 100);
    cache_->factory = TestCache::Factory::Throw;
    EXPECT_THROW(get("b"), std::runtime_error);  // the factory failing leaves the victim
    EXPECT_EQ(std::vector<std::string>{"a"}, names());

    cache_->factory = TestCache::Factory::Make;
    cache_->recycle = TestCache::Recycle::Throw;
    EXPECT_THROW(get("b"), std::runtime_error);  // recycling failing deletes it
    EXPECT_TRUE(names().empty());
    EXPECT_EQ(1, journal_.count("delete a"));

    // A throwing match leaves the entry where it was.
    cache_->recycle = TestCache::Recycle::No;
    touch("c", 1000);
    cache_->now = 5000;
    EXPECT_THROW(cache_->lookup(PoisonKey(), true, false, true, 0), std::runtime_error);
    EXPECT_EQ(std::vector<std::string>{"c"}, names());
    touch("d", 6000);  // the mutex was let go on every path
    EXPECT_EQ(std::vector<std::string>{"d"}, names());
}

TEST_F(CoCacheTest, RemovalSparesHeldEntriesWhenAsked) {
    makeCache(4);
    CoCache::Entry* held = get("a");
    CoCache::Entry* second = get("a");  // the first is held, so a second is made
    ASSERT_NE(held, second);
    cache_->release(second);
    touch("b", 100);

    EXPECT_EQ(1, cache_->removeAll(NameKey("a"), true));
    EXPECT_EQ((std::vector<std::string>{"b", "a"}), names());
    EXPECT_EQ(0, cache_->removeFirst(NameKey("zzz"), false));
    EXPECT_EQ(1, cache_->flush(true));
    EXPECT_EQ(std::vector<std::string>{"a"}, names());
    cache_->release(held);
    EXPECT_EQ(1, cache_->removeFirst(NameKey("a"), false));
    EXPECT_TRUE(names().empty());
}

TEST_F(CoCacheTest, FlushWaitsForTheHolderBeforeDeleting) {
    makeCache(2);
    CoCache::Entry* held = get("a");
    struct Flusher {
        TestCache* cache;
        std::atomic<int> removed{-1};
        static void run(void* arg) {
            Flusher* f = static_cast<Flusher*>(arg);
            f->removed = f->cache->flush(false);
        }
    } flusher{cache_.get()};
    std::unique_ptr<CoThread> thread(&CoThreadMgr::createThread("flusher", &Flusher::run, &flusher, true));

    // Out of the slots at once, deleted only after the holder lets go.
    ASSERT_TRUE(eventually([&] { return names().empty(); }));
    EXPECT_EQ(0, journal_.count("delete a"));
    cache_->release(held);
    thread->wait();
    EXPECT_EQ(1, flusher.removed);
    EXPECT_EQ((std::vector<std::string>{"create a", "release a", "delete a"}), journal_.events());
}

TEST_F(CoCacheTest, IterationAndTakeLastHandEntriesOver) {
    makeCache(3);
    touch("a", 100);
    touch("b", 200);
    touch("c", 300);
    std::unique_ptr<CoCache::Entry> taken;
    {
        CoCache::Iterator it(*cache_);
        ASSERT_NE(nullptr, it.next());
        ASSERT_NE(nullptr, it.next());
        taken = it.clearCurrent();
    }
    ASSERT_TRUE(taken);
    EXPECT_EQ("b", nameOf(taken.get()));
    EXPECT_EQ((std::vector<std::string>{"c", "a"}), names());

    std::unique_ptr<CoCache::Entry> last = cache_->takeLast();
    ASSERT_TRUE(last);
    EXPECT_EQ("c", nameOf(last.get()));
    EXPECT_EQ(std::vector<std::string>{"a"}, names());
    EXPECT_EQ(0, journal_.count("delete b") + journal_.count("delete c"));
}

}  // namespace
