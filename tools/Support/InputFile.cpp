#include "tools/Support/InputFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <rapidjson/document.h>
#include <rapidjson/encodedstream.h>
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <Corrade/Containers/Optional.h>
#include <Corrade/Containers/String.h>
#include <Corrade/Containers/StringView.h>
#include <Corrade/Utility/Format.h>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace QuenfoldEngine { namespace Tools {

using namespace Corrade;

namespace {

#ifdef _WIN32
typedef struct _stat64 FileStatus;

int openForReading(const char* const name) { return _open(name, _O_RDONLY|_O_BINARY); }
/* In binary mode, as in text mode a 0x1A byte would end the input early
   and CR LF would lose its CR */
int standardInput() { _setmode(0, _O_BINARY); return 0; }
int fileStatus(const int file, FileStatus& out) { return _fstat64(file, &out); }
long long currentOffset(const int file) { return _lseeki64(file, 0, SEEK_CUR); }
long long readInto(const int file, char* const out, const std::size_t size) { return _read(file, out, unsigned(size < INT_MAX ? size : INT_MAX)); }
void closeFile(const int file) { _close(file); }
#else
typedef struct stat FileStatus;

/* Without blocking, so that a FIFO is refused at once instead of waiting
   for a writer */
int openForReading(const char* const name) { return open(name, O_RDONLY|O_NONBLOCK|O_CLOEXEC); }
int standardInput() { return STDIN_FILENO; }
int fileStatus(const int file, FileStatus& out) { return fstat(file, &out); }
long long currentOffset(const int file) { return lseek(file, 0, SEEK_CUR); }
long long readInto(const int file, char* const out, const std::size_t size) { return read(file, out, size); }
void closeFile(const int file) { close(file); }
#endif

/* What a stream that tells nothing of its size starts with */
constexpr std::size_t UnknownSizeCapacity = 65536;

void freeBuffer(char* const data, std::size_t) { std::free(data); }

/* Reads until the end into a buffer of capacity bytes, made larger only
   when the contents outgrow it, with room for the zero byte. A regular file
   whose size is known up front is so read with one allocation and no copy.
   NullOpt with the reason in why. */
Containers::Optional<Containers::String> readAll(const int file, std::size_t capacity, Containers::String& why) {
    char* data = static_cast<char*>(std::malloc(capacity));
    std::size_t size = 0;
    const char* failure = data ? nullptr : "out of memory";
    while(!failure) {
        /* Full, which a stream that goes on or a growing file gets to */
        if(size == capacity) {
            char* const grown = capacity <= ~std::size_t{}/2 ? static_cast<char*>(std::realloc(data, capacity*2)) : nullptr;
            if(!grown) {
                failure = "out of memory";
                break;
            }
            data = grown;
            capacity *= 2;
        }

        const long long count = readInto(file, data + size, capacity - size);
        if(count == 0) break;
        if(count > 0) size += std::size_t(count);
        else if(errno != EINTR) failure = std::strerror(errno);
    }

    if(failure) {
        why = failure;
        std::free(data);
        return {};
    }
    data[size] = '\0';
    return Containers::String{data, size, freeBuffer};
}

/* Hands the parsed values on to the document, refusing to open an array or
   object deeper than MaxJsonNesting */
struct NestingLimit {
    rapidjson::Document& document;
    std::size_t depth;

    bool enter() {
        if(depth == MaxJsonNesting) return false;
        ++depth;
        return true;
    }

    bool Null() { return document.Null(); }
    bool Bool(const bool value) { return document.Bool(value); }
    bool Int(const int value) { return document.Int(value); }
    bool Uint(const unsigned value) { return document.Uint(value); }
    bool Int64(const std::int64_t value) { return document.Int64(value); }
    bool Uint64(const std::uint64_t value) { return document.Uint64(value); }
    bool Double(const double value) { return document.Double(value); }
    bool RawNumber(const char* const data, const rapidjson::SizeType size, const bool copy) { return document.RawNumber(data, size, copy); }
    bool String(const char* const data, const rapidjson::SizeType size, const bool copy) { return document.String(data, size, copy); }
    bool Key(const char* const data, const rapidjson::SizeType size, const bool copy) { return document.Key(data, size, copy); }
    bool StartObject() { return enter() && document.StartObject(); }
    bool EndObject(const rapidjson::SizeType count) { --depth; return document.EndObject(count); }
    bool StartArray() { return enter() && document.StartArray(); }
    bool EndArray(const rapidjson::SizeType count) { --depth; return document.EndArray(count); }
};

/* Fills the document from the text as the document's own Parse() does, but
   with the iterative parser behind a NestingLimit */
struct LimitedParse {
    Containers::StringView json;
    rapidjson::ParseResult result;

    bool operator()(rapidjson::Document& document) {
        rapidjson::MemoryStream memory{json.data(), json.size()};
        rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> stream{memory};
        NestingLimit limit{document, 0};
        rapidjson::Reader reader;
        result = reader.Parse<rapidjson::kParseIterativeFlag>(stream, limit);
        return !result.IsError();
    }
};

}

Containers::Optional<Containers::String> readInputFile(const char* const name, Containers::String& why) {
    const bool isStandardInput = std::strcmp(name, "-") == 0;
    const int file = isStandardInput ? standardInput() : openForReading(name);
    if(file < 0) {
        why = std::strerror(errno);
        return {};
    }

    /* Standard input may be anything that can be read; a named file must be
       a regular one, as a device, a FIFO or a directory could block forever,
       never end or not be readable at all */
    FileStatus status;
    const bool known = fileStatus(file, status) == 0;
    const bool regular = known && (status.st_mode & S_IFMT) == S_IFREG;
    Containers::Optional<Containers::String> contents;
    if(!isStandardInput && !regular)
        why = known ? "not a regular file" : std::strerror(errno);
    else {
        /* Standard input may be a file read partly already */
        const long long offset = regular ? currentOffset(file) : -1;
        const unsigned long long remaining = offset >= 0 && offset <= status.st_size ? static_cast<unsigned long long>(status.st_size - offset) : 0;
        /* One more byte for the zero; a size that does not fit into memory
           fails the allocation */
        const std::size_t capacity = !regular ? UnknownSizeCapacity :
            remaining < ~std::size_t{} ? std::size_t(remaining) + 1 : ~std::size_t{};
        contents = readAll(file, capacity, why);
    }
    if(!isStandardInput) closeFile(file);
    return contents;
}

bool parseJsonFile(const Containers::StringView json, rapidjson::Document& document, Containers::String& why) {
    LimitedParse parse{json, {}};
    document.Populate(parse);
    if(!parse.result.IsError()) return true;

    /* Only the nesting limit stops the parse from inside */
    why = parse.result.Code() == rapidjson::kParseErrorTermination ?
        Utility::format("offset {}: Arrays and objects nested deeper than {} levels.", parse.result.Offset(), MaxJsonNesting) :
        Utility::format("offset {}: {}", parse.result.Offset(), rapidjson::GetParseError_En(parse.result.Code()));
    return false;
}

}}
