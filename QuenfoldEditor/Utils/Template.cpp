#include "QuenfoldEditor/Utils/Template.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <rapidjson/document.h>
#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Assert.h>
#include <Corrade/Utility/Debug.h>
#include <Corrade/Utility/Format.h>

#include "QuenfoldEditor/Utils/JsonObject.h"

namespace QuenfoldEngine {

using namespace Corrade;

namespace {

/* The parsed form is the source's text less the braces and the blanks
   around directive contents, literal text and directives alternating.
   Rendering splits a directive into tokens as it comes to it, which costs
   less than a table of where they are would, in time and in memory. */

/* Separators inside a directive; line breaks are ordinary characters */
bool isBlank(const char c) { return c == ' ' || c == '\t'; }

/* The first c in the zero-terminated text at from, or its terminating zero.
   The text is read once where the C library can stop at either; elsewhere
   the tail after the last c is read a second time to find its end. */
const char* findOrEnd(const char* const from, const char c) {
    #ifdef __GLIBC__
    return ::strchrnul(from, c);
    #else
    const char* const found = std::strchr(from, c);
    return found ? found : from + std::strlen(from);
    #endif
}

/* First c in the zero-terminated text at from immediately followed by
   another c, or the terminating zero; the first pair wins, so {{{ opens at
   its first two braces */
const char* findPair(const char* from, const char c) {
    for(;;) {
        from = findOrEnd(from, c);
        if(!*from || from[1] == c) return from;
        ++from;
    }
}

/* What a directive does, told by its first token at render time */
enum class DirectiveKind: std::uint8_t {
    Expression,
    If,
    End
};

/* Byte comparisons written out here, where they inline: the views' own
   comparison is a library call, several of them per directive */
bool equals(const char* const a, const std::size_t aSize, const char* const b, const std::size_t bSize) {
    return aSize == bSize && std::memcmp(a, b, aSize) == 0;
}

template<std::size_t size> bool equals(const char* const data, const std::size_t dataSize, const char(&literal)[size]) {
    return equals(data, dataSize, literal, size - 1);
}

/* Compared exactly and case-sensitively */
DirectiveKind directiveKind(const Containers::StringView& firstToken) {
    if(equals(firstToken.data(), firstToken.size(), "if")) return DirectiveKind::If;
    if(equals(firstToken.data(), firstToken.size(), "end")) return DirectiveKind::End;
    return DirectiveKind::Expression;
}

const char* tokenEnd(const char* token, const char* const end) {
    while(token != end && !isBlank(*token)) ++token;
    return token;
}

/* A directive's tokens, split at the blanks of its stored content. "if" and
   a comparison make at most four; the rest are only counted, for the
   message about their number. The views point into the template's store,
   which a render never changes. */
struct Tokens {
    explicit Tokens(const Containers::StringView& content) {
        const char* const end = content.end();
        for(const char* token = content.begin(); token != end; ) {
            const char* const next = tokenEnd(token, end);
            if(count < Capacity) first[count] = {token, std::size_t(next - token)};
            ++count;
            token = next;
            while(token != end && isBlank(*token)) ++token;
        }
    }

    enum: std::size_t { Capacity = 4 };
    Containers::StringView first[Capacity];
    std::size_t count = 0;
};

/* The path of a name: a.b.c is /a/b/c, empty pieces kept, and a slash in a
   name stays, so a/b works like a.b. Zero-terminated for handles that want
   a C string, and on the stack unless the name is unusually long. */
class NamePath {
    public:
        explicit NamePath(const Containers::StringView& name) {
            char* const data = name.size() + 2 <= sizeof(_onStack) ? _onStack :
                (_allocated = Containers::Array<char>{NoInit, name.size() + 2}).data();
            char* out = data;
            *out++ = '/';
            for(const char c: name) *out++ = c == '.' ? '/' : c;
            *out = '\0';
            _path = {data, name.size() + 1, Containers::StringViewFlag::NullTerminated};
        }

