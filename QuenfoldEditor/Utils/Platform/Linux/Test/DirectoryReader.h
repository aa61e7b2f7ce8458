#ifndef QuenfoldEditor_Utils_Platform_Linux_Test_DirectoryReader_h
#define QuenfoldEditor_Utils_Platform_Linux_Test_DirectoryReader_h
/* A reader of the Linux backend's directory changes, for the tests that
   drive its operations on real directories */

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>
#include <gtest/gtest.h>

#include "QuenfoldEditor/Utils/Platform/DirectoryChanges.h"
#include "QuenfoldEditor/Utils/Platform/Linux/Test/RecordLines.h"

namespace QuenfoldEngine { namespace Platform {

struct Completion {
    DWORD error, bytes;
    std::thread::id thread;
    bool operator==(const Completion& other) const { return error == other.error && bytes == other.bytes; }
};

inline void PrintTo(const Completion& completion, std::ostream* out) {
    *out << completion.error << '/' << completion.bytes;
}

/* A directory read driven as the watcher drives it: re-armed after every
   completion that brought records, which it keeps as "action name" lines.
   Armed at once unless another thread is to issue the read. */
struct Reader {
    explicit Reader(const std::filesystem::path& path, const bool armed = true): handle{CreateFileA(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ|FILE_SHARE_WRITE|FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS|FILE_FLAG_OVERLAPPED, nullptr)} {
        overlapped.hEvent = this;
        EXPECT_NE(handle, INVALID_HANDLE_VALUE);
        if(armed) {
            EXPECT_TRUE(arm());
        }
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
        self.records += recordLines(self.buffer, bytes);
        self.arm();
    }

    /* Bounded polling: true once the condition holds */
    bool waitFor(const std::function<bool()>& done) {
        for(int i = 0; i != 200 && !done(); ++i) SleepEx(50, TRUE);
        return done();
    }

    std::string take(const std::size_t lines) {
        waitFor([&] { return std::size_t(std::count(records.begin(), records.end(), '\n')) >= lines; });
        return std::exchange(records, {});
    }

    HANDLE handle;
    OVERLAPPED overlapped{};
    alignas(DWORD) char buffer[10240];
    std::string records;
    std::vector<Completion> completions;
};

}}

#endif
