// The worker's side of a batch: what the parent asks of a worker (an item
// and the random number drawn for it), what the worker answers, and the
// worker's own loop, which converts the items it is sent one after another.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "job/batch.h"
#include "model/app_state.h"
#include "platform/worker_process.h"

namespace kestrel {

enum class ItemOutcome { Converted, Failed, Skipped };

struct ItemResult {
  ItemOutcome outcome = ItemOutcome::Failed;
  std::string text;  // the output path, or why the file failed
};

std::string ItemRequest(std::size_t index, int random);

struct WorkerAnswer {
  std::size_t index = 0;
  std::optional<ItemResult> result;  // nothing: written, waiting for its commit
};

// A worker's answer about one of the `items` items; nothing when it is not one.
std::optional<WorkerAnswer> ReadWorkerAnswer(const std::string& answer, std::size_t items);

// Sets the run state for an item as a single-file run of it would have it.
void PrepareItem(RunState& run, const BatchItem& item, const std::string& commonOutput, std::size_t index,
                 int random);

// A worker's life: it converts the items the parent sends, one at a time,
// while its commit queue commits the outputs it has written, so that the
// wait for the disk is hidden behind work. It says when an item's output is
// written, and then how its commit went. Each file starts from the run state
// the worker had at its start, as a single-file run of it would.
void ServeBatchItems(AppState& state, const std::vector<BatchItem>& items, const std::string& commonOutput,
                     RequestChannel& channel);

}  // namespace kestrel
