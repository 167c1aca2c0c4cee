#include "job/job.h"

#include "output/file_dates.h"
#include "job/pipeline.h"
#include "engine/decode/signature.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/folder_tree.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr std::int64_t kMinimumRecordedDurationMs = 1000;

}  // namespace

void PrepareCommandLineState(AppState& state) {
  ResetRunState(state);
  SetDefaultSettings(state.settings, /*aspectOff=*/true, LocalNowSeconds(), state.formats.sourceFormats.front(),
                     state.formats.targetFormats.front());
  state.messages = LoadCatalogue();
  if (!state.print) state.print = [](std::string_view line) { WriteConsoleLine(line); };
}

void ResetRunState(AppState& state) {
  RunState& run = state.run;
  run = RunState{};
  run.baseFolder = FolderPart(ProgramFilePath());
  run.inputGiven = false;
  run.randomNumber = UniformRandom(1, 99999);
  run.sequenceNumber = 1;
  state.inputs.clear();
}

std::string RelativeSubfolder(std::string_view path, std::string_view base) {
  if (path.empty() || base.empty()) return {};
  const std::string dir = FolderPart(path);
  if (dir.find(base) == std::string::npos) return {};
  std::string result;
  std::size_t start = 0;
  for (auto at = dir.find(base); at != std::string::npos; at = dir.find(base, start)) {
    result.append(dir, start, at - start);
    start = at + base.size();
  }
  result.append(dir, start);
  return result;
}

bool AddInputFile(AppState& state, const std::string& path) {
  if (FileSizeQuery(path) == 0) return false;
  // The extension here is the text after the last ".", whatever precedes it.
  const std::string& named = state.run.inputLabel.empty() ? path : state.run.inputLabel;
  const auto dot = named.rfind('.');
  const std::string extension = dot == std::string::npos ? std::string() : LowerCase(named.substr(dot + 1));
  if (!ListContains(state.formats.acceptedInputExtensions, extension)) return false;
  state.inputs.clear();
  InputEntry& entry = state.inputs[path];
  if (entry.marked == 0) {
    entry.subfolder = RelativeSubfolder(path, state.run.input);
    entry.marked = 1;
  }
  return true;
}

void ResetJobStatus(JobStatus& status) {
  std::lock_guard lock(status.mutex);
  status.fileIndex = 0;
  status.currentFile.clear();
  status.lastDurationMs = 0;
  status.fileCount = 0;
  status.running = true;
}

int ConvertedFiles(JobStatus& status) {
  std::lock_guard lock(status.mutex);
  return status.fileCount;
}

void RunConversionJob(AppState& state) {
  RunState& run = state.run;
  const bool debug = run.inputGiven && run.runMode == "DEBUG";
  int converted = 0;
  int processed = 0;
  std::int64_t duration = 0;

  for (const auto& [path, entry] : state.inputs) {
    {
      std::lock_guard lock(state.status.mutex);
      if (!state.status.running) break;
    }
    ++processed;
    run.currentInputPath = path;
    run.relativeSubfolder = entry.subfolder;
    {
      std::lock_guard lock(state.status.mutex);
      state.status.fileIndex = processed;
      state.status.currentFile = path;
      state.status.lastDurationMs = duration;
    }
    if (debug) {
      state.print("Processing: " + QuotedFileName(path));
      state.print("File Format: " + DetectFileSignature(path));
    }
    const std::int64_t started = MonotonicMilliseconds();
    // A file found below a folder may need its subfolder under the output
    // folder first (a single input has none).
    Outcome outcome = Succeeded();
    if (state.settings.IsOn(SettingId::KeepSubfolders) && !run.relativeSubfolder.empty()) {
      outcome = MakeFoldersBelow(run.output, run.relativeSubfolder);
    }
    if (outcome) outcome = ConvertCurrentFile(state);
    if (outcome) {
      if (debug) state.print("[OK] Saving As: " + QuotedFileName(run.outputPath));
      ++converted;
      duration = MonotonicMilliseconds() - started;
      if (duration < kMinimumRecordedDurationMs) duration = kMinimumRecordedDurationMs;
      run.randomNumber = UniformRandom(1, 99999);
      run.sequenceNumber += 1;
      ApplyFileTimestamp(state.settings, run.currentInputPath, run.outputPath);  // best effort
    } else {
      duration = 0;
      if (debug) state.print("[ERROR] Unable to convert the file!");
      ReportFileProblem(state, path, outcome.failure);
    }
  }

  std::lock_guard lock(state.status.mutex);
  state.status.fileCount = converted;
}

}  // namespace kestrel
