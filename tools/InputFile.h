#ifndef tools_InputFile_h
#define tools_InputFile_h
/* Reading the files the command-line tools are given: what cannot be read,
   and there are many such things for a path from the command line, is told
   on standard error and never ends the process */

#include <cstddef>
#include <rapidjson/fwd.h>
#include <Corrade/Containers/Containers.h>

namespace QuenfoldEngine { namespace Tools {

/* Deepest nesting of arrays and objects taken from a JSON file */
constexpr std::size_t MaxJsonNesting = 512;

/* Contents of the regular file name, or of standard input for "-", read
   straight into one buffer of their size, with a zero byte after them;
   NullOpt after printing "tool: cannot read name: reason" on standard
   error. Anything but a regular file, such as a FIFO or a device, is
   refused before it is read, and so is a file too large for the memory. */
Corrade::Containers::Optional<Corrade::Containers::String> readInputFile(const char* tool, const char* name);

/* The JSON text into document, parsed without recursing and refused if
   nested deeper than MaxJsonNesting; false after printing
   "tool: name: offset N: reason" on standard error */
bool parseJsonFile(const char* tool, const char* name, Corrade::Containers::StringView json, rapidjson::Document& document);

}}

#endif
