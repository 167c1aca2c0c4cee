// The settings of the process's allocator.
//
// Every executable links mimalloc ahead of the C library, so it serves malloc,
// free and operator new for the program and for every library it loads
// (FreeImage, which makes nearly all of the large blocks, included). Images
// are nearly the only large blocks, and on a virtual machine a page fault is
// dear: a 4000x3000 bitmap faulted in 4 KB at a time spends more time faulting
// than being decoded. With large OS pages on, mimalloc marks its segments (32
// MB, aligned to 32 MB) and every block too large for one for transparent huge
// pages, so image memory faults in 2 MB at a time; it first tries the system's
// reserved huge pages (MAP_HUGETLB), and falls back at once where there are
// none.
//
// The decoding child runs under a seccomp filter that allows memory calls and
// little else (platform/sandbox.cpp), and it inherits this allocator, already
// started, from its parent. Two more settings keep the allocator inside that
// filter whatever the environment says: a single NUMA node, so that it never
// lists the nodes under /sys nor asks the kernel which CPU it runs on; and no
// messages, which it would write to standard error.
//
// In sanitizer builds the sanitizer's own malloc comes first and these
// settings go to an allocator that serves nothing.
#include <mimalloc.h>

namespace {

__attribute__((constructor(101))) void ConfigureAllocator() {
  mi_option_enable(mi_option_large_os_pages);
  mi_option_set(mi_option_use_numa_nodes, 1);
  mi_option_disable(mi_option_show_errors);
  mi_option_disable(mi_option_verbose);
}

}  // namespace
