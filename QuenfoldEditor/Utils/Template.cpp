#include "QuenfoldEditor/Utils/Template.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <rapidjson/document.h>
#include <Corrade/Containers/Array.h>
#include <Corrade/Containers/Pointer.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Assert.h>
#include <Corrade/Utility/Debug.h>

#include "QuenfoldEditor/Utils/JsonObject.h"
#include "QuenfoldEditor/Utils/Implementation/FixedDecimals.h"
#include "QuenfoldEditor/Utils/Implementation/RenderOutput.h"

namespace QuenfoldEngine {

using namespace Corrade;

namespace {

/* The first byte of a stored directive */
enum class DirectiveKind: char {
    /* Only the path, whose leading slash is the kind; names with a slash of
       their own are Tokens, so that messages tell the name from the path */
    Name = '/',
    IfName = 1, /* "if" and a name: the kind, then the path */
    End = 2,    /* The kind only: tokens after "end" are never looked at */
    Tokens = 3  /* The tokens, blanks between them and none around */
};

/* Separators inside a directive; line breaks are ordinary characters */
bool isBlank(const char c) { return c == ' ' || c == '\t'; }

/* The first c in the zero-terminated text at from, or its terminating zero,
   found in one read where the C library can stop at either */
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

/* Where the token at from ends, and where the blanks at from end */
const char* tokenEnd(const char* from, const char* const end) {
    while(from != end && !isBlank(*from)) ++from;
    return from;
}
const char* skipBlanks(const char* from, const char* const end) {
    while(from != end && isBlank(*from)) ++from;
    return from;
}

/* Byte comparisons that inline, where the views' own is a library call */
bool equals(const char* const a, const std::size_t aSize, const char* const b, const std::size_t bSize) {
    return aSize == bSize && std::memcmp(a, b, aSize) == 0;
}

template<std::size_t size> bool equals(const Containers::StringView& text, const char(&literal)[size]) {
    return equals(text.data(), text.size(), literal, size - 1);
}

/* The path of a name written at out, unterminated; returns its end. a.b.c
   is /a/b/c, empty pieces kept, and a slash stays, so a/b works like a.b */
char* writePath(const Containers::StringView& name, char* out) {
    *out++ = '/';
    for(const char c: name) *out++ = c == '.' ? '/' : c;
    return out;
}

/* A directive's content, no blanks around it, told apart by its tokens */
class StoredDirective {
    public:
        explicit StoredDirective(const char* const begin, const char* const end): _text{begin, std::size_t(end - begin)} {
            const char* const firstEnd = tokenEnd(begin, end);
            const Containers::StringView first{begin, std::size_t(firstEnd - begin)};
            const char* const second = skipBlanks(firstEnd, end);
            const Containers::StringView rest{second, std::size_t(end - second)};
            if(equals(first, "end")) {
                _kind = DirectiveKind::End;
                _text = {};
            } else if(!equals(first, "if")) {
                if(rest.isEmpty() && hasPath(first)) _kind = DirectiveKind::Name;
            } else if(hasPath(rest) && tokenEnd(second, end) == end) {
                _kind = DirectiveKind::IfName;
                _text = rest;
            }
        }

        /* Less than the directive took in the source, braces included, by
           a byte or more: room for the zero ending the string holding it */
        std::size_t size() const { return (_kind != DirectiveKind::Name) + isPath() + _text.size() + 1; }

        /* Returns where the text after it goes */
        char* write(char* out) const {
            if(_kind != DirectiveKind::Name) *out++ = char(_kind);
            if(isPath()) out = writePath(_text, out);
            else if(!_text.isEmpty()) {
                std::memcpy(out, _text.data(), _text.size());
                out += _text.size();
            }
            *out++ = '\0';
            return out;
        }

    private:
        /* Not a string literal, nor with a slash of its own */
        static bool hasPath(const Containers::StringView& name) {
            return !name.isEmpty() && name[0] != '\'' && name[0] != '"' && !std::memchr(name.data(), '/', name.size());
        }

        bool isPath() const { return _kind == DirectiveKind::Name || _kind == DirectiveKind::IfName; }

