#include "job/batch.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "engine/signature.h"
#include "job/commit_queue.h"
#include "job/pipeline.h"
#include "output/file_dates.h"
#include "output/naming.h"
#include "output/save.h"
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

std::optional<std::uint64_t> ParseUnsigned(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

struct ItemResult {
  Result result = Result::Failed;
  std::string text;  // the output path, or why the file failed
};

// A request names the item and the random number the parent drew for it.
std::string Request(std::size_t index, int random) { return std::to_string(index) + " " + std::to_string(random); }

// An answer names the item, then "1" and the output path, or "0" and the
// reason; "W" alone says that the item's output is written and waits for its
// commit, so that the worker is free for the next item.
std::string Answer(std::size_t index, bool converted, const std::string& text) {
  return std::to_string(index) + " " + (converted ? "1" : "0") + text;
}
std::string Written(std::size_t index) { return std::to_string(index) + " W"; }

struct WorkerAnswer {
  std::size_t index = 0;
  std::optional<ItemResult> result;  // nothing: written, waiting for its commit
};

std::optional<WorkerAnswer> ReadAnswer(const std::string& answer, std::size_t items) {
  const auto space = answer.find(' ');
  if (space == std::string::npos || space + 1 >= answer.size()) return std::nullopt;
  const auto index = ParseUnsigned(answer.substr(0, space));
  if (!index || *index >= items) return std::nullopt;
  const char kind = answer[space + 1];
  if (kind == 'W') return WorkerAnswer{static_cast<std::size_t>(*index), std::nullopt};
  return WorkerAnswer{static_cast<std::size_t>(*index),
                      ItemResult{kind == '1' ? Result::Converted : Result::Failed, answer.substr(space + 2)}};
}

// Sets the run state for an item as a single-file run of it would have it.
void PrepareItem(RunState& run, const BatchItem& item, const std::string& commonOutput, std::size_t index,
                 int random) {
  run.currentInputPath = item.path;
  run.relativeSubfolder = item.subfolder;
  run.output = item.outputFolder.empty() ? commonOutput : item.outputFolder;
  run.sequenceNumber = static_cast<int>(index) + 1;
  run.randomNumber = random;
  run.outputPath.clear();
}

// Converts one file in a worker; a saved file's commit is handed over, not done.
Outcome ConvertItem(AppState& state) {
  RunState& run = state.run;
  if (state.settings.IsOn(SettingId::KeepSubfolders) && !run.relativeSubfolder.empty()) {
    if (Outcome made = MakeFoldersBelow(run.output, run.relativeSubfolder); !made) return made;
  }
  return ConvertCurrentFile(state);
}

// A worker's life: it converts the items the parent sends, one at a time,
// while its commit queue commits the outputs it has written, so that the
// wait for the disk is hidden behind work. Each file starts from the run
// state the worker had at its start, as a single-file run of it would.
void ServeItems(AppState& state, const std::vector<BatchItem>& items, const std::string& commonOutput,
                RequestChannel& channel) {
  // What a conversion changes is the run's state; the settings stay as they are.
  const RunState fresh = state.run;
  std::mutex sending;
  const auto answer = [&](const std::string& text) {
    const std::lock_guard hold(sending);
    channel.Answer(text);  // a parent that has gone ends the requests too
  };
  DeferCommits(true);
  CommitQueue commits(state.settings, [&](const Uncommitted& item, const std::string& failure) {
    answer(Answer(item.index, failure.empty(), failure.empty() ? item.output : failure));
  });
  while (const auto request = channel.Next()) {
    const auto space = request->find(' ');
    const auto index = ParseUnsigned(request->substr(0, space));
    const auto random = space == std::string::npos ? std::nullopt : ParseUnsigned(request->substr(space + 1));
    if (!index || *index >= items.size() || !random) return;
    state.run = fresh;
    PrepareItem(state.run, items[*index], commonOutput, *index, static_cast<int>(*random));
    const Outcome outcome = ConvertItem(state);
    std::vector<AtomicFile> files = TakeDeferredCommits();  // a failed conversion's go unnamed
    if (!outcome) {
      answer(Answer(*index, false, outcome.failure));
      continue;
    }
    answer(Written(*index));
    commits.Add(Uncommitted{*index, state.run.currentInputPath, state.run.outputPath, std::move(files)});
  }
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
  std::vector<int> randoms(items.size());
  std::vector<int> attempts(items.size());
  std::map<std::string, std::size_t> claimed;  // predicted output path -> the item that has it
  std::set<std::string> outputFolders;         // flushed once each at the end
  std::vector<ServingWorker> workers;
  // Per worker: the items sent to it and not answered, those of them it has
  // written and holds for their commit, and whether it was told that no item follows.
  struct Load {
    std::deque<std::size_t> assigned;
    std::set<std::size_t> held;
    bool told = false;
  };
  std::vector<Load> loads;
  std::deque<std::size_t> retries;                // items whose worker ended before answering
  Progress progress(options.progress, summary.total);
  std::size_t next = 0;
  std::size_t reported = 0;
  int done = 0;

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
  const auto finish = [&](std::size_t i, ItemResult result) {
    if (result.result == Result::Converted) outputFolders.insert(FolderPart(result.text));
    results[i] = std::move(result);
    ++done;
  };
  // The next item that needs converting, deciding the others on the way.
  const auto nextToConvert = [&]() -> std::optional<std::size_t> {
    while (next < items.size()) {
      const std::size_t i = next++;
      randoms[i] = UniformRandom(1, 99999);
      PrepareItem(run, items[i], commonOutput, i, randoms[i]);
      if (auto decided = decideBeforehand(i)) {
        finish(i, std::move(*decided));
        continue;
      }
      return i;
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
  // Each worker has up to two items to convert, so that it has the next one
  // at hand when it finishes one; items it has written and holds for their
  // commit do not count. An item retried after its worker ended goes alone to
  // a worker, so that it cannot take another item down with it.
  const auto retried = [&](std::size_t w) {
    return std::any_of(loads[w].assigned.begin(), loads[w].assigned.end(), [&](std::size_t i) { return attempts[i] > 1; });
  };
  const auto send = [&](std::size_t w, std::size_t i) {
    ++attempts[i];
    loads[w].assigned.push_back(i);
    SendRequest(workers[w], Request(i, randoms[i]));  // a worker that has gone is seen ending
  };
  const auto dispatch = [&] {
    for (const std::size_t depth : {1u, 2u}) {
      for (std::size_t w = 0; w < workers.size(); ++w) {
        const Load& load = loads[w];
        if (load.told || load.assigned.size() - load.held.size() >= depth || retried(w)) continue;
        if (!retries.empty()) {
          if (!load.assigned.empty()) continue;
          send(w, retries.front());
          retries.pop_front();
        } else if (const auto i = nextToConvert()) {
          send(w, *i);
        }
      }
    }
  };

  for (;;) {
    // Workers start as long as there is work for them.
    while (workers.size() < jobs && (!retries.empty() || next < items.size())) {
      auto worker = StartServingWorker([&](RequestChannel& channel) { ServeItems(state, items, commonOutput, channel); });
      if (!worker) break;
      workers.push_back(std::move(*worker));
      loads.emplace_back();
      dispatch();
    }
    dispatch();
    if (workers.empty()) {
      // No worker could be started: the items left fail.
      while (!retries.empty()) {
        finish(retries.front(), ItemResult{Result::Failed, "no process could be started for it"});
        retries.pop_front();
      }
      while (const auto i = nextToConvert()) finish(*i, ItemResult{Result::Failed, "no process could be started for it"});
      reportReady();
      break;
    }
    if (retries.empty() && next >= items.size()) {
      for (std::size_t w = 0; w < workers.size(); ++w) {
        if (!loads[w].told) EndRequests(workers[w]), loads[w].told = true;
      }
    }
    reportReady();
    WorkerEvent event = WaitForWorkers(workers);
    const std::size_t w = event.worker;
    if (event.answer) {
      const auto answer = ReadAnswer(*event.answer, items.size());
      Load& load = loads[w];
      const auto at = answer ? std::find(load.assigned.begin(), load.assigned.end(), answer->index) : load.assigned.end();
      if (at != load.assigned.end() && !answer->result) {
        load.held.insert(answer->index);
      } else if (at != load.assigned.end()) {
        load.held.erase(answer->index);
        load.assigned.erase(at);
        finish(answer->index, std::move(*answer->result));
      }
    } else {
      for (const std::size_t i : loads[w].assigned) {
        if (attempts[i] < 2) {
          retries.push_back(i);
        } else {
          finish(i, ItemResult{Result::Failed, "the conversion process ended unexpectedly"});
        }
      }
      workers.erase(workers.begin() + static_cast<std::ptrdiff_t>(w));
      loads.erase(loads.begin() + static_cast<std::ptrdiff_t>(w));
    }
    reportReady();
  }
  // The new names reach the disk once per folder rather than once per file.
  for (const std::string& folder : outputFolders) {
    if (FlushFolder(folder)) continue;
    ++summary.failed;
    ReportFileProblem(state, folder, std::string("its new files may not survive a power loss: ") + std::strerror(errno));
  }
  run.output = commonOutput;
  return summary;
}

}  // namespace kestrel
