#include "core/temp_file.h"

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "core/exception.h"
#include "core/messages.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace vo {

namespace {

namespace fs = std::filesystem;

// Attempts at a fresh name: another entry under a random 64-bit name means someone planted
// it, and a planted name is never opened, so a few attempts are plenty.
constexpr int kNameAttempts = 8;
// The longest part of the target's name kept in the temporary name, so that the random tail
// still fits in the longest name a folder takes (255 bytes).
constexpr std::size_t kKeptNameBytes = 200;

// Files to remove on an interrupt. The handler may run at any moment on any thread, so it
// reads only these fixed arrays and atomic states, and calls only async-signal-safe functions.
// Enough slots for every spool file of the writer's widest run and the archive itself.
constexpr int kSlots = 1024;
constexpr std::size_t kMaxPath = 4096;
enum TSlotState : int { kFree, kClaimed, kArmed };
std::array<std::atomic<int>, kSlots> SlotStates{};
char SlotPaths[kSlots][kMaxPath];
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the states lock-free");

// Arms a slot for path: from now on an interrupt removes whatever is at path. -1 when no slot
// is free or the path is too long to be kept.
int ArmSlot(const std::string& path) {
  if (path.size() >= kMaxPath) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!SlotStates[i].compare_exchange_strong(expected, kClaimed)) continue;
    std::memcpy(SlotPaths[i], path.c_str(), path.size() + 1);
    SlotStates[i].store(kArmed);
    return i;
  }
  return -1;
}

void DisarmSlot(int slot) {
  if (slot >= 0) SlotStates[slot].store(kFree);
}

void RemoveArmedFiles() {
  for (int i = 0; i < kSlots; ++i) {
    if (SlotStates[i].load() != kArmed) continue;
#ifdef _WIN32
    DeleteFileA(SlotPaths[i]);
#else
    ::unlink(SlotPaths[i]);
#endif
  }
}

std::string RandomTail() {
  uint64_t bits = 0;
  try {
    std::random_device device;
    bits = (uint64_t{device()} << 32) ^ device();
  } catch (const std::exception&) {
    // No source of randomness: the name is predictable, but it is still created exclusively.
  }
  bits ^= static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  char tail[17];
  std::snprintf(tail, sizeof tail, "%016llx", static_cast<unsigned long long>(bits));
  return tail;
}

std::string TempNameBeside(const std::string& target) {
  const fs::path path(target);
  const std::string name = path.filename().string().substr(0, kKeptNameBytes);
  return (path.parent_path() / (name + "." + RandomTail())).string();
}

bool SomethingAt(const std::string& path) {
  std::error_code error;
  return fs::symlink_status(path, error).type() != fs::file_type::not_found;
}

bool RemoveFile(const std::string& path) {
#ifdef _WIN32
  return DeleteFileA(path.c_str()) != 0;
#else
  return ::unlink(path.c_str()) == 0;
#endif
}

bool RenameFile(const std::string& from, const std::string& to, TCommitMode mode) {
#ifdef _WIN32
  const DWORD flags = mode == TCommitMode::Replace ? MOVEFILE_REPLACE_EXISTING : 0;
  return MoveFileExA(from.c_str(), to.c_str(), flags) != 0;
#else
  // rename() replaces a file or a link at the target, never a folder, and never follows a link.
  if (mode == TCommitMode::Replace) return ::rename(from.c_str(), to.c_str()) == 0;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a hard link also refuses an existing target.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
#endif
}

#ifndef _WIN32
void OnInterrupt(int signal) {
  RemoveArmedFiles();
  // The handler was reset to the default on entry: the signal, raised again, ends the process
  // as it would have without the handler, once this one returns.
  std::raise(signal);
}
#else
void OnInterrupt(int signal) {
  RemoveArmedFiles();
  std::_Exit(128 + signal);
}
#endif

}  // namespace

TTempFile::TTempFile(const std::string& target) : TargetPath(target) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    TempPath = TempNameBeside(target);
    // Armed before it exists, so that an interrupt can never leave it behind.
    Slot = ArmSlot(TempPath);
    if (Slot < 0) break;
    try {
      File.emplace(TempPath, kCreateNew);
      return;
    } catch (const EFCreateError&) {
      DisarmSlot(Slot);
      if (!SomethingAt(TempPath)) break;
    }
  }
  throw EFCreateError(kMsgCannotCreate + target);
}

TTempFile::~TTempFile() {
  if (Committed) return;
  File.reset();
  RemoveFile(TempPath);
  DisarmSlot(Slot);
}

void TTempFile::CopyPermissionsFrom(const std::string& path) {
#ifndef _WIN32
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) ::chmod(TempPath.c_str(), info.st_mode & 07777);
#else
  (void)path;
#endif
}

void TTempFile::Commit(TCommitMode mode) {
  File->Close();
  if (!RenameFile(TempPath, TargetPath, mode)) throw EFCreateError(kMsgCannotCreate + TargetPath);
  Committed = true;
  DisarmSlot(Slot);
}

void RemoveTempFilesOnInterrupt() {
  static const bool installed = [] {
#ifdef _WIN32
    for (int signal : {SIGINT, SIGTERM, SIGBREAK}) std::signal(signal, OnInterrupt);
#else
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigfillset(&action.sa_mask);  // one interrupt at a time
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
#endif
    return true;
  }();
  (void)installed;
}

}  // namespace vo
