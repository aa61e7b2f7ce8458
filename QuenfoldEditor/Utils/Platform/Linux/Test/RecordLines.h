#ifndef QuenfoldEditor_Utils_Platform_Linux_Test_RecordLines_h
#define QuenfoldEditor_Utils_Platform_Linux_Test_RecordLines_h
/* The change records of a directory read, for the tests of the Linux
   backend and of its units. Walks the layout by hand, apart from the
   library's own reading and writing of it, which it checks. */

#include <cstdio>
#include <cstring>
#include <string>
#include <gtest/gtest.h>

#include "QuenfoldEditor/Utils/Platform/DirectoryChanges.h"
#include "QuenfoldEditor/Utils/Platform/Linux/ChangeQueue.h"

namespace QuenfoldEngine { namespace Platform {

/* Each record as an "action name" line, the name's UTF-16 units outside
   ASCII in hexadecimal, as <d83d>. Checks the layout on the way: each record
   at the first DWORD boundary after the one before, the last one ending
   exactly where the bytes end. */
inline std::string recordLines(const char* const buffer, const DWORD bytes) {
    std::string out;
    for(std::size_t offset = 0;; ) {
        DWORD header[3];
        std::memcpy(header, buffer + offset, sizeof(header));
        out += std::to_string(header[1]) + " ";
        for(DWORD i = 0; i != header[2]/2; ++i) {
            char16_t unit;
            std::memcpy(&unit, buffer + offset + sizeof(header) + 2*i, 2);
            char hex[8];
            std::snprintf(hex, sizeof(hex), "<%x>", unsigned(unit));
            out += unit < 0x80 ? std::string(1, char(unit)) : hex;
        }
        out += "\n";
        const std::size_t end = offset + sizeof(header) + header[2];
        if(!header[0]) {
            EXPECT_EQ(end, bytes);
            return out;
        }
        EXPECT_EQ(header[0], ((end + 3) & ~std::size_t{3}) - offset);
        offset += header[0];
    }
}

/* Every record waiting in the queue, as lines, and a loss as "lost" */
inline std::string takeRecordLines(Linux::ChangeQueue& changes) {
    std::string out;
    alignas(4) char buffer[4096];
    for(Linux::ChangeQueue::Taken taken; (taken = changes.take(buffer, sizeof(buffer))).complete; )
        out += taken.bytes ? recordLines(buffer, taken.bytes) : "lost\n";
    return out;
}

}}

#endif
