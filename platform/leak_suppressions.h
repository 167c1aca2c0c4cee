// Included once by each program's entry file: what LeakSanitizer is not to
// report. Fontconfig keeps its configuration for the life of the process,
// loaded once by the first font lookup; LeakSanitizer reports a piece of it
// (288 bytes, once; a bare FcInit() shows the same) as lost. Its frames carry
// no frame pointers, so the report can only be matched by the library's name.
#pragma once

extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
