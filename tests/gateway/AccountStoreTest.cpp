// The account modes through the driver: documents kept per user in ./account.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "DriverFixture.h"
#include "support/Eventually.h"
#include "support/LoopbackListener.h"

namespace {

class AccountStoreTest : public DriverFixture {
protected:
    CorvaneTest::ProcessResult save(const std::string& user, const std::string& document) {
        return post("mode=saveUser&host=h&nodeId=n&corvaneMetadata=" + encode(document), {{"REMOTE_USER", user}});
    }
    CorvaneTest::ProcessResult load(const std::string& user) {
        return run({"mode=loadUser", "host=h", "nodeId=n"}, {{"REMOTE_USER", user}});
    }
    // How many descriptors of this process have the file open. They are
    // looked at by name: another thread's descriptors are its own.
    static int timesOpen(const std::string& path) {
        struct stat file;
        if (stat(path.c_str(), &file) != 0)
            return 0;
        int count = 0;
        for (const int fd : CorvaneTest::openFds()) {
            struct stat st;
            const std::string link = "/proc/self/fd/" + std::to_string(fd);
            if (stat(link.c_str(), &st) == 0 && st.st_dev == file.st_dev && st.st_ino == file.st_ino)
                ++count;
        }
        return count;
    }
};

TEST_F(AccountStoreTest, SavedDocumentComesBackByteForByte) {
    allowMalformedContent();  // every byte, as stored
    std::string document = "<prefs a=\"1\" b='2'>&amp; \t\r\n caf\xc3\xa9 \xff\x01 %41 + ;=&</prefs>";
    for (int c = 1; c < 256; ++c)
        document += static_cast<char>(c);
    EXPECT_EQ(load("alice").out, ok("<response></response>\n"));  // never saved
    // Other users of the host never read the document, whatever the umask.
    const mode_t umaskBefore = umask(002);
    const auto saved = save("alice", document);
    umask(umaskBefore);
    EXPECT_EQ(saved.out, ok("<response></response>\n"));
    EXPECT_EQ(saved.err, "");
    struct stat st;
    ASSERT_EQ(stat(dir_.file("account/alice.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(CorvaneTest::readFile(dir_.file("account/alice.xml")), document);
    EXPECT_EQ(load("alice").out, ok("<response>" + document + "</response>\n"));
    // A second save replaces the whole document, shorter or not; one without data keeps it.
    save("alice", "<x/>");
    EXPECT_EQ(run({"mode=saveUser", "host=h", "nodeId=n"}, {{"REMOTE_USER", "alice"}}).out,
              error("Specify corvaneMetadta when saving persistent user data"));
    EXPECT_EQ(load("alice").out, ok("<response><x/></response>\n"));
    // A load stops at the first NUL byte.
    dir_.write("account/alice.xml", std::string("ab\0cd", 5));
    EXPECT_EQ(load("alice").out, ok("<response>ab</response>\n"));
    // The answer's limit goes by the file's size, before any of it is read.
    EXPECT_EQ(
        run({"mode=loadUser", "host=h", "nodeId=n"}, {{"REMOTE_USER", "alice"}, {"CORVANE_MAX_RESPONSE_BYTES", "26"}})
            .out,
        error("Response too large"));
}

TEST_F(AccountStoreTest, EveryNameKeepsItsOwnFileInsideTheAccountDirectory) {
    // REMOTE_USER=../x wrote ./x.xml, outside ./account.
    const std::vector<std::string> users{".", "..", "../x", "a/b", "/tmp/x", "DOM\\..", "DOM\\", "x\\../x", "%2E"};
    for (const std::string& user : users)
        EXPECT_EQ(save(user, "doc of " + user).out, ok("<response></response>\n")) << user;
    for (const std::string& user : users)
        EXPECT_EQ(load(user).out, ok("<response>doc of " + user + "</response>\n")) << user;
    EXPECT_NE(access(dir_.file("x.xml").c_str(), F_OK), 0);
    EXPECT_NE(access("/tmp/x.xml", F_OK), 0);
    // The bytes a file name may hold stay as they are: an administrator
    // finds a user's file by the user's name.
    save("Al.b_c-d@e1", "d");
    EXPECT_EQ(access(dir_.file("account/Al.b_c-d@e1.xml").c_str(), F_OK), 0);
    // No name at all, or one too long for a file name, has no document:
    // 200 bytes fit, 201 (each "/" written as 3) do not.
    EXPECT_EQ(save(std::string(200, 'a'), "d").out, ok("<response></response>\n"));
    for (const std::string& user : {std::string(), std::string(67, '/')}) {
        EXPECT_EQ(save(user, "d").out, error("Failed to open account for saving persistent user data"));
        EXPECT_EQ(load(user).out, error("Failed to open account for loading persistent user data"));
    }
}

TEST_F(AccountStoreTest, HeldLockFailsASaveWithinTheBrowseLimitAndNeverALoad) {
    // A stuck holder of the lock hung the web request without limit.
    save("held", "kept");
    const CorvaneTest::ScopedFd fd(::open(dir_.file("account/held.lock").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(flock(fd.get(), LOCK_EX), 0);
    using Env = std::map<std::string, std::string>;
    const Env env{{"REMOTE_USER", "held"}, {"XQ_CVC_BROWSE_TIMEOUT", "300"}};
    // What is left of the request bounds the wait too.
    const Env late{{"REMOTE_USER", "held"}, {"XQ_CVC_BROWSE_TIMEOUT", "60000"}, {"CORVANE_REQUEST_TIMEOUT", "300"}};
    for (const Env* limits : {&env, &late}) {
        long long elapsedMs = 0;
        EXPECT_EQ(timedRun({"mode=saveUser", "host=h", "nodeId=n", "corvaneMetadata=new"}, *limits, &elapsedMs).out,
                  error("Failed to open account for saving persistent user data"));
        // Far past what a loaded machine takes, far short of the 60 s the
        // request's own limit or the browse limit would end the wait at.
        EXPECT_LT(elapsedMs, 20000) << limits->at("XQ_CVC_BROWSE_TIMEOUT");
    }
    // A load reads the whole document a save left, lock or none.
    EXPECT_EQ(run({"mode=loadUser", "host=h", "nodeId=n"}, env).out, ok("<response>kept</response>\n"));
}

TEST_F(AccountStoreTest, LockFreedDuringTheWaitLetsTheSaveThrough) {
    save("held", "old");
    const std::string lock = dir_.file("account/held.lock");
    const std::map<std::string, std::string> env{{"REMOTE_USER", "held"}, {"XQ_CVC_BROWSE_TIMEOUT", "20000"}};
    CorvaneTest::ScopedFd holder(::open(lock.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(flock(holder.get(), LOCK_EX), 0);
    CorvaneTest::ProcessResult result;
    std::thread request([&] { result = run({"mode=saveUser", "host=h", "nodeId=n", "corvaneMetadata=new"}, env); });
    // Once the request has the lock file open too, it waits for the lock.
    const bool waiting = CorvaneTest::eventually([&] { return timesOpen(lock) == 2; });
    holder.reset();
    request.join();
    EXPECT_TRUE(waiting);
    EXPECT_EQ(result.out, ok("<response></response>\n"));
    EXPECT_EQ(CorvaneTest::readFile(dir_.file("account/held.xml")), "new");
}

TEST_F(AccountStoreTest, MissingOrFileAccountDirectoryIsInvalid) {
    ASSERT_EQ(rmdir(dir_.file("account").c_str()), 0);
    EXPECT_EQ(load("u").out, error("Invalid account directory"));
    dir_.write("account", "not a directory");
    EXPECT_EQ(save("u", "x").out, error("Invalid account directory"));
    EXPECT_EQ(run({"mode=saveUser", "host=h", "nodeId=n"}, {{"REMOTE_USER", "u"}}).out,
              error("Invalid account directory"));
}

TEST_F(AccountStoreTest, AccountFilesThatCanNotBeOpenedFailClearly) {
    // Root may open any regular file, so use kinds of file that no one can
    // open as asked: a socket for reading, a directory for writing.
    {
        const CorvaneTest::LocalListener socket(dir_.file("account/sock.xml"));
        EXPECT_EQ(load("sock").out, error("Failed to open account for loading persistent user data"));
    }

    ASSERT_EQ(mkdir(dir_.file("account/dir.xml").c_str(), 0755), 0);
    const auto saved = save("dir", "x");
    EXPECT_EQ(saved.out, error("Failed to open account for saving persistent user data"));
    EXPECT_EQ(saved.err, "Failed to open account for saving persistent user data on host h");
    // A directory can be opened for reading but not read.
    EXPECT_EQ(load("dir").out, error("Failed to read persistent user data"));

    // A new document that can not be made leaves the old one.
    save("tmp", "old");
    ASSERT_EQ(mkdir(dir_.file("account/tmp.xml.tmp").c_str(), 0755), 0);
    EXPECT_EQ(save("tmp", "new").out, error("Failed to write persistent user data"));
    EXPECT_EQ(load("tmp").out, ok("<response>old</response>\n"));

    // A FIFO never hangs the request.
    ASSERT_EQ(mkfifo(dir_.file("account/fifo.xml").c_str(), 0644), 0);
    EXPECT_EQ(load("fifo").out, ok("<response></response>\n"));
    EXPECT_EQ(save("fifo", "x").out, error("Failed to open account for saving persistent user data"));
}

TEST_F(AccountStoreTest, LinksInTheAccountDirectoryAreNeverFollowed) {
    // Whoever can write the directory must not make a user's files other
    // files: each of the user's names, linked elsewhere, fails the mode and
    // leaves the other file as it was.
    const struct {
        const char* link;
        bool failsLoad;
        const char* saveError;
    } kCases[] = {
        {"mallory.xml", true, "Failed to open account for saving persistent user data"},
        {"mallory.lock", false, "Failed to open account for saving persistent user data"},
        {"mallory.xml.tmp", false, "Failed to write persistent user data"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.link);
        const std::string target = dir_.file("secret");
        dir_.write("secret", "<secret/>");
        const std::string link = dir_.file(std::string("account/") + c.link);
        ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
        const auto loaded = load("mallory");
        EXPECT_EQ(loaded.out, c.failsLoad ? error("Failed to open account for loading persistent user data")
                                          : ok("<response></response>\n"));
        EXPECT_EQ(save("mallory", "<mine/>").out, error(c.saveError));
        EXPECT_EQ(CorvaneTest::readFile(target), "<secret/>");
        // Dangling, the link is no missing document either.
        ASSERT_EQ(unlink(target.c_str()), 0);
        EXPECT_EQ(load("mallory").out, loaded.out);
        EXPECT_EQ(save("mallory", "<mine/>").out, error(c.saveError));
        EXPECT_FALSE(std::filesystem::exists(target));
        ASSERT_EQ(unlink(link.c_str()), 0);
        std::filesystem::remove(dir_.file("account/mallory.xml"));
        std::filesystem::remove(dir_.file("account/mallory.lock"));
    }
}

}  // namespace
