#include "base/ipc/CoCache.h"

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/loggerBase/CoMsg.h"
#include "support/Eventually.h"
#include "support/Gate.h"
#include "support/MessageLog.h"

namespace {

using Corvane::CoCache;
using Names = std::vector<std::string>;

// What happens to the entries is posted as user messages, which the
// fixture's log keeps in order.
void journal(const std::string& event) { CO_USER("%s", event.c_str()); }

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
struct NamedEntry : Base, Named {
    explicit NamedEntry(std::string n) : Named(std::move(n)) { journal("create " + name); }
    ~NamedEntry() override { journal("delete " + name); }

    bool matches(const CoCache::Key& key) override {
        if (dynamic_cast<const PoisonKey*>(&key))
            throw std::runtime_error("poisoned key");
        const NameKey* named = dynamic_cast<const NameKey*>(&key);
        return named && named->name == name;
    }
    void release() override {
        journal("release " + name);
        Base::release();
    }
};

// A cache whose clock and factory the test drives.
class TestCache : public CoCache {
public:
    enum class Factory { Make, ReturnNull, Throw };

    TestCache(int capacity, int64_t idleExpiryUs, bool reuseExpired, bool shared)
        : CoCache(capacity, idleExpiryUs, reuseExpired), shared_(shared) {}

    int64_t now = 1000000;
    Factory factory = Factory::Make;

protected:
    Entry* createEntry(const Key& key) override {
        if (factory == Factory::ReturnNull)
            return nullptr;
        if (factory == Factory::Throw)
            throw std::runtime_error("factory failed");
        const std::string& name = static_cast<const NameKey&>(key).name;
        if (shared_)
            return new NamedEntry<CoCache::SharedEntry>(name);
        return new NamedEntry<CoCache::Entry>(name);
    }
    int64_t nowUs() const override { return now; }

private:
    const bool shared_;
};

class CoCacheTest : public ::testing::Test {
protected:
    TestCache& makeCache(int capacity, int64_t idleExpiryUs = -1, bool reuseExpired = false, bool shared = false) {
        cache_.reset();
        log_->clear();
        cache_ = std::make_unique<TestCache>(capacity, idleExpiryUs, reuseExpired, shared);
        return *cache_;
    }

    CoCache::Entry* get(const std::string& name, bool create = true, bool includeLocked = false, int grow = 0) {
        return cache_->lookup(NameKey(name), create, includeLocked, true, grow);
    }

    // Looks name up at time t and lets it go again.
    void touch(const std::string& name, int64_t t) {
        cache_->now = t;
        CoCache::Entry* entry = get(name);
        ASSERT_NE(nullptr, entry) << name;
        cache_->release(entry);
    }

    // Entry names from the highest slot down.
    Names names() {
        Names found;
        CoCache::Iterator it(*cache_);
        while (CoCache::Entry* entry = it.next())
            found.push_back(nameOf(entry));
        return found;
    }

