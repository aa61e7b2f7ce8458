#include "QuenfoldEditor/Utils/Template.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <rapidjson/document.h>
#include <Corrade/Containers/ArrayView.h>
#include <Corrade/Containers/GrowableArray.h>
#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Assert.h>
#include <Corrade/Utility/Debug.h>
#include <Corrade/Utility/Format.h>

#include "QuenfoldEditor/Utils/JsonObject.h"

namespace QuenfoldEngine {

using namespace Corrade;
using namespace Corrade::Containers::Literals;

namespace {

/* Evaluation works on one directive's tokens at a time and asks the contexts
   afresh every time: nothing is cached between directives or renders, so a
   render always sees the documents as they are at that moment, and the cost
   of a directive is its own lookups and one result allocation. Results are
   zero-terminated so that comparisons and the "true" test of a condition
   need no sizes, and a failure is the array with null data, its reason
   already printed. */

typedef Containers::ArrayView<const Containers::Reference<JsonObject>> Contexts;

/* An evaluation result: the text followed by a zero byte, in an allocation
   of its own */
Containers::Array<char> resultText(const Containers::StringView text) {
    Containers::Array<char> result{NoInit, text.size() + 1};
    if(text.size()) std::memcpy(result.data(), text.data(), text.size());
    result[text.size()] = '\0';
    return result;
}

/* Four decimals, rounded from the exact binary value as printf does */
Containers::Array<char> doubleText(const double value) {
    /* Room for the longest fixed-point double, 309 integer digits, sign,
       point and four decimals, plus the byte formatting may append */
    char buffer[320];
    std::size_t size = 0;
    /* Below 2^40, value*10000 is off the exact product by at most 2^-14; away
       from a tie its nearest integer is then the exact rounding, and the
       digits are written directly instead of through the general, much
       slower formatting */
    const double scaled = value*10000.0;
    const double rounded = std::round(scaled);
    if(std::abs(scaled) < 1099511627776.0 && std::abs(scaled - rounded) < 0.49) {
        char reversed[16];
        std::size_t count = 0;
        for(auto digits = std::uint64_t(std::abs(rounded)); digits || count < 5; digits /= 10)
            reversed[count++] = char('0' + digits % 10);
        if(std::signbit(value)) buffer[size++] = '-';
        while(count > 4) buffer[size++] = reversed[--count];
        buffer[size++] = '.';
        while(count) buffer[size++] = reversed[--count];
    } else size = Utility::formatInto(Containers::MutableStringView{buffer, sizeof(buffer)}, "{:.4f}", value);
    return resultText({buffer, size});
}

/* The name a.b.c becomes /a/b/c: a slash in front, and every dot a
   separator, empty pieces kept. A slash already in the name stays, so a/b
   works like a.b. Built in one allocation, none for short names. */
Containers::String namePath(const Containers::StringView name) {
    Containers::String path{NoInit, name.size() + 1};
    char* out = path.data();
    *out++ = '/';
    for(const char c: name) *out++ = c == '.' ? '/' : c;
    return path;
}

/* Handle of the first context that has a value at path, or null. The
   handles of the contexts tried before are released on the way. */
Containers::Pointer<JsonObject> findName(const Contexts contexts, const Containers::StringView path) {
    for(const Containers::Reference<JsonObject>& context: contexts) {
        Containers::Pointer<JsonObject> handle = context->child(path);
        if(handle->exists()) return handle;
    }
    return nullptr;
}

/* A token beginning with a quote is a string literal, without escapes;
   anything else is a name */
Containers::Array<char> evaluateToken(const Contexts contexts, const Containers::StringView token) {
    if(token.hasPrefix('\'') || token.hasPrefix('"')) {
        if(token.size() < 2 || token.back() != token.front()) {
            Utility::Error{} << "Template::render(): Unterminated string literal";
            return {};
        }
        return resultText(token.slice(1, token.size() - 1));
    }

    const Containers::Pointer<JsonObject> found = findName(contexts, namePath(token));
    if(!found) {
        Utility::Error{} << "Template::render(): Undefined name" << token;
        return {};
    }

    /* The first context that has the name decides, even with a value that
       cannot be shown */
    const rapidjson::Value& value = found->readValue();
    /* A string value ends at its first zero byte */
    if(value.IsString()) return resultText(Containers::StringView{value.GetString()});
    if(value.IsBool()) return resultText(value.IsTrue() ? "true"_s : "false"_s);
    if(value.IsDouble()) return doubleText(value.GetDouble());
    /* Null, arrays, objects, and numbers stored as integers */
    Utility::Error{} << "Template::render(): Unsupported type for" << token;
    return {};
}

/* Separators inside a directive; line breaks are ordinary characters */
bool isBlank(const char c) { return c == ' ' || c == '\t'; }

/* First position in [from, end) of c immediately followed by another c, or
   end; the first pair wins, so {{{ opens at its first two braces */
const char* findPair(const char* from, const char* const end, const char c) {
    for(;;) {
        from = static_cast<const char*>(std::memchr(from, c, end - from));
        if(!from || from + 1 == end) return end;
        if(from[1] == c) return from;
        ++from;
    }
}

}

Template::Template(const Containers::StringView source): _literals{source.size() + 1}, _valid{true} {
    CORRADE_INTERNAL_ASSERT(source.flags() & Containers::StringViewFlag::NullTerminated);

    /* The text ends at the first zero byte */
    const char* cursor = source.data();
    const char* end = cursor + source.size();
    if(const void* const zero = source.isEmpty() ? nullptr : std::memchr(cursor, '\0', source.size()))
        end = static_cast<const char*>(zero);

    while(cursor != end) {
        const char* const open = findPair(cursor, end, '{');
        /* Added also when empty, so segment i stays in front of directive i */
        _literals.add({cursor, std::size_t(open - cursor)});
        if(open == end) return;

        const char* contentBegin = open + 2;
        while(contentBegin != end && isBlank(*contentBegin)) ++contentBegin;
        /* Quotes are not special here: }} inside a string literal closes
           the directive */
        const char* const close = findPair(contentBegin, end, '}');
        if(close == end) {
            Utility::Error{} << "Template::Template(): Syntax error: Unterminated template directive";
            _valid = false;
            return;
        }

        StringArray tokens{std::size_t(close - contentBegin)};
        for(const char* token = contentBegin; token != close; ) {
            if(isBlank(*token)) {
                ++token;
                continue;
            }
            const char* tokenEnd = token;
            while(tokenEnd != close && !isBlank(*tokenEnd)) ++tokenEnd;
            tokens.add({token, std::size_t(tokenEnd - token)});
            token = tokenEnd;
        }

        DirectiveKind kind = DirectiveKind::Expression;
        if(tokens.size() && tokens[0] == "if"_s) kind = DirectiveKind::If;
        else if(tokens.size() && tokens[0] == "end"_s) kind = DirectiveKind::End;
        arrayAppend(_directives, Directive{kind, std::move(tokens)});

        cursor = close + 2;
    }
}

Template::~Template() = default;

namespace {

/* The render output: a growable array whose whole size is usable, with the
   text written so far at its front. Grows to exactly what is needed, so a
   template whose values are no longer than their directives is rendered
   into the single allocation made up front. */
class Output {
    public:
        explicit Output(const std::size_t capacity) {
            arrayReserve(_buffer, capacity);
            arrayResize(_buffer, NoInit, capacity);
        }