        /* The view would point into the copied-from object */
        NamePath(const NamePath&) = delete;
        NamePath& operator=(const NamePath&) = delete;

        const Containers::StringView& view() const { return _path; }

    private:
        char _onStack[104];
        Containers::Array<char> _allocated;
        Containers::StringView _path;
};

}

/* Every directive drops at least its four braces and each part adds one
   zero byte, so the parts fit in the reserve and the store never grows */
Template::Template(const Containers::StringView source): _parts{source.size() + 1}, _valid{true} {
    CORRADE_INTERNAL_ASSERT(source.flags() & Containers::StringViewFlag::NullTerminated);
    if(source.isEmpty()) return;

    /* The text ends at the first zero byte, not at the view's size */
    const char* cursor = source.data();
    while(*cursor) {
        const char* const open = findPair(cursor, '{');
        /* Added also when empty, so part 2i stays in front of directive i */
        _parts.add({cursor, std::size_t(open - cursor)});
        if(!*open) return;

        const char* contentBegin = open + 2;
        while(isBlank(*contentBegin)) ++contentBegin;
        /* Quotes are not special here: }} inside a string literal closes
           the directive */
        const char* const close = findPair(contentBegin, '}');
        if(!*close) {
            Utility::Error{} << "Template::Template(): Syntax error: Unterminated template directive";
            _valid = false;
            return;
        }

        const char* contentEnd = close;
        while(contentEnd != contentBegin && isBlank(contentEnd[-1])) --contentEnd;
        _parts.add({contentBegin, std::size_t(contentEnd - contentBegin)});
        cursor = close + 2;
    }
}

Template::~Template() = default;

namespace {

/* Evaluation hands each operand's text to a consumer, as a pointer and a
   size that stay in registers, while the handle it came from is alive: a
   string is read where the document keeps it and written straight into the
   output or compared in place. Nothing is cached between directives or
   renders: every name asks the contexts afresh, so a render sees the
   documents as they are at that moment. */

typedef Containers::ArrayView<const Containers::Reference<JsonObject>> Contexts;

/* Directive contents are stored with no blanks around them */
Containers::StringView firstToken(const Containers::StringView& content) {
    return {content.data(), std::size_t(tokenEnd(content.begin(), content.end()) - content.data())};
}

/* "00", "01" up to "99", for writing numbers two digits at a time */
constexpr struct DigitPairTable {
    constexpr DigitPairTable(): data{} {
        for(std::size_t i = 0; i != 100; ++i) {
            data[2*i] = char('0' + i/10);
            data[2*i + 1] = char('0' + i % 10);
        }
    }
    char data[200];
} DigitPairs;

/* Four decimals, rounded from the exact binary value as printf does,
   handed to consume(data, size) */
template<class Consume> void formatFixed(const double value, Consume&& consume) {
    /* Below 2^40, value*10000 is off the exact product by at most 2^-14;
       away from a tie its nearest integer is then the exact rounding, and
       the digits are written directly instead of through the general, much
       slower formatting. Adding a half is exact there, so truncating it
       rounds to nearest. */
    const double scaled = value*10000.0;
    const double magnitude = scaled < 0.0 ? -scaled : scaled;
    if(magnitude < 1099511627776.0) {
        const auto digits = std::uint64_t(magnitude + 0.5); // NOLINT(bugprone-incorrect-roundings)
        const double off = magnitude - double(digits);
        if(off < 0.49 && off > -0.49) {
            /* Written backwards from a fixed end with few branches: values
               in an editor mostly have one or two digits in front of the
               point, which take no loop, and a branch that goes either way
               from one value to the next costs more than writing a digit
               too many */
            char text[24];
            char* const end = text + sizeof(text);
            const std::uint64_t fraction = digits % 10000;
            std::memcpy(end - 4, DigitPairs.data + 2*(fraction/100), 2);
            std::memcpy(end - 2, DigitPairs.data + 2*(fraction % 100), 2);
            end[-5] = '.';

            char* begin = end - 5;
            std::uint64_t integer = digits/10000;
            for(; integer >= 100; integer /= 100) {
                begin -= 2;
                std::memcpy(begin, DigitPairs.data + 2*(integer % 100), 2);
            }
            /* One or two digits are left; the zero in front of one is not
               kept */
            begin -= 2;
            std::memcpy(begin, DigitPairs.data + 2*integer, 2);
            begin += integer < 10;
            *--begin = '-';
            begin += !std::signbit(value);
            consume(begin, std::size_t(end - begin));
            return;
        }
    }

    /* The longest fixed-point double, 309 integer digits, sign, point and
       four decimals, plus the byte formatting may append */
    char text[320];
    consume(text, Utility::formatInto(Containers::MutableStringView{text, sizeof(text)}, "{:.4f}", value));
}

/* Handle of the first context that has a value at path, or null. The
   handles of the contexts tried before are released on the way. */
Containers::Pointer<JsonObject> findName(const Contexts contexts, const NamePath& path) {
    for(const Containers::Reference<JsonObject>& context: contexts) {
        Containers::Pointer<JsonObject> handle = context->child(path.view());
        if(handle->exists()) return handle;
    }
    return nullptr;
}

template<class Consume> void consumeBoolean(const bool value, Consume&& consume) {
    if(value) consume("true", 4);
    else consume("false", 5);
}

/* Hands the text of an operand to consume(data, size) and
   returns true, or prints why it has none and returns false. A token
   beginning with a quote is a string literal, without escapes; anything
   else is a name. */
template<class Consume> bool evaluateToken(const Contexts contexts, const Containers::StringView& token, Consume&& consume) {
    const char* const data = token.data();
    const std::size_t size = token.size();
    if(data[0] == '\'' || data[0] == '"') {
        if(size < 2 || data[size - 1] != data[0]) {
            Utility::Error{} << "Template::render(): Unterminated string literal";
            return false;
        }
        consume(data + 1, size - 2);
        return true;
    }

    const Containers::Pointer<JsonObject> found = findName(contexts, NamePath{token});
    if(!found) {
        Utility::Error{} << "Template::render(): Undefined name" << token;
        return false;
    }

    /* The first context that has the name decides, even with a value that
       cannot be shown */
    const rapidjson::Value& value = found->readValue();
    if(value.IsString()) {
        /* A string value ends at its first zero byte */
        const char* const string = value.GetString();
        const void* const zero = std::memchr(string, '\0', value.GetStringLength());
        consume(string, zero ? std::size_t(static_cast<const char*>(zero) - string) : value.GetStringLength());
    } else if(value.IsBool())
        consumeBoolean(value.IsTrue(), consume);
    else if(value.IsDouble())
        formatFixed(value.GetDouble(), consume);
    else {
        /* Null, arrays, objects, and numbers stored as integers */
        Utility::Error{} << "Template::render(): Unsupported type for" << token;
        return false;
    }
    return true;
}

/* The text of a comparison's first operand, kept while the second one is
   evaluated: its handle is gone by then and may have taken the text with
   it. On the stack unless long. */
class OperandText {
    public:
        OperandText() = default;
        /* The data would point into the copied-from object */
        OperandText(const OperandText&) = delete;
        OperandText& operator=(const OperandText&) = delete;

