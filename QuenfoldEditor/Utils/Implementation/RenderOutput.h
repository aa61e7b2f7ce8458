#ifndef QuenfoldEditor_Utils_Implementation_RenderOutput_h
#define QuenfoldEditor_Utils_Implementation_RenderOutput_h
/* The buffer a template renders into. Private to the library. */

#include <cstddef>
#include <cstring>
#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/String.h>

#include "QuenfoldEditor/Utils/Implementation/FixedDecimals.h"

namespace QuenfoldEngine { namespace Implementation {

/* The render output, zero-terminated when handed over. Reserved once up
   front and grown to exactly what is needed, through realloc() so that a
   large buffer grows without copying where the system allows. Takes texts
   as a consumer of evaluation does. An output the memory cannot hold fails
   the render: what does not fit is dropped, and failed() tells. */
class RenderOutput {
    public:
        explicit RenderOutput(std::size_t capacity);

        void operator()(const char* const in, const std::size_t size) {
            /* One byte stays free for the terminating zero */
            if(size >= _buffer.size() - _size && !grow(_size + size + 1)) return;
            char* const out = _buffer.data() + _size;
            _size += size;

            /* Most texts are a value or the few bytes between two
               directives, which fixed-size copies, overlapping where the
               size is not a power of two, write faster than a call */
            if(size > 16) std::memcpy(out, in, size);
            else if(size >= 8) {
                std::memcpy(out, in, 8);
                std::memcpy(out + size - 8, in + size - 8, 8);
            } else if(size >= 4) {
                std::memcpy(out, in, 4);
                std::memcpy(out + size - 4, in + size - 4, 4);
            } else for(std::size_t i = 0; i != size; ++i) out[i] = in[i];
        }

        /* Formatted in place where there is room */
        void appendFixed(const double value) {
            if(FastFixedSize < _buffer.size() - _size) {
                if(const std::size_t size = formatFixedFast(value, _buffer.data() + _size)) {
                    _size += size;
                    return;
                }
            }
            char text[FixedSize];
            (*this)(text, formatFixed(value, text));
        }

        bool failed() const { return _failed; }

        /* Hands the buffer over without copying the text */
        Corrade::Containers::String release();

    private:
        /* False after printing why, the buffer left as it was */
        bool grow(std::size_t capacity);

        Corrade::Containers::Array<char> _buffer;
        std::size_t _size = 0;
        bool _failed = false;
};

}}

#endif
