#ifndef tools_Support_InputFile_h
#define tools_Support_InputFile_h
/* Reading the files the command-line tools are given: what cannot be read,
   and there are many such things for a path from the command line, comes
   back with the reason and never ends the process */

#include <cstddef>
#include <rapidjson/fwd.h>
#include <Corrade/Containers/Containers.h>

namespace QuenfoldEngine { namespace Tools {

/* Deepest nesting of arrays and objects taken from a JSON file */
constexpr std::size_t MaxJsonNesting = 512;

/* Contents of the regular file name, or of standard input for "-", read
   straight into one buffer of their size, with a zero byte after them;
   NullOpt with the reason in why otherwise ("No such file or directory",
   "not a regular file", "out of memory"). Anything but a regular file, such
   as a FIFO or a device, is refused before it is read, and so is a file too
   large for the memory. */
Corrade::Containers::Optional<Corrade::Containers::String> readInputFile(const char* name, Corrade::Containers::String& why);

/* The JSON text into document, parsed without recursing and refused if
   nested deeper than MaxJsonNesting; false with the reason in why
   ("offset N: " and what is wrong there) otherwise */
bool parseJsonFile(Corrade::Containers::StringView json, rapidjson::Document& document, Corrade::Containers::String& why);

}}

#endif
