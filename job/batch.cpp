#include "job/batch.h"

#include <map>
#include <optional>
#include <set>

#include "engine/signature.h"
#include "job/pipeline.h"
#include "output/file_dates.h"
#include "output/naming.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/folder_tree.h"
#include "platform/path_list.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/worker_process.h"

namespace kestrel {
namespace {

// A folder as an absolute path ending in "/", as the output folder check completes it.
std::string CompletedFolder(std::string folder) {
  if (StartsWith(folder, "./")) folder.erase(0, 2);
  if (!StartsWith(folder, "/")) folder = CurrentDirectory() + folder;
  if (!EndsWith(folder, "/")) folder += "/";
  return folder;
}

enum class Result { Converted, Failed, Skipped };

struct ItemResult {
  Result result = Result::Failed;
  std::string text;  // the output path, or why the file failed
};

// A worker's answer: "1" and the output path, or "0" and the reason.
std::string Answer(bool converted, const std::string& text) { return (converted ? "1" : "0") + text; }

ItemResult ReadAnswer(const std::optional<std::string>& answer) {
  if (!answer || answer->empty()) return {Result::Failed, "the conversion process ended unexpectedly"};
  return {(*answer)[0] == '1' ? Result::Converted : Result::Failed, answer->substr(1)};
}

// Converts the current file in a worker: the state is the worker's own copy.
std::string ConvertInWorker(AppState& state) {
  RunState& run = state.run;
  if (state.settings.IsOn(SettingId::KeepSubfolders) && !run.relativeSubfolder.empty()) {
    const Outcome made = MakeFoldersBelow(run.output, run.relativeSubfolder);
    if (!made) return Answer(false, made.failure);
  }
  const Outcome outcome = ConvertCurrentFile(state);
  if (!outcome) return Answer(false, outcome.failure);
  ApplyFileTimestamp(state.settings, run.currentInputPath, run.outputPath);  // best effort
  return Answer(true, run.outputPath);
}

// Output names that depend on the decoded image cannot be known beforehand.
bool NameDependsOnImage(const Settings& settings) {
  const std::string mask = LowerCase(settings.Text(SettingId::FilenameMask));
  for (const char* token : {"%width%", "%height%", "%bpp%"}) {
    if (mask.find(token) != std::string::npos) return true;
  }
  return false;
}

std::string ClockText(std::int64_t milliseconds) {
  const std::int64_t seconds = milliseconds / 1000;
  std::string text = std::to_string(seconds / 60) + ":";
  if (seconds % 60 < 10) text += "0";
  return text + std::to_string(seconds % 60);
}

// The progress line on standard error, and the lines printed around it.
class Progress {
 public:
  Progress(bool shown, int total) : shown_(shown), total_(total), started_(MonotonicMilliseconds()) {}
  ~Progress() { Clear(); }

  void Update(int done, int failed) {
    if (!shown_) return;
    const std::int64_t elapsed = MonotonicMilliseconds() - started_;
    std::string text = "Files done: " + std::to_string(done) + " of " + std::to_string(total_) +
                       ", failed: " + std::to_string(failed) + ", elapsed: " + ClockText(elapsed);
    if (done > 0 && done < total_) text += ", left: " + ClockText(elapsed * (total_ - done) / done);
    ShowErrorStatus(text);
    drawn_ = true;
  }
  // Before another line is written: the line is redrawn by the next update.
  void Clear() {
    if (drawn_) ShowErrorStatus({});
    drawn_ = false;
  }

