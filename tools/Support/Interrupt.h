#ifndef tools_Support_Interrupt_h
#define tools_Support_Interrupt_h
/* Ctrl-C and SIGTERM for the tools that sleep in FileWatch::update() until
   a change comes: the signal ends the sleep, and the tool ends cleanly */

#include <cstdint>

namespace QuenfoldEngine { namespace Tools {

/* What FileWatch::update() takes for a wait without a time limit */
constexpr std::uint32_t NoTimeLimit = 0xffffffffu;

/* From now on, Ctrl-C (and SIGTERM outside Windows) sets interrupted() and
   wakes the calling thread from an alertable wait, instead of ending the
   process. To be called on the thread that waits. */
void catchInterrupts();

/* Whether an interrupt came since catchInterrupts() */
bool interrupted();

}}

#endif
