#include <string>
#include <vector>
#include <gtest/gtest.h>

#include "QuenfoldEditor/Utils/Platform/Linux/ChangeQueue.h"
#include "QuenfoldEditor/Utils/Platform/Linux/Test/RecordLines.h"

namespace QuenfoldEngine { namespace Platform { namespace Linux { namespace {

TEST(ChangeQueue, Records) {
    /* Spelled as Windows spells them; a record one byte short of room waits
       for the next read */
    ChangeQueue changes;
    changes.append(1, "a");
    changes.append(3, "d/\xc3\xa9\xf0\x9f\x98\x80");
    alignas(4) char buffer[37];
    EXPECT_EQ(recordLines(buffer, changes.take(buffer, sizeof(buffer)).bytes), "1 a\n");
    EXPECT_EQ(takeRecordLines(changes), "3 d\\<e9><d83d><de00>\n");

    /* An unwritable path is dropped, even when too long for any buffer,
       where a name that can be written would be lost; a loss is told where
       it happened, and once for losses in a row */
    for(const std::string& name: std::vector<std::string>{"a\\b", "\xff", "\xc3", "\xed\xa0\x80", "\xc0\xaf", std::string(3000, 'n') + "\xff"}) {
        changes.append(1, name.data());
        EXPECT_EQ(takeRecordLines(changes), "") << name;
    }
    changes.append(1, "x");
    changes.appendLoss();
    changes.appendLoss();
    changes.append(2, "x");
    EXPECT_EQ(takeRecordLines(changes), "1 x\nlost\n2 x\n");
}

}}}}