        void append(const char* const data, const std::size_t size) {
            const std::size_t needed = _size + size + 1;
            if(needed > _buffer.size()) {
                arrayReserve(_buffer, needed);
                arrayResize(_buffer, NoInit, needed);
            }
            if(size) std::memcpy(_buffer.data() + _size, data, size);
            _size += size;
        }

        /* Hands the buffer over without copying the text; it keeps the
           deleter of the growable allocation */
        Containers::String release() {
            _buffer[_size] = '\0';
            arrayResize(_buffer, _size + 1);
            const auto deleter = _buffer.deleter();
            const std::size_t size = _size;
            _size = 0;
            return Containers::String{_buffer.release(), size, deleter};
        }

    private:
        Containers::Array<char> _buffer;
        std::size_t _size = 0;
};

}

Containers::Array<char> Template::evalDirective(const Contexts contexts, const StringArrayView tokens) {
    if(tokens.size() == 1) return evaluateToken(contexts, tokens[0]);

    if(tokens.size() == 3) {
        /* Both operands are evaluated, so both report their errors */
        const Containers::Array<char> a = evaluateToken(contexts, tokens[0]);
        const Containers::Array<char> b = evaluateToken(contexts, tokens[2]);
        if(!a.data() || !b.data()) return {};
        const bool equal = std::strcmp(a.data(), b.data()) == 0;
        /* Any operator other than == means "not equal" */
        const bool result = tokens[1] == "=="_s ? equal : !equal;
        return resultText(result ? "true"_s : "false"_s);
    }

    Utility::Error{} << "Template::render(): Number of tokens for expression unsupported:" << tokens.size();
    return {};
}

Containers::String Template::render(const Contexts contexts) {
    const std::size_t literalCount = _literals.size();
    const std::size_t directiveCount = _directives.size();
    if(!literalCount && !directiveCount) return {};

    Output output{_literals.capacity() > 1 ? _literals.capacity() : 1};
    for(std::size_t i = 0; i != literalCount + directiveCount; ++i) {
        if(i % 2 == 0) {
            const Containers::StringView literal = _literals[i/2];
            output.append(literal.data(), literal.size());
            continue;
        }

        const Directive& directive = _directives[i/2];
        if(directive.kind == DirectiveKind::End) continue;

        if(directive.kind == DirectiveKind::Expression) {
            const Containers::Array<char> text = evalDirective(contexts, directive.tokens);
            if(!text.data()) return {};
            output.append(text.data(), text.size() - 1);
            continue;
        }

        const Containers::Array<char> condition = evalDirective(contexts, directive.tokens.suffix(1));
        if(!condition.data()) return {};
        if(Containers::StringView{condition.data(), condition.size() - 1} == "true"_s) continue;

        /* Leave everything out up to the first End after this If, which
           itself does nothing; Ifs in between are not counted */
        std::size_t next = i/2 + 1;
        while(next != directiveCount && _directives[next].kind != DirectiveKind::End) ++next;
        if(next == directiveCount) {
            Utility::Error{} << "Template::render(): Missing 'end'";
            return {};
        }
        i = 2*next + 1;
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