        void assign(const char* const data, const std::size_t size) {
            if(size > sizeof(_onStack))
                _data = (_allocated = Containers::Array<char>{NoInit, size}).data();
            std::memcpy(_data, data, size);
            _size = size;
        }

        bool matches(const char* const data, const std::size_t size) const {
            return equals(data, size, _data, _size);
        }

    private:
        char _onStack[128];
        Containers::Array<char> _allocated;
        char* _data = _onStack;
        std::size_t _size = 0;
};

/* Hands the text of the expression in tokens to consume(data, size) and
   returns true, or prints why it failed and returns false. count may
   exceed what tokens holds, which is then only reported. */
template<class Consume> bool evalDirective(const Contexts contexts, const Containers::StringView* const tokens, const std::size_t count, Consume&& consume) {
    if(count == 1) return evaluateToken(contexts, tokens[0], consume);

    if(count == 3) {
        /* Both operands are evaluated, so both report their errors */
        OperandText first;
        bool equal = false;
        const bool firstFound = evaluateToken(contexts, tokens[0], [&first](const char* const data, const std::size_t size) {
            first.assign(data, size);
        });
        const bool secondFound = evaluateToken(contexts, tokens[2], [&first, &equal](const char* const data, const std::size_t size) {
            equal = first.matches(data, size);
        });
        if(!firstFound || !secondFound) return false;
        /* Any operator other than == means "not equal" */
        consumeBoolean(equal == equals(tokens[1].data(), tokens[1].size(), "=="), consume);
        return true;
    }

    Utility::Error{} << "Template::render(): Number of tokens for expression unsupported:" << count;
    return false;
}

void freeOutput(char* const data, std::size_t) { std::free(data); }

/* The render output, zero-terminated when handed over. Reserved once up
   front and grown to exactly what is needed, through realloc() so that a
   large buffer grows without copying where the system allows. */
class Output {
    public:
        explicit Output(const std::size_t capacity) { resize(capacity); }

