// How the program ends once its work is done.
#pragma once

namespace kestrel {

// Flushes the standard streams and ends the process with code at once. Every
// file the run writes is complete and renamed into place before this point;
// what is left is the teardown of each loaded library and of the heap, which
// the kernel does anyway when it frees the address space, and which would
// otherwise cost a short run a noticeable share of its time. Sanitizer builds
// end normally, so that the leak check still sees the whole run.
[[noreturn]] void EndProcess(int code);

}  // namespace kestrel
