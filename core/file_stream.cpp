#include "core/file_stream.h"

#include <algorithm>

#include "core/exception.h"
#include "core/messages.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace vo {

namespace {

constexpr intptr_t kClosed = -1;

bool Creates(TFileMode mode) {
  return mode == kCreate || mode == kCreateNew;
}

}  // namespace

TFileStream::TFileStream(const std::string& path, TFileMode mode) : Handle(kClosed) {
  Open(path, mode);
}

#ifdef _WIN32

namespace {
HANDLE AsHandle(intptr_t h) {
  return reinterpret_cast<HANDLE>(h);
}

int LastError() {
  return static_cast<int>(GetLastError());
}
}  // namespace

void TFileStream::Open(const std::string& path, TFileMode mode) {
  DWORD access = GENERIC_READ;
  DWORD share = 0;
  DWORD disposition = OPEN_EXISTING;
  if (mode == kOpenReadShared) share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  if (mode == kCreate) {
    access = GENERIC_READ | GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
  }
  if (mode == kOpenWriteExisting) access = GENERIC_WRITE;
  if (mode == kCreateNew) {
    access = GENERIC_READ | GENERIC_WRITE;
    disposition = CREATE_NEW;
    share = FILE_SHARE_DELETE;  // so that an interrupt can remove it while it is open
  }
  HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Describe(Creates(mode) ? TFailure::Create : TFailure::Open, path, LastError());
    if (Creates(mode)) throw EFCreateError(kMsgCannotCreate + path);
    throw EFOpenError(kMsgCannotOpen + path);
  }
  Handle = reinterpret_cast<intptr_t>(h);
}

TFileStream::~TFileStream() {
  if (Handle != kClosed) CloseHandle(AsHandle(Handle));
}

void TFileStream::Close() {
  if (Handle == kClosed) return;
  const BOOL ok = CloseHandle(AsHandle(Handle));
  const int error = LastError();
  Handle = kClosed;
  if (ok) return;
  Describe(TFailure::Write, {}, error);
  throw EWriteError(kMsgStreamWrite);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    DWORD got = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
    if (!ReadFile(AsHandle(Handle), static_cast<char*>(buffer) + done, ask, &got, nullptr)) {
      Describe(TFailure::Read, {}, LastError());
      break;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    DWORD put = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
    if (!WriteFile(AsHandle(Handle), static_cast<const char*>(buffer) + done, ask, &put, nullptr) ||
        put == 0) {
      Describe(TFailure::Write, {}, put == 0 ? static_cast<int>(ERROR_DISK_FULL) : LastError());
      break;
    }
    done += put;
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  static constexpr DWORD kMethod[] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
  LARGE_INTEGER distance;
  LARGE_INTEGER result;
  distance.QuadPart = offset;
  if (!SetFilePointerEx(AsHandle(Handle), distance, &result, kMethod[static_cast<int>(origin)]))
    return -1;
  return result.QuadPart;
}

int64_t TFileStream::Size() {
  LARGE_INTEGER size;
  return GetFileSizeEx(AsHandle(Handle), &size) ? size.QuadPart : -1;
}

void TFileStream::SetModificationTime(std::time_t when) {
  // FILETIME counts 100-nanosecond steps from 1601, time_t seconds from 1970.
  constexpr int64_t kStepsPerSecond = 10'000'000;
  constexpr int64_t kStepsFrom1601To1970 = 116'444'736'000'000'000;
  const int64_t steps = static_cast<int64_t>(when) * kStepsPerSecond + kStepsFrom1601To1970;
  FILETIME written;
  written.dwLowDateTime = static_cast<DWORD>(steps);
  written.dwHighDateTime = static_cast<DWORD>(steps >> 32);
  if (SetFileTime(AsHandle(Handle), nullptr, nullptr, &written)) return;
  Describe(TFailure::SetTime, {}, LastError());
  throw EWriteError(kMsgStreamWrite);
}

#else

void TFileStream::Open(const std::string& path, TFileMode mode) {
  int flags = O_RDONLY | O_CLOEXEC;
  if (mode == kCreate) flags = O_RDWR | O_CREAT | O_CLOEXEC;
  // O_EXCL refuses any entry at the name, a link included.
  if (mode == kCreateNew) flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  if (mode == kOpenWriteExisting) flags = O_WRONLY | O_NOCTTY | O_CLOEXEC;
  int error = 0;
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) {
    error = errno;
  } else {
    Handle = fd;
    struct stat info {};
    // A folder cannot be opened as a file on Windows either.
    const bool isFile = ::fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
    // Only an exclusive opener takes the exclusive lock; shared openers take a shared one so
    // that they are refused while an exclusive opener holds the file, and refuse it in turn.
    const int lock = (mode == kOpenReadShared ? LOCK_SH : LOCK_EX) | LOCK_NB;
    // Truncate only once the lock is held, so a file that another holds exclusively is kept.
    if (!isFile) {
      error = EISDIR;
    } else if (::flock(fd, lock) != 0 || (mode == kCreate && ::ftruncate(fd, 0) != 0)) {
      error = errno;
    }
    if (error == 0) return;
    ::close(fd);
    Handle = kClosed;
  }
  Describe(Creates(mode) ? TFailure::Create : TFailure::Open, path, error);
  if (Creates(mode)) throw EFCreateError(kMsgCannotCreate + path);
  throw EFOpenError(kMsgCannotOpen + path);
}

TFileStream::~TFileStream() {
  if (Handle != kClosed) ::close(static_cast<int>(Handle));
}

void TFileStream::Close() {
  if (Handle == kClosed) return;
  const int rc = ::close(static_cast<int>(Handle));
  const int error = errno;
  Handle = kClosed;
  if (rc == 0) return;
  Describe(TFailure::Write, {}, error);
  throw EWriteError(kMsgStreamWrite);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got =
        ::read(static_cast<int>(Handle), static_cast<char*>(buffer) + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Describe(TFailure::Read, {}, errno);
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t put =
        ::write(static_cast<int>(Handle), static_cast<const char*>(buffer) + done, count - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      Describe(TFailure::Write, {}, put == 0 ? ENOSPC : errno);
      break;
    }
    done += static_cast<std::size_t>(put);
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  return ::lseek(static_cast<int>(Handle), offset, kWhence[static_cast<int>(origin)]);
}

int64_t TFileStream::Size() {
  struct stat info {};
  return ::fstat(static_cast<int>(Handle), &info) == 0 ? info.st_size : -1;
}

void TFileStream::SetModificationTime(std::time_t when) {
  const struct timespec times[2] = {{0, UTIME_OMIT}, {when, 0}};
  if (::futimens(static_cast<int>(Handle), times) == 0) return;
  Describe(TFailure::SetTime, {}, errno);
  throw EWriteError(kMsgStreamWrite);
}

#endif

}  // namespace vo
