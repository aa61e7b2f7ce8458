#include "QuenfoldEditor/Utils/Implementation/RenderOutput.h"

#include <cstdlib>
#include <Corrade/Utility/Debug.h>

namespace QuenfoldEngine { namespace Implementation {

using namespace Corrade;

namespace {

void freeOutput(char* const data, std::size_t) { std::free(data); }

}

RenderOutput::RenderOutput(const std::size_t capacity) { grow(capacity); }

Containers::String RenderOutput::release() {
    _buffer[_size] = '\0';
    return Containers::String{_buffer.release(), _size, freeOutput};
}

bool RenderOutput::grow(const std::size_t capacity) {
    char* const data = static_cast<char*>(std::realloc(_buffer.data(), capacity));
    if(!data) {
        if(!_failed) Utility::Error{} << "Template::render(): cannot allocate" << capacity << "bytes";
        _failed = true;
        return false;
    }
    _buffer.release();
    _buffer = Containers::Array<char>{data, capacity, freeOutput};
    return true;
}

}}
