#include "QuenfoldEditor/Utils/Platform/Linux/ChangeQueue.h"

#include <cstring>
#include <utility>
#include <Corrade/Containers/GrowableArray.h>
#include <Corrade/Containers/StringView.h>

#include "QuenfoldEditor/Utils/Implementation/ChangeRecords.h"

namespace QuenfoldEngine { namespace Platform { namespace Linux {

using namespace Corrade;

namespace {

/* The action of the change that marks a loss */
constexpr DWORD Loss = 0;

/* Calls f for every UTF-16 unit of the path, '/' written as '\'. Returns
   false at the first byte that is not part of a valid UTF-8 sequence or at
   a backslash, which a reader would take for a separator. */
template<class F> bool forEachUtf16Unit(const Containers::StringView path, F&& f) {
    const auto* i = reinterpret_cast<const unsigned char*>(path.data());
    const auto* const end = i + path.size();
    while(i != end) {
        const unsigned char lead = *i;
        std::size_t size;
        char32_t c, minimum;
        if(lead < 0x80) size = 1, c = lead, minimum = 0;
        else if(lead >= 0xC0 && lead < 0xE0) size = 2, c = lead & 0x1F, minimum = 0x80;
        else if(lead >= 0xE0 && lead < 0xF0) size = 3, c = lead & 0x0F, minimum = 0x800;
        else if(lead >= 0xF0 && lead < 0xF8) size = 4, c = lead & 0x07, minimum = 0x10000;
        else return false;
        if(size > std::size_t(end - i)) return false;
        for(std::size_t k = 1; k != size; ++k) {
            if((i[k] & 0xC0) != 0x80) return false;
            c = c << 6 | (i[k] & 0x3F);
        }
        if(c < minimum || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000) || c == '\\') return false;
        i += size;

        if(c == '/') c = '\\';
        if(c >= 0x10000) {
            f(char16_t(0xD800 + ((c - 0x10000) >> 10)));
            f(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else f(char16_t(c));
    }
    return true;
}

}

void ChangeQueue::append(const DWORD action, Containers::String path) {
    arrayAppend(_changes, Change{action, std::move(path)});
}

/* One loss right after another tells nothing more, and a reader that
   stopped reading at the first would otherwise let them pile up */
void ChangeQueue::appendLoss() {
    if(!isEmpty() && _changes.back().action == Loss) return;
    arrayAppend(_changes, Change{Loss, {}});
}

ChangeQueue::Taken ChangeQueue::take(char* const buffer, const std::size_t size) {
    if(!isEmpty() && _changes[_begin].action == Loss) {
        ++_begin;
        compact();
        return {true, 0};
    }

    std::size_t end = 0, previous = 0;
    bool written = false, lost = false;
    for(; !isEmpty() && _changes[_begin].action != Loss; ++_begin) {
        const Change& change = _changes[_begin];
        const std::size_t offset = Implementation::nextChangeRecordOffset(end);
        const std::size_t nameOffset = Implementation::changeRecordNameOffset(offset);
        /* The name is written in one pass, as far as it fits, and counted
           to its end, which says whether it fits at all */
        const std::size_t room = nameOffset < size ? (size - nameOffset)/2 : 0;
        std::size_t units = 0;
        const bool writable = forEachUtf16Unit(change.path, [&](const char16_t unit) {
            if(units < room) std::memcpy(buffer + nameOffset + 2*units, &unit, sizeof(unit));
            ++units;
        });
        if(!writable) continue;
        if(nameOffset + 2*units > size) {
            /* The first record alone does not fit: it is lost, the rest
               waits for the next read */
            if(!written) {
                lost = true;
                ++_begin;
            }
            break;
        }

        std::memset(buffer + end, 0, offset - end);
        Implementation::writeChangeRecordHeader(buffer + offset, {0, change.action, DWORD(2*units)});
        if(written) Implementation::linkChangeRecords(buffer, previous, offset);
        written = true;
        previous = offset;
        end = nameOffset + 2*units;
    }
    compact();
    return {written || lost, DWORD(end)};
}

/* Keeps the storage: a steady trickle of changes then allocates nothing */
void ChangeQueue::compact() {
    if(isEmpty()) {
        arrayRemoveSuffix(_changes, _changes.size());
        _begin = 0;
    } else if(_begin >= 4096 && 2*_begin >= _changes.size()) {
        for(std::size_t i = _begin; i != _changes.size(); ++i)
            _changes[i - _begin] = std::move(_changes[i]);
        arrayRemoveSuffix(_changes, _begin);
        _begin = 0;
    }
}

}}}