    CorvaneTest::MessageLog::Scope log_{Corvane::CoMsg::error};
    std::unique_ptr<TestCache> cache_;
};

TEST_F(CoCacheTest, EvictsTheLeastRecentlyUsedIdleEntryAndExpiresIdleOnes) {
    const struct {
        int capacity;
        std::vector<std::pair<const char*, int64_t>> touches;
        Names expected;
    } cases[] = {
        {0, {{"a", 100}, {"b", 200}}, {"b"}},                   // capacity 0 holds one live entry
        {2, {{"a", 100}, {"b", 100}, {"c", 200}}, {"b", "c"}},  // a tie evicts the lower slot
        {2, {{"a", 100}, {"b", 200}, {"a", 300}, {"c", 400}}, {"c", "a"}},
    };
    for (const auto& c : cases) {
        makeCache(c.capacity);
        for (const auto& t : c.touches)
            touch(t.first, t.second);
        EXPECT_EQ(c.expected, names()) << c.touches.size();
    }

    // Held entries are never evicted: with both held there is no room.
    CoCache::Entry* a = get("a");
    CoCache::Entry* c = get("c");
    EXPECT_EQ(nullptr, get("d"));
    cache_->release(a);
    cache_->release(c);

    // Nor flushed.
    makeCache(2);
    CoCache::Entry* held = get("a");
    touch("b", 100);
    EXPECT_EQ(1, cache_->flush(true));
    EXPECT_EQ(Names{"a"}, names());
    cache_->release(held);

    // An idle entry expires exactly at the limit. A lookup that creates
    // nothing still sweeps what it passes; held entries never expire.
    for (const int64_t age : {999, 1000}) {
        makeCache(4, 1000);
        held = get("held");
        touch("a", 5000);
        cache_->now = 5000 + age;
        EXPECT_EQ(nullptr, get("other", false));
        EXPECT_EQ(age < 1000 ? (Names{"a", "held"}) : Names{"held"}, names()) << "age " << age;
        cache_->release(held);
    }
}

TEST_F(CoCacheTest, SharedEntryIsHeldWhileAnyReferenceRemainsFromAnyThread) {
    makeCache(1, 1000, false, true);
    cache_->now = 0;
    CoCache::Entry* first = get("s", true, true);
    ASSERT_EQ(first, get("s", true, true));
    auto* shared = static_cast<CoCache::SharedEntry*>(first);
    EXPECT_EQ(2, shared->refCount());
    cache_->release(first);
    EXPECT_TRUE(shared->isLocked());

    cache_->now = 5000;  // long past the expiry, but referenced
    EXPECT_EQ(nullptr, get("other", false));
    EXPECT_EQ(Names{"s"}, names());

    cache_->release(first);
    EXPECT_FALSE(shared->isLocked());
    cache_->now = 10000;  // idle now, so it ages from its last lookup
    EXPECT_EQ(nullptr, get("other", false));
    EXPECT_TRUE(names().empty());

    // References are counted from several threads at once.
    constexpr int kThreads = 4;
    makeCache(2, -1, false, true);
    CorvaneTest::Gate letGo;
    std::atomic<int> holding{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&] {
            const NameKey key("s");
            for (int n = 0; n < 2000; ++n)
                cache_->release(cache_->lookup(key, true, true, true, 0));
            CoCache::Entry* held = cache_->lookup(key, true, true, true, 0);
            ++holding;
            letGo.wait();
            cache_->release(held);
        });
    // Every thread is let go and joined before any assertion can return.
    const bool allHolding = CorvaneTest::eventually([&] { return holding.load() == kThreads; });
    shared = static_cast<CoCache::SharedEntry*>(get("s", false, true));
    const int references = shared ? shared->refCount() : -1;
    cache_->release(shared);
    letGo.open();
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_TRUE(allHolding && shared);
    EXPECT_EQ(kThreads + 1, references);
    EXPECT_EQ(0, shared->refCount());
    EXPECT_FALSE(shared->isLocked());
    EXPECT_EQ(1, log_->count("create s"));
}

// A failing factory or match leaves the cache usable: a free slot stays
// free and the victim stays.
TEST_F(CoCacheTest, FailuresLeaveTheCacheUsable) {
    makeCache(1, 1000);
    for (const bool victim : {false, true}) {
        if (victim) {
            cache_->factory = TestCache::Factory::Make;
            touch("a", 100);
        }
        cache_->factory = TestCache::Factory::ReturnNull;
        EXPECT_EQ(nullptr, get("b"));
        cache_->factory = TestCache::Factory::Throw;
        EXPECT_THROW(get("b"), std::runtime_error);
        EXPECT_EQ(victim ? Names{"a"} : Names{}, names());
    }
    EXPECT_EQ(2, log_->count("Cache factory returned NULL."));

    cache_->factory = TestCache::Factory::Make;
    touch("c", 1000);
    cache_->now = 5000;
    EXPECT_THROW(cache_->lookup(PoisonKey(), true, false, true, 0), std::runtime_error);
    EXPECT_EQ(Names{"c"}, names());
    touch("d", 6000);  // the mutex was let go on every path
    EXPECT_EQ(Names{"d"}, names());
}

}  // namespace
