// File-system access: size queries, the program's own location, and saves that
// never leave a partial file behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

class RemoveOnSignal;

inline constexpr std::int64_t kPathMissing = -1;
inline constexpr std::int64_t kPathIsFolder = -2;

// Size in bytes of the file at path; kPathMissing when it does not exist,
// kPathIsFolder for a folder. Anything that is not a regular file (a FIFO, a
// device) reports size 0, so it is never taken as input.
std::int64_t FileSizeQuery(const std::string& path);

std::string CurrentDirectory();      // ends with "/"
std::string ProgramFilePath();       // full path of the running executable

// Writes all of data to fd, going on after partial writes and interruptions.
bool WriteAll(int fd, const void* data, std::size_t size);

// The bytes of a regular file; nothing for anything else (a folder, a FIFO, a
// device) or for a file longer than maxBytes, which is never read past the cap.
std::optional<std::vector<unsigned char>> ReadWholeFile(const std::string& path, std::size_t maxBytes);

// Owns a file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() { const int fd = fd_; fd_ = -1; return fd; }
  void Reset();
  // Closes now and reports whether the close succeeded.
  bool Close();

 private:
  int fd_ = -1;
};

// Writes a file that takes its name only once it is complete and on disk. The
// data goes to an unnamed file in the target's folder (or, where the file
// system has none, to a hidden temporary name that a signal ending the process
// removes); Commit makes it durable and then puts it in place of the target
// in one rename. Every write, the flushes and the close are checked; a failed
// or abandoned file leaves nothing behind, so the target is either the
// complete new file or whatever it was before. A replaced file's permissions
// carry over; a new file gets the usual ones (0666 less the umask).
class AtomicFile {
 public:
  // Nothing when the file cannot be made; errno then tells why.
  static std::optional<AtomicFile> Create(const std::string& target);

  AtomicFile(AtomicFile&&) noexcept;
  AtomicFile& operator=(AtomicFile&&) = delete;
  AtomicFile(const AtomicFile&) = delete;
  ~AtomicFile();

  bool Write(const void* data, std::size_t size);
  // Moves the write position (used by encoders that patch headers).
  bool Seek(std::int64_t offset, int whence);
  std::int64_t Tell() const { return position_; }
  // Makes the file durable and puts it in place, or, while commits are put
  // off (DeferCommits), starts its data on the way to the disk and hands the
  // file over to TakeDeferredCommits, true unless a write already failed.
  bool Commit();
  // What Commit does when nothing is put off. The folder's own flush may be
  // left to the caller (FlushFolder), who can then flush a folder once for
  // many files; the file itself is complete either way.
  bool CommitNow(bool flushFolder = true);
  // CommitNow(false) for many files at once: the data of all of them reaches
  // the disk through one `flush` (one flush of the disk rather than one per
  // file), and only then does each take its name. Should that flush fail,
  // each file is flushed alone, so that only a file whose data did not reach
  // the disk fails. True for each file that was committed.
  using GroupFlush = std::function<bool(const std::vector<int>& fds)>;
  static std::vector<bool> CommitTogether(const std::vector<AtomicFile*>& files, const GroupFlush& flush);
  bool Failed() const { return failed_; }
  // The errno of the first failed write, seek, flush, close or rename (0 when none said).
  int Error() const { return error_; }

 private:
  AtomicFile(UniqueFd folder, std::string name, std::string temp, UniqueFd fd);
  bool Flush();
  // Gives the finished file the target's name.
  bool Publish();
  // Publishes a file whose data is on disk and lets go of it.
  bool Name();
  // Marks the file failed, keeping the first errno; false.
  bool Fail();

  UniqueFd folder_;   // the target's folder, which every name below is relative to
  std::string name_;  // the target's file name
  std::string temp_;  // the named temporary file; empty for an unnamed one
  std::unique_ptr<RemoveOnSignal> tempGuard_;  // removes temp_ when a signal ends the process
  UniqueFd fd_;
  std::vector<unsigned char> buffer_;
  std::int64_t position_ = 0;     // logical write position
  std::int64_t flushed_end_ = 0;  // file offset where the buffer starts
  bool failed_ = false;
  bool committed_ = false;
  int error_ = 0;
};

// Puts off AtomicFile's commits in this process (or stops doing so). A run of
// many files commits each one later, when other work has hidden the wait for
// the disk: a commit right after the writes waits for all of them.
void DeferCommits(bool defer);
// The files whose commits were put off since the last call, in their order.
std::vector<AtomicFile> TakeDeferredCommits();

// The data and the sizes of the open files on disk together: one syncfs for
// each file system they are on, an fsync for a file alone on its own. False
// when a flush failed.
bool FlushTogether(const std::vector<int>& fds);

// Flushes a folder's entries to the disk (new names in it survive a power loss).
bool FlushFolder(const std::string& path);

// Makes AtomicFile use hidden temporary names as on a file system without
// unnamed files, so that the tests can reach that way too.
void UseNamedTemporaryFiles(bool named);

// Writes the whole buffer to path through AtomicFile.
bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size);

}  // namespace kestrel