        DirectiveKind _kind = DirectiveKind::Tokens;
        /* The name for Name and IfName, the tokens for Tokens */
        Containers::StringView _text;
};

}

Template::Template(const Containers::StringView source): _parts{source.size() + 1}, _valid{true} {
    CORRADE_INTERNAL_ASSERT(source.flags() & Containers::StringViewFlag::NullTerminated);

    /* The text ends at the first zero byte, not at the view's size */
    const char* const begin = source.data();
    if(source.isEmpty() || !*begin) return;
    const char* open = findPair(begin, '{');
    _parts.add({begin, std::size_t(open - begin)});

    while(*open) {
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
        const StoredDirective directive{contentBegin, contentEnd};
        const char* const text = close + 2;
        open = findPair(text, '{');
        const std::size_t textSize = open - text;
        char* const out = directive.write(_parts.add(NoInit, directive.size() + textSize).data());
        std::memcpy(out, text, textSize);
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

/* The zero-terminated text stored at data */
Containers::StringView storedText(const char* const data) {
    return {data, std::strlen(data), Containers::StringViewFlag::NullTerminated};
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
            token = skipBlanks(next, end);
        }
    }

    enum: std::size_t { Capacity = 4 };
    Containers::StringView first[Capacity];
    std::size_t count = 0;
};

/* Bytes on the stack up to Size, on the heap beyond, for the few texts a
   render puts together. Not copyable: the data would point into the
   copied-from object. */
template<std::size_t Size> class ShortBuffer {
    public:
        ShortBuffer() = default;
        ShortBuffer(const ShortBuffer&) = delete;
        ShortBuffer& operator=(const ShortBuffer&) = delete;

        /* Room for size bytes; what was there before is gone */
        char* reserve(const std::size_t size) {
            if(size > Size && size > _allocated.size())
                _data = (_allocated = Containers::Array<char>{NoInit, size}).data();
            return _data;
        }

        const char* data() const { return _data; }

    private:
        char _onStack[Size];
        Containers::Array<char> _allocated;
        char* _data = _onStack;
};

/* The path of a name kept as written, in a directive that keeps its
   tokens, zero-terminated for handles that want a C string */
class NamePath {
    public:
        explicit NamePath(const Containers::StringView& name): _size{name.size() + 1} {
            *writePath(name, _buffer.reserve(name.size() + 2)) = '\0';
        }

        Containers::StringView view() const {
            return {_buffer.data(), _size, Containers::StringViewFlag::NullTerminated};
        }

    private:
        ShortBuffer<104> _buffer;
        std::size_t _size;
};

/* Hands the text of a value in four decimals to consume(data, size) */
template<class Consume> void consumeFixed(const double value, Consume&& consume) {
    char text[Implementation::FixedSize];
    consume(text, Implementation::formatFixed(value, text));
}

void consumeFixed(const double value, Implementation::RenderOutput& output) {
    output.appendFixed(value);
}

template<class Consume> void consumeBoolean(const bool value, Consume&& consume) {
    if(value) consume("true", 4);
    else consume("false", 5);
}

enum class Lookup: std::uint8_t {
    Found,
    Undefined,
    Unsupported
};

/* Hands the text of the value at path in the first context that has it to
   consume(data, size). The handles of the contexts tried before are
   released on the way. */
template<class Consume> Lookup lookUp(const Contexts contexts, const Containers::StringView path, Consume&& consume) {
    for(const Containers::Reference<JsonObject>& context: contexts) {
        const Containers::Pointer<JsonObject> handle = context->child(path);
        if(!handle->exists()) continue;

        /* The first context that has the name decides, even with a value
           that cannot be shown */
        const rapidjson::Value& value = handle->readValue();
        if(value.IsString()) {
            /* A string value ends at its first zero byte */
            const char* const string = value.GetString();
            const void* const zero = std::memchr(string, '\0', value.GetStringLength());
            consume(string, zero ? std::size_t(static_cast<const char*>(zero) - string) : value.GetStringLength());
        } else if(value.IsBool())
            consumeBoolean(value.IsTrue(), consume);
        else if(value.IsDouble())
            consumeFixed(value.GetDouble(), consume);
        /* Null, arrays, objects, and numbers stored as integers */
        else return Lookup::Unsupported;
        return Lookup::Found;
    }
    return Lookup::Undefined;
}

/* Prints why the name as written has no text, if it has none */
bool reported(const Lookup result, const Containers::StringView& name) {
    if(result == Lookup::Undefined)
        Utility::Error{} << "Template::render(): Undefined name" << name;
    else if(result == Lookup::Unsupported)
        Utility::Error{} << "Template::render(): Unsupported type for" << name;
    return result != Lookup::Found;
}

/* Hands the text of a name stored as its path to consume(data, size) and
   returns true, or prints why it has none and returns false */
template<class Consume> bool evaluatePath(const Contexts contexts, const Containers::StringView path, Consume&& consume) {
    const Lookup result = lookUp(contexts, path, consume);
    if(result == Lookup::Found) return true;

    /* Such names have no slash of their own: each one was a dot */
    Containers::String name{path.exceptPrefix(1)};
    for(std::size_t i = 0; i != name.size(); ++i)
        if(name[i] == '/') name[i] = '.';
    return !reported(result, name);
}

/* Hands the text of an operand to consume(data, size) and returns true, or
   prints why it has none and returns false. A token beginning with a quote
   is a string literal, without escapes; anything else is a name. */
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