        void append(const char* const in, const std::size_t size) {
            /* One byte stays free for the terminating zero */
            if(size >= _buffer.size() - _size) resize(_size + size + 1);
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

        /* Hands the buffer over without copying the text */
        Containers::String release() {
            _buffer[_size] = '\0';
            return Containers::String{_buffer.release(), _size, freeOutput};
        }

    private:
        void resize(const std::size_t capacity) {
            char* const data = static_cast<char*>(std::realloc(_buffer.release(), capacity));
            /* As a failed operator new would, without an exception */
            if(!data) {
                Utility::Error{} << "Template::render(): cannot allocate" << capacity << "bytes";
                std::abort();
            }
            _buffer = Containers::Array<char>{data, capacity, freeOutput};
        }

        Containers::Array<char> _buffer;
        std::size_t _size = 0;
};

}

Containers::String Template::render(const Contexts contexts) {
    const std::size_t partCount = _parts.size();
    if(!partCount) return {};

    Output output{_parts.capacity() > 1 ? _parts.capacity() : 1};
    for(std::size_t i = 0; i != partCount; ++i) {
        const Containers::StringView part = _parts[i];
        if(i % 2 == 0) {
            output.append(part.data(), part.size());
            continue;
        }

        const Tokens tokens{part};
        const DirectiveKind kind = directiveKind(tokens.count ? tokens.first[0] : Containers::StringView{});
        if(kind == DirectiveKind::End) continue;

        if(kind == DirectiveKind::Expression) {
            if(!evalDirective(contexts, tokens.first, tokens.count, [&output](const char* const data, const std::size_t size) {
                output.append(data, size);
            })) return {};
            continue;
        }

        /* The condition is the tokens after the "if" */
        bool shown = false;
        if(!evalDirective(contexts, tokens.first + 1, tokens.count - 1, [&shown](const char* const data, const std::size_t size) {
            shown = equals(data, size, "true");
        })) return {};
        if(shown) continue;

        /* Leave everything out up to the first end after this if, which
           itself does nothing; ifs in between are not counted */
        std::size_t next = i + 2;
        while(next < partCount && directiveKind(firstToken(_parts[next])) != DirectiveKind::End) next += 2;
        if(next >= partCount) {
            Utility::Error{} << "Template::render(): Missing 'end'";
            return {};
        }
        i = next;
    }

    return output.release();
}

Containers::String Template::render(JsonObject& context) {
    const Containers::Reference<JsonObject> reference{context};
    return render(Contexts{&reference, 1});
}

Containers::String Template::render(const std::initializer_list<const Containers::Reference<JsonObject>> contexts) {
    return render(Contexts{contexts.begin(), contexts.size()});
}

}
