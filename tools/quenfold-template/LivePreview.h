#ifndef tools_quenfold_template_LivePreview_h
#define tools_quenfold_template_LivePreview_h
/* quenfold-template --watch: the template rendered again whenever it or one
   of its contexts is saved */

#include <cstdint>
#include <Corrade/Containers/ArrayView.h>

namespace QuenfoldEngine { namespace Tools {

/* Renders the template files[0] against the contexts that follow it, then
   again after each change to any of them, once quietMilliseconds passed
   without another change. The text goes to output, replaced whole, or to
   standard output followed by a form feed line when output is null.
   Problems are told on standard error, each line beginning with the time
   of day. Returns the exit code when interrupted (SIGINT or SIGTERM), or
   at once when a file cannot be watched. */
int livePreview(Corrade::Containers::ArrayView<const char* const> files, const char* output, std::uint32_t quietMilliseconds);

}}

#endif
