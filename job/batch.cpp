#include "job/batch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "engine/decode/signature.h"
#include "job/batch_worker.h"
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

// One batch, as the parent runs it: it decides what it can without
// converting, hands the other items to its workers and reports every result
// in input order.
class BatchRun {
 public:
  BatchRun(AppState& state, const std::vector<BatchItem>& items, const BatchOptions& options)
      : state_(state),
        items_(items),
        options_(options),
        debug_(state.run.inputGiven && state.run.runMode == "DEBUG"),
        predictable_(!NameDependsOnImage(state.settings)),
        commonOutput_(state.run.output),
        jobs_(static_cast<std::size_t>(options.jobs < 1 ? 1 : options.jobs)),
        results_(items.size()),
        randoms_(items.size()),
        attempts_(items.size()),
        progress_(options.progress, static_cast<int>(items.size())) {
    summary_.total = static_cast<int>(items.size());
  }

  BatchSummary Run();

 private:
  // Per worker: the items sent to it and not answered, those of them it has
  // written and holds for their commit, and whether it was told that no item follows.
  struct Load {
    std::deque<std::size_t> assigned;
    std::set<std::size_t> held;
    bool told = false;
  };

  std::optional<ItemResult> DecideBeforehand(std::size_t i);
  std::optional<std::size_t> NextToConvert();
  void Finish(std::size_t i, ItemResult result);
  void Report(std::size_t i, const ItemResult& result);
  void ReportReady();
  bool HoldsRetry(std::size_t w) const;
  void Send(std::size_t w, std::size_t i);
  void Dispatch();
  void StartWorkers();
  void Hear(const WorkerEvent& event);
  void FailTheRest(const std::string& why);
  void FlushOutputFolders();

  AppState& state_;
  const std::vector<BatchItem>& items_;
  const BatchOptions& options_;
  const bool debug_;
  const bool predictable_;
  const std::string commonOutput_;
  const std::size_t jobs_;
  BatchSummary summary_;
  std::vector<std::optional<ItemResult>> results_;
  std::vector<int> randoms_;
  std::vector<int> attempts_;
  std::map<std::string, std::size_t> claimed_;  // predicted output path -> the item that has it
  std::set<std::string> outputFolders_;         // flushed once each at the end
  std::vector<ServingWorker> workers_;
  std::vector<Load> loads_;                     // one for each worker
  std::deque<std::size_t> retries_;             // items whose worker ended before answering
  Progress progress_;
  std::size_t next_ = 0;
  std::size_t reported_ = 0;
  int done_ = 0;
};

// A result known without converting: a taken output name, or an output that is up to date.
std::optional<ItemResult> BatchRun::DecideBeforehand(std::size_t i) {
  if (!predictable_) return std::nullopt;
  const std::string output = BuildOutputPath(state_);
  if (output.empty()) return std::nullopt;
  const auto [at, fresh] = claimed_.emplace(output, i);
  if (!fresh) {
    return ItemResult{ItemOutcome::Failed, "its output " + QuotedFileName(output) + " would replace the output of " + QuotedFileName(items_[at->second].path)};
  }
  if (options_.update) {
    const auto inputTime = ModificationTimeNs(items_[i].path);
    const auto outputTime = ModificationTimeNs(output);
    if (inputTime && outputTime && *outputTime >= *inputTime) return ItemResult{ItemOutcome::Skipped, output};
  }
  return std::nullopt;
}

// The next item that needs converting, deciding the others on the way.
std::optional<std::size_t> BatchRun::NextToConvert() {
  while (next_ < items_.size()) {
    const std::size_t i = next_++;
    randoms_[i] = UniformRandom(1, 99999);
    PrepareItem(state_.run, items_[i], commonOutput_, i, randoms_[i]);
    if (auto decided = DecideBeforehand(i)) {
      Finish(i, std::move(*decided));
      continue;
    }
    return i;
  }
  return std::nullopt;
}

void BatchRun::Finish(std::size_t i, ItemResult result) {
  if (result.outcome == ItemOutcome::Converted) outputFolders_.insert(FolderPart(result.text));
  results_[i] = std::move(result);
  ++done_;
}

void BatchRun::Report(std::size_t i, const ItemResult& result) {
  const std::string& path = items_[i].path;
  if (debug_) {
    state_.print("Processing: " + QuotedFileName(path));
    state_.print("File Format: " + DetectFileSignature(path));
  }
  switch (result.outcome) {
    case ItemOutcome::Converted:
      ++summary_.converted;
      if (debug_) state_.print("[OK] Saving As: " + QuotedFileName(result.text));
      break;
    case ItemOutcome::Skipped:
      ++summary_.skipped;
      if (debug_) state_.print("[SKIPPED] Up to date: " + QuotedFileName(result.text));
      break;
    case ItemOutcome::Failed:
      ++summary_.failed;
      if (debug_) state_.print("[ERROR] Unable to convert the file!");
      ReportFileProblem(state_, path, result.text);
      break;
  }
}

