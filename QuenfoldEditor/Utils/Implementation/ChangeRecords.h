#ifndef QuenfoldEditor_Utils_Implementation_ChangeRecords_h
#define QuenfoldEditor_Utils_Implementation_ChangeRecords_h
/* The layout of the change records that a directory read fills its buffer
   with, for the watcher that decodes them and the Linux backend that writes
   them. A record is a header of three DWORDs (the offset of the next record
   from this one, 0 on the last; the action; the size of the name in bytes)
   followed by the name in UTF-16, not terminated. Windows starts each record
   on a DWORD boundary, Wine right after the one before, so the fields are
   copied in and out, never accessed in place. Private to the library. */

#include <cstddef>
#include <cstring>
#include <Corrade/Containers/ArrayView.h>

#include "QuenfoldEditor/Utils/Platform/DirectoryChanges.h"

namespace QuenfoldEngine { namespace Implementation {

struct ChangeRecordHeader {
    Platform::DWORD nextEntryOffset;
    Platform::DWORD action;
    Platform::DWORD fileNameLength;
};

constexpr std::size_t ChangeRecordHeaderSize = offsetof(Platform::FILE_NOTIFY_INFORMATION, FileName);
static_assert(sizeof(ChangeRecordHeader) == ChangeRecordHeaderSize &&
    offsetof(Platform::FILE_NOTIFY_INFORMATION, NextEntryOffset) == offsetof(ChangeRecordHeader, nextEntryOffset) &&
    offsetof(Platform::FILE_NOTIFY_INFORMATION, Action) == offsetof(ChangeRecordHeader, action) &&
    offsetof(Platform::FILE_NOTIFY_INFORMATION, FileNameLength) == offsetof(ChangeRecordHeader, fileNameLength),
    "the header is the platform's");

inline ChangeRecordHeader readChangeRecordHeader(const char* const record) {
    ChangeRecordHeader header;
    std::memcpy(&header, record, ChangeRecordHeaderSize);
    return header;
}

inline void writeChangeRecordHeader(char* const record, const ChangeRecordHeader& header) {
    std::memcpy(record, &header, ChangeRecordHeaderSize);
}

/* Where the name of the record at recordOffset begins */
constexpr std::size_t changeRecordNameOffset(const std::size_t recordOffset) {
    return recordOffset + ChangeRecordHeaderSize;
}

/* Where a record written after one that ends at end begins, as Windows
   writes them */
constexpr std::size_t nextChangeRecordOffset(const std::size_t end) {
    return (end + 3) & ~std::size_t{3};
}

/* Points the record at previousOffset to the one at nextOffset */
inline void linkChangeRecords(char* const buffer, const std::size_t previousOffset, const std::size_t nextOffset) {
    const Platform::DWORD next = Platform::DWORD(nextOffset - previousOffset);
    std::memcpy(buffer + previousOffset, &next, sizeof(next));
}

/* Calls f(action, name, nameSize) for each record of the buffer, following
   the records' own links up to the last one or to a record of action 0.
   Never reads past the end of the buffer, which a damaged link or name size
   could point to: the walk stops at such a record. */
template<class F> void forEachChangeRecord(const Corrade::Containers::ArrayView<const char> buffer, F&& f) {
    for(std::size_t offset = 0; buffer.size() - offset >= ChangeRecordHeaderSize; ) {
        const ChangeRecordHeader header = readChangeRecordHeader(buffer.data() + offset);
        if(!header.action || header.fileNameLength > buffer.size() - changeRecordNameOffset(offset)) return;
        f(header.action, buffer.data() + changeRecordNameOffset(offset), std::size_t{header.fileNameLength});
        if(!header.nextEntryOffset || header.nextEntryOffset > buffer.size() - offset) return;
        offset += header.nextEntryOffset;
    }
}

}}

#endif
