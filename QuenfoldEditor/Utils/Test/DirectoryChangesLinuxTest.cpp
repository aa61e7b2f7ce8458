#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <utility>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <gtest/gtest.h>

#include "QuenfoldEditor/Utils/Platform/DirectoryChanges.h"

namespace QuenfoldEngine { namespace Platform { namespace {

namespace fs = std::filesystem;

struct Record {
    DWORD action;
    std::u16string name;
    bool operator==(const Record& other) const { return action == other.action && name == other.name; }
    bool operator<(const Record& other) const { return name < other.name || (name == other.name && action < other.action); }
};

void PrintTo(const Record& record, std::ostream* out) {
    *out << record.action << ' ';
    for(const char16_t unit: record.name) *out << (unit < 0x80 ? char(unit) : '?');
}

struct Completion {
    DWORD error, bytes;
    std::thread::id thread;
    bool operator==(const Completion& other) const { return error == other.error && bytes == other.bytes; }
};

void PrintTo(const Completion& completion, std::ostream* out) {
    *out << completion.error << '/' << completion.bytes;
}

/* Records of a buffer, checking the layout on the way: DWORD-aligned,
   chained, the chain ending in 0 exactly where the bytes end */
std::vector<Record> decode(const char* const buffer, const DWORD bytes) {
    std::vector<Record> records;
    for(std::size_t offset = 0;; ) {
        EXPECT_EQ(offset % 4, 0u);
        DWORD header[3];
        std::memcpy(header, buffer + offset, sizeof(header));
        std::u16string name(header[2]/2, u'\0');
        std::memcpy(name.data(), buffer + offset + 12, header[2]);
        records.push_back({header[1], name});
        if(!header[0]) {
            EXPECT_EQ(offset + 12 + header[2], bytes);
            return records;
        }
        EXPECT_GE(header[0], 12 + header[2]);
        offset += header[0];
    }
}

/* A directory read driven as the watcher drives it: re-armed after every
   completion that brought records */
struct Reader {
    explicit Reader(const fs::path& path): handle{CreateFileA(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ|FILE_SHARE_WRITE|FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS|FILE_FLAG_OVERLAPPED, nullptr)} {
        overlapped.hEvent = this;
        /* Garbage, so that the layout test sees every byte the read wrote */
        std::memset(buffer, 0xff, sizeof(buffer));
        EXPECT_NE(handle, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(arm());
    }

    ~Reader() {
        if(CloseHandle(handle)) SleepEx(0, TRUE);
    }

    BOOL arm() {
        return ReadDirectoryChangesW(handle, buffer, sizeof(buffer), TRUE, 0x53, nullptr, &overlapped, completed);
    }

    static void completed(const DWORD error, const DWORD bytes, OVERLAPPED* const overlapped) {
        Reader& self = *static_cast<Reader*>(overlapped->hEvent);
        self.completions.push_back({error, bytes, std::this_thread::get_id()});
        if(error || !bytes) return;
        for(Record& record: decode(self.buffer, bytes)) self.records.push_back(record);
        self.arm();
    }

    /* Bounded polling: true once the condition holds */
    bool waitFor(const std::function<bool()>& done) {
        for(int i = 0; i != 200 && !done(); ++i) SleepEx(50, TRUE);
        return done();
    }

    std::vector<Record> take(const std::size_t count) {
        waitFor([&] { return records.size() >= count; });
        return std::exchange(records, {});
    }

    HANDLE handle;
    OVERLAPPED overlapped{};
    alignas(DWORD) char buffer[10240];
    std::vector<Record> records;
    std::vector<Completion> completions;
};

struct DirectoryChangesLinuxTest: testing::Test {
    void SetUp() override {
        char name[] = "/tmp/DirectoryChangesLinuxTest.XXXXXX";
        ASSERT_TRUE(mkdtemp(name));
        root = name;
        fs::create_directory(root/"w");
    }
    void TearDown() override { fs::remove_all(root); }