void BatchRun::ReportReady() {
  bool any = false;
  while (reported_ < items_.size() && results_[reported_]) {
    if (!any) progress_.Clear();
    any = true;
    Report(reported_, *results_[reported_]);
    ++reported_;
  }
  progress_.Update(done_, summary_.failed);
}

bool BatchRun::HoldsRetry(std::size_t w) const {
  const auto& assigned = loads_[w].assigned;
  return std::any_of(assigned.begin(), assigned.end(), [&](std::size_t i) { return attempts_[i] > 1; });
}

void BatchRun::Send(std::size_t w, std::size_t i) {
  ++attempts_[i];
  loads_[w].assigned.push_back(i);
  SendRequest(workers_[w], ItemRequest(i, randoms_[i]));  // a worker that has gone is seen ending
}

// Each worker has up to two items to convert, so that it has the next one at
// hand when it finishes one; items it has written and holds for their commit
// do not count. An item retried after its worker ended goes alone to a
// worker, so that it cannot take another item down with it.
void BatchRun::Dispatch() {
  for (const std::size_t depth : {1u, 2u}) {
    for (std::size_t w = 0; w < workers_.size(); ++w) {
      const Load& load = loads_[w];
      if (load.told || load.assigned.size() - load.held.size() >= depth || HoldsRetry(w)) continue;
      if (!retries_.empty()) {
        if (!load.assigned.empty()) continue;
        Send(w, retries_.front());
        retries_.pop_front();
      } else if (const auto i = NextToConvert()) {
        Send(w, *i);
      }
    }
  }
  // Nothing left to send: the workers end once they have answered.
  if (retries_.empty() && next_ >= items_.size()) {
    for (std::size_t w = 0; w < workers_.size(); ++w) {
      if (!loads_[w].told) EndRequests(workers_[w]), loads_[w].told = true;
    }
  }
}

// Workers start as long as there is work for them.
void BatchRun::StartWorkers() {
  while (workers_.size() < jobs_ && (!retries_.empty() || next_ < items_.size())) {
    auto worker = StartServingWorker(
        [this](RequestChannel& channel) { ServeBatchItems(state_, items_, commonOutput_, channel); });
    if (!worker) return;
    workers_.push_back(std::move(*worker));
    loads_.emplace_back();
    Dispatch();
  }
}

void BatchRun::Hear(const WorkerEvent& event) {
  const std::size_t w = event.worker;
  Load& load = loads_[w];
  if (!event.answer) {
    // The worker has ended: what it had not answered for is converted again, once.
    for (const std::size_t i : load.assigned) {
      if (attempts_[i] < 2) {
        retries_.push_back(i);
      } else {
        Finish(i, ItemResult{ItemOutcome::Failed, "the conversion process ended unexpectedly"});
      }
    }
    workers_.erase(workers_.begin() + static_cast<std::ptrdiff_t>(w));
    loads_.erase(loads_.begin() + static_cast<std::ptrdiff_t>(w));
    return;
  }
  auto answer = ReadWorkerAnswer(*event.answer, items_.size());
  const auto at = answer ? std::find(load.assigned.begin(), load.assigned.end(), answer->index) : load.assigned.end();
  if (at == load.assigned.end()) return;
  if (!answer->result) {
    load.held.insert(answer->index);
    return;
  }
  load.held.erase(answer->index);
  load.assigned.erase(at);
  Finish(answer->index, std::move(*answer->result));
}

void BatchRun::FailTheRest(const std::string& why) {
  for (; !retries_.empty(); retries_.pop_front()) Finish(retries_.front(), ItemResult{ItemOutcome::Failed, why});
  while (const auto i = NextToConvert()) Finish(*i, ItemResult{ItemOutcome::Failed, why});
}

// The new names reach the disk once per folder rather than once per file.
void BatchRun::FlushOutputFolders() {
  for (const std::string& folder : outputFolders_) {
    if (FlushFolder(folder)) continue;
    ++summary_.failed;
    ReportFileProblem(state_, folder, std::string("its new files may not survive a power loss: ") + std::strerror(errno));
  }
}

BatchSummary BatchRun::Run() {
  for (;;) {
    StartWorkers();
    Dispatch();
    ReportReady();
    if (workers_.empty()) break;
    Hear(WaitForWorkers(workers_));
  }
  // Nothing is left unless no worker could be started.
  FailTheRest("no process could be started for it");
  ReportReady();
  FlushOutputFolders();
  state_.run.output = commonOutput_;
  return summary_;
}

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
  return BatchRun(state, items, options).Run();
}

}  // namespace kestrel
