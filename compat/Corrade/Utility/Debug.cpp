#include "Corrade/Utility/Debug.h"

#include <cstdint>
#include <cstdio>
#include <iostream>

#include "Corrade/Containers/String.h"
#include "Corrade/Containers/StringView.h"

namespace Corrade { namespace Utility {

namespace {

thread_local std::ostream* debugOutput = &std::cout;
thread_local std::ostream* warningOutput = &std::cerr;
thread_local std::ostream* errorOutput = &std::cerr;

}

void Debug::nospace(Debug& debug) { debug._noSpaceNext = true; }

void Debug::space(Debug& debug) { debug._forceSpaceNext = true; }

void Debug::newline(Debug& debug) { debug << nospace << "\n" << nospace; }

std::ostream* Debug::defaultOutput() { return &std::cout; }
std::ostream* Debug::output() { return debugOutput; }
std::ostream* Warning::defaultOutput() { return &std::cerr; }
std::ostream* Warning::output() { return warningOutput; }
std::ostream* Error::defaultOutput() { return &std::cerr; }
std::ostream* Error::output() { return errorOutput; }

Debug::Debug(std::ostream** const slot, std::ostream* const output, const bool redirect, const Flags flags): _output{redirect ? output : *slot}, _slot{slot}, _previousOutput{*slot}, _flags{flags}, _redirected{redirect}, _written{}, _noSpaceNext{true}, _forceSpaceNext{} {
    if(redirect) *slot = output;
}

Debug::Debug(const Flags flags): Debug{&debugOutput, nullptr, false, flags} {}
Debug::Debug(std::ostream* const output, const Flags flags): Debug{&debugOutput, output, true, flags} {}
Warning::Warning(const Flags flags): Debug{&warningOutput, nullptr, false, flags} {}
Warning::Warning(std::ostream* const output, const Flags flags): Debug{&warningOutput, output, true, flags} {}
Error::Error(const Flags flags): Debug{&errorOutput, nullptr, false, flags} {}
Error::Error(std::ostream* const output, const Flags flags): Debug{&errorOutput, output, true, flags} {}

Debug::~Debug() {
    if(_output && _written && !(_flags & Flag::NoNewlineAtTheEnd))
        *_output << std::endl;
    if(_redirected) *_slot = _previousOutput;
}

void Debug::separate() {
    if(_output && (_forceSpaceNext || (!_noSpaceNext && !(_flags & Flag::NoSpace))))
        _output->put(' ');
    _noSpaceNext = false;
    _forceSpaceNext = false;
    _written = true;
}

void Debug::write(const char* const data, const std::size_t size) {
    separate();
    if(_output && size) _output->write(data, size);
}

Debug& Debug::operator<<(const char* const value) {
    const Containers::StringView view{value};
    write(view.data(), view.size());
    return *this;
}

Debug& Debug::operator<<(const Containers::StringView value) {
    write(value.data(), value.size());
    return *this;
}

Debug& Debug::operator<<(const Containers::MutableStringView value) {
    write(value.data(), value.size());
    return *this;
}

Debug& Debug::operator<<(const Containers::String& value) {
    write(value.data(), value.size());
    return *this;
}

namespace {

template<class T> void printFormatted(Debug& debug, const char* const format, const T value) {
    char buffer[64];
    const int size = std::snprintf(buffer, sizeof(buffer), format, value);
    debug << Containers::StringView{buffer, std::size_t(size)};
}

}

Debug& Debug::operator<<(const void* const value) {
    printFormatted(*this, "0x%jx", std::uintmax_t(reinterpret_cast<std::uintptr_t>(value)));
    return *this;
}

Debug& Debug::operator<<(std::nullptr_t) { return *this << "nullptr"; }
Debug& Debug::operator<<(const bool value) { return *this << (value ? "true" : "false"); }
Debug& Debug::operator<<(const char value) { return *this << int(value); }
Debug& Debug::operator<<(const signed char value) { return *this << int(value); }
Debug& Debug::operator<<(const unsigned char value) { return *this << unsigned(value); }
Debug& Debug::operator<<(const short value) { return *this << int(value); }
Debug& Debug::operator<<(const unsigned short value) { return *this << unsigned(value); }

Debug& Debug::operator<<(const int value) {
    printFormatted(*this, "%d", value);
    return *this;
}

Debug& Debug::operator<<(const unsigned int value) {
    printFormatted(*this, "%u", value);
    return *this;
}

Debug& Debug::operator<<(const long value) {
    printFormatted(*this, "%ld", value);
    return *this;
}

Debug& Debug::operator<<(const unsigned long value) {
    printFormatted(*this, "%lu", value);
    return *this;
}

Debug& Debug::operator<<(const long long value) {
    printFormatted(*this, "%lld", value);
    return *this;
}

Debug& Debug::operator<<(const unsigned long long value) {
    printFormatted(*this, "%llu", value);
    return *this;
}

Debug& Debug::operator<<(const float value) {
    printFormatted(*this, "%.6g", double(value));
    return *this;
}

Debug& Debug::operator<<(const double value) {
    printFormatted(*this, "%.15g", value);
    return *this;
}

Debug& Debug::operator<<(const long double value) {
    printFormatted(*this, "%.18Lg", value);
    return *this;
}

Debug& Debug::operator<<(const Modifier modifier) {
    modifier(*this);
    return *this;
}

}}