    fs::path root;
};

void write(const fs::path& path, const char* text = "") {
    std::ofstream{path, std::ios::app} << text;
}

constexpr DWORD Add = FILE_ACTION_ADDED, Remove = FILE_ACTION_REMOVED, Modify = FILE_ACTION_MODIFIED, Old = FILE_ACTION_RENAMED_OLD_NAME, New = FILE_ACTION_RENAMED_NEW_NAME;

TEST_F(DirectoryChangesLinuxTest, RecordLayout) {
    fs::create_directory(root/"w"/"d");
    Reader reader{root/"w"};
    write(root/"w"/"a");
    write(root/"w"/"bc");
    write(root/"w"/"\xc3\xa9\xf0\x9f\x98\x80");
    write(root/"w"/"d"/"x");
    ASSERT_TRUE(reader.waitFor([&] { return reader.records.size() == 5; }));
    EXPECT_EQ(reader.completions, (std::vector<Completion>{{0, 86, {}}}));

    /* At 0, 16, 32, 52, 72: each header and name, padded to 4 bytes with
       zeros; the last record ends at the byte count, unpadded */
    const std::vector<std::vector<DWORD>> expected{
        {16, Add, 2, 'a'},
        {16, Add, 4, 'b' | 'c' << 16},
        {20, Add, 6, 0xe9 | 0xd83du << 16, 0xde00},
        {20, Add, 6, 'd' | '\\' << 16, 'x'},
        {0, Modify, 2, 'd'}};
    std::size_t offset = 0;
    for(const std::vector<DWORD>& words: expected) {
        std::vector<DWORD> actual(words.size());
        std::memcpy(actual.data(), reader.buffer + offset, std::min<std::size_t>(4*words.size(), 86 - offset));
        EXPECT_EQ(actual, words) << "at offset " << offset;
        offset += words[0];
    }
}

/* What the end-to-end tests leave out: subdirectory renames, links and
   metadata-only changes */
TEST_F(DirectoryChangesLinuxTest, Translation) {
    const fs::path w = root/"w", out = root/"out";
    fs::create_directories(w/"d");
    write(w/"d"/"h");
    fs::create_directory(out);
    Reader reader{w};

    const struct {
        std::function<void()> operation;
        std::vector<Record> expected;
    } steps[]{
        {[&] { fs::rename(w/"d", w/"e"); write(w/"e"/"z"); }, {{Old, u"d"}, {New, u"e"}, {Add, u"e\\z"}, {Modify, u"e"}}},
        {[&] { fs::remove(w/"e"/"h"); fs::remove(w/"e"/"z"); fs::remove(w/"e"); }, {{Remove, u"e\\h"}, {Modify, u"e"}, {Remove, u"e\\z"}, {Modify, u"e"}, {Remove, u"e"}}},
        /* A link is an entry like a file, never followed */
        {[&] { fs::create_directory_symlink(out, w/"link"); write(out/"behind"); write(w/"m"); }, {{Add, u"link"}, {Add, u"m"}}},
        {[&] { utimensat(AT_FDCWD, (w/"m").c_str(), nullptr, 0); }, {{Modify, u"m"}}},
        /* Permissions are not asked for */
        {[&] { const timespec old[2]{{1, 0}, {1, 0}}; utimensat(AT_FDCWD, (w/"m").c_str(), old, 0); chmod((w/"m").c_str(), 0600); write(w/"n"); }, {{Add, u"n"}}},
        /* A new directory takes the old name before the rename is read: each
           is listed once the events have caught up, where it is now, never
           the other in its place */
        {[&] { fs::create_directory(w/"p"); fs::rename(w/"p", w/"q"); fs::create_directory(w/"p"); write(w/"p"/"x"); write(w/"q"/"y"); },
            {{Add, u"p"}, {Old, u"p"}, {New, u"q"}, {Add, u"p"}, {Add, u"q\\y"}, {Modify, u"q"}, {Add, u"p\\x"}, {Modify, u"p"}}},
        {[&] { write(w/"p"/"x2"); write(w/"q"/"y2"); }, {{Add, u"p\\x2"}, {Modify, u"p"}, {Add, u"q\\y2"}, {Modify, u"q"}}},
    };
    for(std::size_t i = 0; i != std::size(steps); ++i) {
        steps[i].operation();
        EXPECT_EQ(reader.take(steps[i].expected.size()), steps[i].expected) << "step " << i;
    }
    for(const Completion& completion: reader.completions) EXPECT_EQ(completion.error, 0u);
}

TEST_F(DirectoryChangesLinuxTest, KernelQueueOverflow) {
    std::size_t limit = 0;
    std::ifstream{"/proc/sys/fs/inotify/max_queued_events"} >> limit;
    if(!limit || limit > 65536) GTEST_SKIP() << "max_queued_events is" << limit;
    Reader reader{root/"w"};
    /* Alternating, so that the kernel merges nothing */
    std::ofstream a{root/"w"/"a"}, b{root/"w"/"b"};
    for(std::size_t i = 0; i != limit; ++i) (i % 2 ? b : a) << 'x' << std::flush;
    ASSERT_TRUE(reader.waitFor([&] { return !reader.completions.empty() && reader.completions.back().bytes == 0; }));
    EXPECT_EQ(reader.completions.back(), (Completion{0, 0, {}}));
    /* The two creations and the writes up to the queue's limit */
    ASSERT_EQ(reader.records.size(), limit);
    EXPECT_EQ(reader.records[2], (Record{Modify, u"a"}));
    EXPECT_EQ(reader.records[limit - 1], (Record{Modify, (limit - 3) % 2 ? u"b" : u"a"}));
}

/* A read of the kernel's queue can fall between the two halves of a rename,
   which must stay paired all the same */
TEST_F(DirectoryChangesLinuxTest, RenameHalvesReadApart) {
    write(root/"w"/"a");
    Reader reader{root/"w"};
    constexpr int Renames = 20000;
    std::atomic<bool> done{false};
    std::thread renamer{[&] {
        for(int i = 0; i != Renames; ++i) fs::rename(root/"w"/(i % 2 ? "b" : "a"), root/"w"/(i % 2 ? "a" : "b"));
        done = true;
    }};
    while(!done) SleepEx(0, TRUE);
    renamer.join();
    const std::vector<Record> records = reader.take(2*Renames);
    ASSERT_EQ(records.size(), 2*Renames);
    for(std::size_t i = 0; i != records.size(); ++i)
        ASSERT_EQ(records[i], (Record{i % 2 ? New : Old, (i/2 + i) % 2 ? u"b" : u"a"})) << i;
}

/* A watched directory is followed by its inode: renamed, it goes on
   reporting, with names relative to it, and what appears in it is watched
   there, not at its old name; deleted, it reports nothing more */
TEST_F(DirectoryChangesLinuxTest, WatchedDirectoryDeletedOrMoved) {
    fs::create_directory(root/"gone");
    write(root/"gone"/"x");
    Reader gone{root/"gone"};
    Reader moved{root/"w"};
    fs::remove(root/"gone"/"x");
    fs::remove(root/"gone");
    fs::rename(root/"w", root/"moved");
    fs::create_directories(root/"w"/"sub");
    fs::create_directory(root/"moved"/"sub");
    write(root/"w"/"sub"/"foreign");
    write(root/"moved"/"sub"/"own");

    EXPECT_EQ(moved.take(3), (std::vector<Record>{{Add, u"sub"}, {Add, u"sub\\own"}, {Modify, u"sub"}}));
    /* Read in the same wait */
    EXPECT_EQ(gone.records, (std::vector<Record>{{Remove, u"x"}}));
    EXPECT_EQ(gone.completions.size(), 1u);
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
        {[&] { return BOOL(CreateFileA((root/"missing").c_str(), 1, 7, nullptr, OPEN_EXISTING, 0x42000000, nullptr) != INVALID_HANDLE_VALUE); }, ERROR_FILE_NOT_FOUND},
        {[&] { return BOOL(CreateFileA((root/"missing"/"w").c_str(), 1, 7, nullptr, OPEN_EXISTING, 0x42000000, nullptr) != INVALID_HANDLE_VALUE); }, ERROR_PATH_NOT_FOUND},
        {[&] { write(root/"file"); return BOOL(CreateFileA((root/"file").c_str(), 1, 7, nullptr, OPEN_EXISTING, 0x42000000, nullptr) != INVALID_HANDLE_VALUE); }, ERROR_DIRECTORY},
        /* The invalid handle keeps the reason of the thread's last failed
           open, whatever failed since */
        {[&] {
            write(root/"file");
            CreateFileA((root/"file").c_str(), 1, 7, nullptr, OPEN_EXISTING, 0x42000000, nullptr);
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

    Reader reader{root/"w"};
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
        const HANDLE handle = CreateFileA((root/"w").c_str(), 1, 7, nullptr, OPEN_EXISTING, 0x42000000, nullptr);
        _exit(handle == INVALID_HANDLE_VALUE ? int(GetLastError()) : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if(WEXITSTATUS(status) == 255) GTEST_SKIP() << "no mount namespace of our own";
    EXPECT_EQ(WEXITSTATUS(status), int(ERROR_GEN_FAILURE));
}

TEST_F(DirectoryChangesLinuxTest, CompletionsOnIssuingThreadOnly) {
    Reader reader{root/"w"};
    write(root/"w"/"a");
    std::thread{[&] {
        EXPECT_EQ(SleepEx(0, TRUE), 0u);
        EXPECT_EQ(SleepEx(1, TRUE), 0u);
        /* Cancels only the calling thread's reads */
        EXPECT_EQ(CancelIo(reader.handle), TRUE);
    }}.join();
    EXPECT_TRUE(reader.completions.empty());
    EXPECT_EQ(reader.take(1), (std::vector<Record>{{Add, u"a"}}));

    /* A wait with a timeout returns as soon as a change from elsewhere completes */
    std::thread writer{[&] { write(root/"w"/"b"); }};
    EXPECT_EQ(SleepEx(10000, TRUE), WAIT_IO_COMPLETION);
    writer.join();
    EXPECT_EQ(reader.take(1), (std::vector<Record>{{Add, u"b"}}));

    std::thread{[&] { EXPECT_EQ(CancelIoEx(reader.handle, &reader.overlapped), TRUE); }}.join();
    EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
    ASSERT_EQ(reader.completions.size(), 3u);
    EXPECT_EQ(reader.completions[2], (Completion{ERROR_OPERATION_ABORTED, 0, {}}));
    for(const Completion& completion: reader.completions) EXPECT_EQ(completion.thread, std::this_thread::get_id());
}

}}}
