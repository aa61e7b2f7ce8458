#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <gtest/gtest.h>

#include "QuenfoldEditor/Utils/Platform/DirectoryChanges.h"
#include "QuenfoldEditor/Utils/Platform/Linux/Test/DirectoryReader.h"
#include "QuenfoldEditor/Utils/Test/TreeOnDisk.h"

namespace QuenfoldEngine { namespace Platform { namespace {

namespace fs = std::filesystem;

/* A thread of its own that runs one call at a time: run() waits for the
   call, start() does not, and finished() tells whether it returned. An
   empty call ends the thread. */
class Worker {
    public:
        ~Worker() {
            start({});
            _thread.join();
        }

        std::thread::id id() const { return _thread.get_id(); }

        void start(std::function<void()> call) {
            std::unique_lock<std::mutex> lock{_mutex};
            _changed.wait(lock, [&] { return _idle; });
            _call = std::move(call);
            _idle = false;
            _changed.notify_all();
        }

        bool finished() {
            const std::lock_guard<std::mutex> lock{_mutex};
            return _idle;
        }

        void run(std::function<void()> call) {
            start(std::move(call));
            std::unique_lock<std::mutex> lock{_mutex};
            _changed.wait(lock, [&] { return _idle; });
        }

    private:
        std::mutex _mutex;
        std::condition_variable _changed;
        std::function<void()> _call;
        bool _idle = true;
        /* Last, started once the rest is there */
        std::thread _thread{[this] {
            std::unique_lock<std::mutex> lock{_mutex};
            for(;;) {
                _changed.wait(lock, [&] { return !_idle; });
                if(!_call) return;
                lock.unlock();
                _call();
                lock.lock();
                _idle = true;
                _changed.notify_all();
            }
        }};
};

/* Thousands of lines: a failure names the first that differs, rather than
   diffing them all */
testing::AssertionResult sameLines(const std::string& actual, const std::string& expected) {
    const std::size_t at = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end()).first - actual.begin();
    if(at == actual.size() && at == expected.size()) return testing::AssertionSuccess();
    const std::size_t line = at ? actual.rfind('\n', at - 1) + 1 : 0;
    return testing::AssertionFailure() << "line " << std::count(actual.begin(), actual.begin() + line, '\n') << " is "
        << actual.substr(line, actual.find('\n', line) - line) << ", expected " << expected.substr(line, expected.find('\n', line) - line);
}

using DirectoryChangesLinuxTest = Test::TreeOnDisk;

TEST_F(DirectoryChangesLinuxTest, KernelQueueOverflow) {
    std::size_t limit = 0;
    std::ifstream{"/proc/sys/fs/inotify/max_queued_events"} >> limit;
    if(!limit || limit > 65536) GTEST_SKIP() << "max_queued_events is" << limit;
    Reader reader{at("w")};
    /* Alternating, so that the kernel merges nothing */
    std::ofstream a{at("w/a")}, b{at("w/b")};
    for(std::size_t i = 0; i != limit; ++i) (i % 2 ? b : a) << 'x' << std::flush;
    ASSERT_TRUE(reader.waitFor([&] { return !reader.completions.empty() && reader.completions.back().bytes == 0; }));
    EXPECT_EQ(reader.completions.back(), (Completion{0, 0, {}}));
    /* The two creations and the writes up to the queue's limit */
    std::string expected = "1 a\n1 b\n";
    for(std::size_t i = 2; i != limit; ++i) expected += i % 2 ? "3 b\n" : "3 a\n";
    EXPECT_TRUE(sameLines(reader.records, expected));
}

/* A read of the kernel's queue can fall between the two halves of a rename,
   which must stay paired all the same */
TEST_F(DirectoryChangesLinuxTest, RenameHalvesReadApart) {
    write("w/a");
    Reader reader{at("w")};
    constexpr int Renames = 20000;
    std::atomic<bool> done{false};
    std::thread renamer{[&] {
        for(int i = 0; i != Renames; ++i) fs::rename(at(i % 2 ? "w/b" : "w/a"), at(i % 2 ? "w/a" : "w/b"));
        done = true;
    }};
    while(!done) SleepEx(0, TRUE);
    renamer.join();
    std::string expected;
    for(int i = 0; i != Renames; ++i) expected += i % 2 ? "4 b\n5 a\n" : "4 a\n5 b\n";
    EXPECT_TRUE(sameLines(reader.take(2*Renames), expected));
}

/* A watched directory deleted tells of its entries and of nothing more, up
   to a change made after it elsewhere, which the thread reads after it */
TEST_F(DirectoryChangesLinuxTest, WatchedDirectoryDeleted) {
    fs::create_directory(at("gone"));
    write("gone/x");
    Reader gone{at("gone")}, other{at("w")};
    fs::remove(at("gone/x"));
    fs::remove(at("gone"));
    write("w/after");
    EXPECT_EQ(other.take(1), "1 after\n");
    EXPECT_EQ(gone.records, "2 x\n");
    EXPECT_EQ(gone.completions, (std::vector<Completion>{{0, 14, {}}}));
}

TEST_F(DirectoryChangesLinuxTest, HandleContract) {
    OVERLAPPED other{};
    char buffer[16];
    const struct {
        std::function<BOOL()> call;
        DWORD error;
    } failures[]{
        {[] { return CancelIo(nullptr); }, ERROR_INVALID_HANDLE},
        {[] { return CancelIoEx(nullptr, nullptr); }, ERROR_INVALID_HANDLE},
        {[] { return CloseHandle(INVALID_HANDLE_VALUE); }, ERROR_INVALID_HANDLE},
        {[&] { return ReadDirectoryChangesW(nullptr, buffer, 16, TRUE, 0x53, nullptr, &other, Reader::completed); }, ERROR_INVALID_HANDLE},
        {[&] { return BOOL(CreateFileA(at("missing").data(), 1, 7, nullptr, OPEN_EXISTING, 0x42000000, nullptr) != INVALID_HANDLE_VALUE); }, ERROR_FILE_NOT_FOUND},
        {[&] { return BOOL(CreateFileA(at("missing/w").data(), 1, 7, nullptr, OPEN_EXISTING, 0x42000000, nullptr) != INVALID_HANDLE_VALUE); }, ERROR_PATH_NOT_FOUND},
        {[&] { write("file"); return BOOL(CreateFileA(at("file").data(), 1, 7, nullptr, OPEN_EXISTING, 0x42000000, nullptr) != INVALID_HANDLE_VALUE); }, ERROR_DIRECTORY},
        /* The invalid handle keeps the reason of the thread's last failed
           open, whatever failed since */
        {[&] {
            write("file");
            CreateFileA(at("file").data(), 1, 7, nullptr, OPEN_EXISTING, 0x42000000, nullptr);
            CancelIo(nullptr);
            return ReadDirectoryChangesW(INVALID_HANDLE_VALUE, buffer, 16, TRUE, 0x53, nullptr, &other, Reader::completed);
        }, ERROR_DIRECTORY},
    };
    for(const auto& failure: failures) {
        EXPECT_EQ(failure.call(), FALSE);
        EXPECT_EQ(GetLastError(), failure.error);
    }
    DWORD errorInOtherThread = 1, readErrorInOtherThread = 0;
    std::thread{[&] {
        errorInOtherThread = GetLastError();
        ReadDirectoryChangesW(INVALID_HANDLE_VALUE, buffer, 16, TRUE, 0x53, nullptr, &other, Reader::completed);
        readErrorInOtherThread = GetLastError();
    }}.join();
    EXPECT_EQ(errorInOtherThread, 0u);
    /* No open failed there: the handle is only invalid */
    EXPECT_EQ(readErrorInOtherThread, ERROR_INVALID_HANDLE);

    Reader reader{at("w")};
    EXPECT_EQ(reader.arm(), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CancelIoEx(reader.handle, &other), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
    EXPECT_EQ(CancelIoEx(reader.handle, &reader.overlapped), TRUE);
    EXPECT_EQ(CancelIoEx(reader.handle, &reader.overlapped), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
    /* Completions run only in an alertable wait */
    EXPECT_TRUE(reader.completions.empty());
    EXPECT_EQ(SleepEx(0, FALSE), 0u);
    EXPECT_TRUE(reader.completions.empty());
    EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(SleepEx(0, TRUE), 0u);

    EXPECT_TRUE(reader.arm());
    EXPECT_EQ(CancelIo(reader.handle), TRUE);
    EXPECT_EQ(CancelIo(reader.handle), TRUE);
    EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
    EXPECT_TRUE(reader.arm());
    EXPECT_EQ(CloseHandle(reader.handle), TRUE);
    EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(reader.completions, (std::vector<Completion>(3, {ERROR_OPERATION_ABORTED, 0, {}})));
    EXPECT_EQ(CloseHandle(reader.handle), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

/* Without /proc no watch can be added; the directory is there all the same,
   and the open never says it is missing */
TEST_F(DirectoryChangesLinuxTest, WatchRefusedWithoutProc) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if(!child) {
        /* In namespaces of its own, less privileged, so that nothing mounted
           there reaches the rest of the system */
        if(unshare(CLONE_NEWUSER|CLONE_NEWNS) != 0 || mount("none", "/proc", "tmpfs", 0, nullptr) != 0) _exit(255);
        const HANDLE handle = CreateFileA(at("w").data(), 1, 7, nullptr, OPEN_EXISTING, 0x42000000, nullptr);
        _exit(handle == INVALID_HANDLE_VALUE ? int(GetLastError()) : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if(WEXITSTATUS(status) == 255) GTEST_SKIP() << "no mount namespace of our own";
    EXPECT_EQ(WEXITSTATUS(status), int(ERROR_GEN_FAILURE));
}

/* As on Windows, a read belongs to the thread that issued it, whichever
   opened the handle: only the issuing thread's alertable waits complete it,
   a wait already asleep there included, and only CancelIoEx cancels it from
   another thread */
TEST_F(DirectoryChangesLinuxTest, ReadIssuedOnAnotherThread) {
    Reader reader{at("w"), false};
    Worker issuer;
    issuer.run([&] { EXPECT_TRUE(reader.arm()); });
    write("w/a");
    EXPECT_EQ(SleepEx(0, TRUE), 0u);
    EXPECT_EQ(SleepEx(10, TRUE), 0u);
    EXPECT_EQ(CancelIo(reader.handle), TRUE);
    issuer.run([&] { EXPECT_EQ(reader.take(1), "1 a\n"); });

    /* The pause makes it likely that the wait there has begun */
    const auto whileAsleepThere = [&](const std::function<void()>& here) {
        DWORD woken = 0;
        issuer.start([&] { woken = SleepEx(60000, TRUE); });
        std::this_thread::sleep_for(std::chrono::milliseconds{50});
        here();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds{30};
        while(!issuer.finished() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds{1});
        EXPECT_TRUE(issuer.finished());
        issuer.run([] {});
        return woken;
    };
    /* Read from the kernel here first, which empties what the wait there
       polls */
    EXPECT_EQ(whileAsleepThere([&] {
        write("w/b");
        EXPECT_EQ(SleepEx(0, TRUE), 0u);
    }), WAIT_IO_COMPLETION);
    EXPECT_EQ(std::exchange(reader.records, {}), "1 b\n");
    /* The first half of a rename, read here, waits there for a second one
       that never comes */
    EXPECT_EQ(whileAsleepThere([&] {
        fs::rename(at("w/b"), at("out/b"));
        EXPECT_EQ(SleepEx(0, TRUE), 0u);
    }), WAIT_IO_COMPLETION);
    EXPECT_EQ(reader.records, "2 b\n");
    EXPECT_EQ(whileAsleepThere([&] { EXPECT_EQ(CancelIoEx(reader.handle, &reader.overlapped), TRUE); }), WAIT_IO_COMPLETION);

    /* Closed here, aborted there at its next wait */
    issuer.run([&] { EXPECT_TRUE(reader.arm()); });
    EXPECT_EQ(CloseHandle(std::exchange(reader.handle, INVALID_HANDLE_VALUE)), TRUE);
    EXPECT_EQ(SleepEx(0, TRUE), 0u);
    issuer.run([&] { EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION); });
    EXPECT_EQ(reader.completions, (std::vector<Completion>{{0, 14, {}}, {0, 14, {}}, {0, 14, {}}, {ERROR_OPERATION_ABORTED, 0, {}}, {ERROR_OPERATION_ABORTED, 0, {}}}));
    for(const Completion& completion: reader.completions) EXPECT_EQ(completion.thread, issuer.id());
}

/* The reads of another thread go on after the thread that opened the handle
   has ended, and its kernel instance is closed with the handle */
TEST_F(DirectoryChangesLinuxTest, OpeningThreadEnds) {
    const std::size_t descriptors = QuenfoldEngine::Test::openDescriptors();
    std::optional<Reader> reader;
    {
        Worker opener;
        opener.run([&] { reader.emplace(at("w"), false); });
        EXPECT_TRUE(reader->arm());
    }
    write("w/a");
    EXPECT_EQ(reader->take(1), "1 a\n");
    EXPECT_EQ(CloseHandle(std::exchange(reader->handle, INVALID_HANDLE_VALUE)), TRUE);
    EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(reader->completions, (std::vector<Completion>{{0, 14, {}}, {ERROR_OPERATION_ABORTED, 0, {}}}));
    EXPECT_EQ(QuenfoldEngine::Test::openDescriptors(), descriptors);
}

}}}
