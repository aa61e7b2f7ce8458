#ifndef QuenfoldEditor_Utils_Platform_Linux_ChangeQueue_h
#define QuenfoldEditor_Utils_Platform_Linux_ChangeQueue_h
/* Changes of one watched tree waiting for a directory read, written into the
   read's buffer as the records Windows writes. Private to the Linux backend. */

#include <cstddef>
#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/String.h>

#include "QuenfoldEditor/Utils/Platform/DirectoryChanges.h"

namespace QuenfoldEngine { namespace Platform { namespace Linux {

class ChangeQueue {
    public:
        /* What a read takes from the queue */
        struct Taken {
            /* False when nothing was waiting that a record can tell */
            bool complete;
            /* Bytes of records written; 0 where changes were lost, as
               Windows completes a read whose buffer overflowed */
            DWORD bytes;
        };

        /* A FILE_ACTION_* and the path relative to the watched directory,
           '/' between components */
        void append(DWORD action, Corrade::Containers::String path);

        /* Marks where changes were lost */
        void appendLoss();

        bool isEmpty() const { return _begin == _changes.size(); }

        /* Writes the waiting records that fit into size bytes at buffer,
           DWORD-aligned and chained by NextEntryOffset, up to the next loss.
           A path that a record cannot spell, with a backslash in a name or
           bytes that are not UTF-8, is dropped; a record larger than the
           whole buffer is lost. */
        Taken take(char* buffer, std::size_t size);

    private:
        struct Change {
            DWORD action;
            Corrade::Containers::String path;
        };

        void compact();

        Corrade::Containers::Array<Change> _changes;
        std::size_t _begin = 0;
};

}}}

#endif