 private:
  bool shown_;
  int total_;
  std::int64_t started_;
  bool drawn_ = false;
};

}  // namespace

std::variant<std::vector<BatchItem>, std::string> CollectBatchItems(const std::vector<BatchSource>& sources,
                                                                    const std::vector<std::string>& extensions,
                                                                    bool outputGiven) {
  std::vector<BatchItem> items;
  std::set<std::string> seen;
  const auto add = [&](BatchItem item) {
    if (seen.insert(item.path).second) items.push_back(std::move(item));
  };
  for (const BatchSource& source : sources) {
    switch (source.kind) {
      case BatchSource::Kind::File:
        add({source.value, {}, outputGiven ? std::string() : CompletedFolder(FolderPart(source.value))});
        break;
      case BatchSource::Kind::Folder: {
        const auto files = FilesBelow(source.value, extensions);
        if (!files) return std::string("Error: Invalid input folder");
        const std::string root = EndsWith(source.value, "/") ? source.value : source.value + "/";
        for (const std::string& relative : *files) {
          add({root + relative, FolderPart(relative), outputGiven ? std::string() : CompletedFolder(root)});
        }
        break;
      }
      case BatchSource::Kind::List:
      case BatchSource::Kind::NulList: {
        const auto paths = ReadPathList(source.value, source.kind == BatchSource::Kind::NulList);
        if (!paths) return std::string("Error: Invalid input list");
        for (const std::string& path : *paths) {
          add({path, {}, outputGiven ? std::string() : CompletedFolder(FolderPart(path))});
        }
        break;
      }
    }
  }
  return items;
}

BatchSummary RunBatch(AppState& state, const std::vector<BatchItem>& items, const BatchOptions& options) {
  RunState& run = state.run;
  const bool debug = run.inputGiven && run.runMode == "DEBUG";
  const bool predictable = !NameDependsOnImage(state.settings);
  const std::string commonOutput = run.output;
  const std::size_t jobs = static_cast<std::size_t>(options.jobs < 1 ? 1 : options.jobs);

  BatchSummary summary;
  summary.total = static_cast<int>(items.size());
  std::vector<std::optional<ItemResult>> results(items.size());
  std::map<std::string, std::size_t> claimed;  // predicted output path -> the item that has it
  std::vector<WorkerProcess> running;
  Progress progress(options.progress, summary.total);
  std::size_t next = 0;
  std::size_t reported = 0;
  int done = 0;

  // Sets the run state for item i as a single-file run of it would have it.
  const auto prepare = [&](std::size_t i) {
    const BatchItem& item = items[i];
    run.currentInputPath = item.path;
    run.relativeSubfolder = item.subfolder;
    run.output = item.outputFolder.empty() ? commonOutput : item.outputFolder;
    run.sequenceNumber = static_cast<int>(i) + 1;
    run.randomNumber = UniformRandom(1, 99999);
    run.outputPath.clear();
  };
  // A result known without converting: a taken output name, or an output that is up to date.
  const auto decideBeforehand = [&](std::size_t i) -> std::optional<ItemResult> {
    if (!predictable) return std::nullopt;
    const std::string output = BuildOutputPath(state);
    if (output.empty()) return std::nullopt;
    const auto [at, fresh] = claimed.emplace(output, i);
    if (!fresh) {
      return ItemResult{Result::Failed, "its output " + output + " would replace the output of " + items[at->second].path};
    }
    if (options.update) {
      const auto inputTime = ModificationTimeNs(items[i].path);
      const auto outputTime = ModificationTimeNs(output);
      if (inputTime && outputTime && *outputTime >= *inputTime) return ItemResult{Result::Skipped, output};
    }
    return std::nullopt;
  };
  const auto report = [&](std::size_t i, const ItemResult& result) {
    const std::string& path = items[i].path;
    if (debug) {
      state.print("Processing: " + path);
      state.print("File Format: " + DetectFileSignature(path));
    }
    switch (result.result) {
      case Result::Converted:
        ++summary.converted;
        if (debug) state.print("[OK] Saving As: " + result.text);
        break;
      case Result::Skipped:
        ++summary.skipped;
        if (debug) state.print("[SKIPPED] Up to date: " + result.text);
        break;
      case Result::Failed:
        ++summary.failed;
        if (debug) state.print("[ERROR] Unable to convert the file!");
        ReportFileProblem(state, path, result.text);
        break;
    }
  };
  const auto reportReady = [&] {
    bool any = false;
    while (reported < items.size() && results[reported]) {
      if (!any) progress.Clear();
      any = true;
      report(reported, *results[reported]);
      ++reported;
    }
    progress.Update(done, summary.failed);
  };

  while (reported < items.size()) {
    while (running.size() < jobs && next < items.size()) {
      const std::size_t i = next++;
      prepare(i);
      if (auto decided = decideBeforehand(i)) {
        results[i] = std::move(*decided);
        ++done;
        continue;
      }
      auto worker = StartWorker([&state] { return ConvertInWorker(state); });
      if (!worker) {
        results[i] = ItemResult{Result::Failed, "no process could be started for it"};
        ++done;
        continue;
      }
      worker->tag = i;
      running.push_back(std::move(*worker));
    }
    reportReady();
    if (running.empty()) continue;
    FinishedWorker finished = WaitForWorker(running);
    results[finished.tag] = ReadAnswer(finished.text);
    ++done;
    reportReady();
  }
  run.output = commonOutput;
  return summary;
}

}  // namespace kestrel
