#include <string>
#include <utility>
#include <vector>
#include <gtest/gtest.h>

#include "QuenfoldEditor/Utils/Implementation/ChangeRecords.h"

namespace QuenfoldEngine { namespace Implementation { namespace {

using Platform::DWORD;

/* Each record the walk reaches, as "action name" with ASCII names */
std::string walked(const Corrade::Containers::ArrayView<const char> buffer) {
    std::string out;
    forEachChangeRecord(buffer, [&](const DWORD action, const char* const name, const std::size_t size) {
        out += std::to_string(action) + " ";
        for(std::size_t i = 0; i < size; i += 2) out += name[i];
        out += "\n";
    });
    return out;
}

/* Records of ASCII names, each starting where place() says after the end of
   the one before */
template<class Place> std::vector<char> written(const std::vector<std::pair<DWORD, std::string>>& records, Place&& place) {
    std::vector<char> buffer(256, '\x7f');
    std::size_t end = 0, previous = 0;
    for(const auto& record: records) {
        const std::size_t offset = place(end);
        writeChangeRecordHeader(buffer.data() + offset, {0, record.first, DWORD(2*record.second.size())});
        for(std::size_t i = 0; i != record.second.size(); ++i) {
            buffer[changeRecordNameOffset(offset) + 2*i] = record.second[i];
            buffer[changeRecordNameOffset(offset) + 2*i + 1] = '\0';
        }
        if(offset) linkChangeRecords(buffer.data(), previous, offset);
        previous = offset;
        end = changeRecordNameOffset(offset) + 2*record.second.size();
    }
    buffer.resize(end);
    return buffer;
}

TEST(ChangeRecords, Layout) {
    /* On DWORD boundaries as Windows writes them, back to back as Wine
       does: the links alone lead the way. Damaged links and sizes are the
       decoder's test. */
    const std::vector<std::pair<DWORD, std::string>> records{{1, "a"}, {4, "bcd"}, {5, "e"}};
    const std::vector<char> aligned = written(records, nextChangeRecordOffset);
    const std::vector<char> packed = written(records, [](std::size_t end) { return end; });
    EXPECT_EQ(readChangeRecordHeader(aligned.data()).nextEntryOffset, 16u);
    EXPECT_EQ(readChangeRecordHeader(packed.data() + 14).nextEntryOffset, 18u);
    EXPECT_EQ(walked({aligned.data(), aligned.size()}), "1 a\n4 bcd\n5 e\n");
    EXPECT_EQ(walked({packed.data(), packed.size()}), "1 a\n4 bcd\n5 e\n");
}

}}}
