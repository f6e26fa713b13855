#include "core/temp_file.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "core/exception.h"
#include "core/messages.h"
#include "core/os.h"

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
    RemoveFile(SlotPaths[i]);
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
  const fs::path path = PathOf(target);
  std::string name = TextOf(path.filename());
  // Cut where a character starts: the name is UTF-8.
  std::size_t keep = std::min(name.size(), kKeptNameBytes);
  while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
    --keep;
  name.resize(keep);
  return TextOf(path.parent_path() / PathOf(name + "." + RandomTail()));
}

bool SomethingAt(const std::string& path) {
  std::error_code error;
  return fs::symlink_status(PathOf(path), error).type() != fs::file_type::not_found;
}

void OnInterrupt(int signal) {
  RemoveArmedFiles();
  EndAsInterrupted(signal);
}

}  // namespace

TTempFile::TTempFile(const std::string& target, const std::string& shownName)
    : TargetPath(target), ShownName(shownName.empty() ? target : shownName) {
  std::string failure = FailureText(kMsgCreateFailed, ShownName, kMsgNoTemporaryName);
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    TempPath = TempNameBeside(target);
    // Armed before it exists, so that an interrupt can never leave it behind.
    Slot = ArmSlot(TempPath);
    if (Slot < 0) break;
    try {
      File.emplace(TempPath, kCreateNew, ShownName);
      return;
    } catch (const EFCreateError& e) {
      failure = e.Message;
      DisarmSlot(Slot);
      if (!SomethingAt(TempPath)) break;
    }
  }
  throw EFCreateError(failure);
}

TTempFile::~TTempFile() {
  if (Committed) return;
  File.reset();
  RemoveFile(TempPath.c_str());
  DisarmSlot(Slot);
}

void TTempFile::CopyPermissionsFrom(const std::string& path) {
  CopyPermissions(path, TempPath);
}

void TTempFile::Commit(TCommitMode mode, std::optional<std::time_t> modified) {
  if (modified) File->SetModificationTime(*modified);
  File->Close();
  // A device or a pipe at the target is never replaced by a file: whoever named it means to
  // write into it (a file system node such as /dev/null is shared by every program).
  std::error_code ignored;
  const fs::file_type there = fs::symlink_status(PathOf(TargetPath), ignored).type();
  if (there != fs::file_type::not_found && there != fs::file_type::regular &&
      there != fs::file_type::symlink && there != fs::file_type::directory)
    throw EFCreateError(FailureText(kMsgCreateFailed, ShownName, kMsgNotAFile));
  if (!RenameFile(TempPath, TargetPath, mode == TCommitMode::Replace)) {
    const int error = LastSystemError();
    const bool folder = fs::is_directory(fs::symlink_status(PathOf(TargetPath), ignored));
    throw EFCreateError(
        FailureText(kMsgCreateFailed, ShownName, folder ? kMsgIsFolder : SystemErrorText(error)));
  }
  Committed = true;
  DisarmSlot(Slot);
}

void RemoveTempFilesOnInterrupt() {
  static const bool installed = [] {
    InstallInterruptHandler(OnInterrupt);
    return true;
  }();
  (void)installed;
}

}  // namespace vo
