#include "job/batch_worker.h"

#include <charconv>
#include <mutex>
#include <string_view>
#include <utility>

#include "job/commit_queue.h"
#include "job/pipeline.h"
#include "platform/folder_tree.h"
#include "platform/sandbox.h"

namespace kestrel {
namespace {

std::optional<std::uint64_t> ParseUnsigned(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// An answer names the item, then "1" and the output path, or "0" and the
// reason; "W" alone says that the item's output is written and waits for its
// commit, so that the worker is free for the next item.
std::string Answer(std::size_t index, bool converted, const std::string& text) {
  return std::to_string(index) + " " + (converted ? "1" : "0") + text;
}
std::string Written(std::size_t index) { return std::to_string(index) + " W"; }

// Converts one file; a saved file's commit is handed over, not done.
Outcome ConvertItem(AppState& state) {
  RunState& run = state.run;
  if (state.settings.IsOn(SettingId::KeepSubfolders) && !run.relativeSubfolder.empty()) {
    if (Outcome made = MakeFoldersBelow(run.output, run.relativeSubfolder); !made) return made;
  }
  return ConvertCurrentFile(state);
}

}  // namespace

std::string ItemRequest(std::size_t index, int random) { return std::to_string(index) + " " + std::to_string(random); }

std::optional<WorkerAnswer> ReadWorkerAnswer(const std::string& answer, std::size_t items) {
  const auto space = answer.find(' ');
  if (space == std::string::npos || space + 1 >= answer.size()) return std::nullopt;
  const auto index = ParseUnsigned(std::string_view(answer).substr(0, space));
  if (!index || *index >= items) return std::nullopt;
  const char kind = answer[space + 1];
  if (kind == 'W') return WorkerAnswer{static_cast<std::size_t>(*index), std::nullopt};
  return WorkerAnswer{static_cast<std::size_t>(*index),
                      ItemResult{kind == '1' ? ItemOutcome::Converted : ItemOutcome::Failed, answer.substr(space + 2)}};
}

void PrepareItem(RunState& run, const BatchItem& item, const std::string& commonOutput, std::size_t index,
                 int random) {
  run.currentInputPath = item.path;
  run.relativeSubfolder = item.subfolder;
  run.output = item.outputFolder.empty() ? commonOutput : item.outputFolder;
  run.sequenceNumber = static_cast<int>(index) + 1;
  run.randomNumber = random;
  run.outputPath.clear();
}

void ServeBatchItems(AppState& state, const std::vector<BatchItem>& items, const std::string& commonOutput,
                     RequestChannel& channel) {
  // What a conversion changes is the run's state; the settings stay as they are.
  const RunState fresh = state.run;
  std::mutex sending;
  const auto answer = [&](const std::string& text) {
    const std::lock_guard hold(sending);
    channel.Answer(text);  // a parent that has gone ends the requests too
  };
  // The decoders are forked from a copy of the worker made now, while it is
  // small and has one thread, rather than from the worker as it grows.
  const SandboxZygoteHold zygote;
  DeferCommits(true);
  CommitQueue commits(state.settings, [&](const Uncommitted& item, const std::string& failure) {
    answer(Answer(item.index, failure.empty(), failure.empty() ? item.output : failure));
  });
  while (const auto request = channel.Next()) {
    const auto space = request->find(' ');
    const std::string_view text(*request);
    const auto index = ParseUnsigned(text.substr(0, space));
    const auto random = space == std::string::npos ? std::nullopt : ParseUnsigned(text.substr(space + 1));
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

}  // namespace kestrel