    return !reported(lookUp(contexts, NamePath{token}.view(), consume), token);
}

/* The text of a comparison's first operand, kept while the second one is
   evaluated: its handle is gone by then and may have taken the text with
   it. On the stack unless long. */
class OperandText {
    public:
        void assign(const char* const data, const std::size_t size) {
            std::memcpy(_buffer.reserve(size), data, size);
            _size = size;
        }

        bool matches(const char* const data, const std::size_t size) const {
            return equals(data, size, _buffer.data(), _size);
        }

    private:
        ShortBuffer<128> _buffer;
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
        consumeBoolean(equal == equals(tokens[1], "=="), consume);
        return true;
    }

    Utility::Error{} << "Template::render(): Number of tokens for expression unsupported:" << count;
    return false;
}

}

Containers::String Template::render(const Contexts contexts) {
    const std::size_t count = _parts.size();
    if(!count) return {};

    Implementation::RenderOutput output{_parts.capacity() > 1 ? _parts.capacity() : 1};
    const Containers::StringView first = _parts[0];
    output(first.data(), first.size());

    bool shown;
    const auto test = [&shown](const char* const data, const std::size_t size) {
        shown = equals(data, size, "true", 4);
    };
    for(std::size_t i = 1; i != count; ++i) {
        Containers::StringView entry = _parts[i];
        const char* const data = entry.data();
        /* Where the text after the directive begins: for an end, past its
           kind and the zero after its empty tokens */
        const char* text = data + 2;
        shown = true;
        switch(DirectiveKind(*data)) {
            case DirectiveKind::Name: {
                const Containers::StringView path = storedText(data);
                if(!evaluatePath(contexts, path, output)) return {};
                text = path.end() + 1;
            } break;
            case DirectiveKind::IfName: {
                const Containers::StringView path = storedText(data + 1);
                if(!evaluatePath(contexts, path, test)) return {};
                text = path.end() + 1;
            } break;
            case DirectiveKind::Tokens: {
                const Containers::StringView content = storedText(data + 1);
                const Tokens tokens{content};
                /* The condition is the tokens after the "if" */
                if(!(equals(tokens.first[0], "if") ?
                    evalDirective(contexts, tokens.first + 1, tokens.count - 1, test) :
                    evalDirective(contexts, tokens.first, tokens.count, output))) return {};
                text = content.end() + 1;
            } break;
            case DirectiveKind::End:
                break;
        }

        /* Leave everything out up to the first end after a false if, which
           itself does nothing; ifs in between are not counted */
        if(!shown) {
            do ++i; while(i != count && DirectiveKind(*_parts[i].data()) != DirectiveKind::End);
            if(i == count) {
                Utility::Error{} << "Template::render(): Missing 'end'";
                return {};
            }
            entry = _parts[i];
            text = entry.data() + 2;
        }
        output(text, entry.end() - text);
    }

    if(output.failed()) return {};
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
