// The conversion job: the input list, the run-state reset and the worker loop.
#pragma once

#include <string>
#include <string_view>

#include "model/app_state.h"

namespace kestrel {

// A fresh state as the command-line driver prepares it: format tables,
// run state, command-line defaults and the message catalogue.
void PrepareCommandLineState(AppState& state);

// Resets the run record at start-up and rebuilds the accepted input extensions.
void ResetRunState(AppState& state);

// Makes the input list hold just this file when it is non-empty and has an
// accepted extension (in any letter case).
bool AddInputFile(AppState& state, const std::string& path);

// The folder of path relative to base: every occurrence of base removed from
// the folder part; empty when base is not in it or either is empty.
std::string RelativeSubfolder(std::string_view path, std::string_view base);

// Readies the status record for a job: nothing done yet, running.
void ResetJobStatus(JobStatus& status);
// The number of files the last job converted.
int ConvertedFiles(JobStatus& status);

// The worker: converts every entry of the input list, prints the debug trace,
// and leaves the number of converted files in the status record. For each
// file that fails it gives one line, "kestrel: <path>: <why>", to
// state.printError (standard error when unset).
void RunConversionJob(AppState& state);

}  // namespace kestrel
