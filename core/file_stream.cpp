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

[[noreturn]] void RaiseOpenFailure(const std::string& path, TFileMode mode) {
  if (mode == kCreate || mode == kCreateNew) throw EFCreateError(kMsgCannotCreate + path);
  throw EFOpenError(kMsgCannotOpen + path);
}
}  // namespace

#ifdef _WIN32

namespace {
HANDLE AsHandle(intptr_t h) {
  return reinterpret_cast<HANDLE>(h);
}
}  // namespace

TFileStream::TFileStream(const std::string& path, TFileMode mode) : Handle(kClosed) {
  DWORD access = GENERIC_READ;
  DWORD share = 0;
  DWORD disposition = OPEN_EXISTING;
  if (mode == kOpenReadShared) share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  if (mode == kCreate) {
    access = GENERIC_READ | GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
  }
  if (mode == kCreateNew) {
    access = GENERIC_READ | GENERIC_WRITE;
    disposition = CREATE_NEW;
    share = FILE_SHARE_DELETE;  // so that an interrupt can remove it while it is open
  }
  HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) RaiseOpenFailure(path, mode);
  Handle = reinterpret_cast<intptr_t>(h);
}

TFileStream::~TFileStream() {
  if (Handle != kClosed) CloseHandle(AsHandle(Handle));
}

void TFileStream::Close() {
  if (Handle == kClosed) return;
  const BOOL ok = CloseHandle(AsHandle(Handle));
  Handle = kClosed;
  if (!ok) throw EWriteError(kMsgStreamWrite);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    DWORD got = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
    if (!ReadFile(AsHandle(Handle), static_cast<char*>(buffer) + done, ask, &got, nullptr) ||
        got == 0)
      break;
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
        put == 0)
      break;
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

#else

TFileStream::TFileStream(const std::string& path, TFileMode mode) : Handle(kClosed) {
  int flags = O_RDONLY | O_CLOEXEC;
  if (mode == kCreate) flags = O_RDWR | O_CREAT | O_CLOEXEC;
  // O_EXCL refuses any entry at the name, a link included.
  if (mode == kCreateNew) flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) RaiseOpenFailure(path, mode);
  Handle = fd;
  struct stat info {};
  // A folder cannot be opened as a file on Windows either.
  const bool isFile = ::fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
  // Only an exclusive opener takes the exclusive lock; shared openers take a shared one so
  // that they are refused while an exclusive opener holds the file, and refuse it in turn.
  const int lock = (mode == kOpenReadShared ? LOCK_SH : LOCK_EX) | LOCK_NB;
  // Truncate only once the lock is held, so a file that another holds exclusively is kept.
  if (!isFile || ::flock(fd, lock) != 0 || (mode == kCreate && ::ftruncate(fd, 0) != 0)) {
    ::close(fd);
    Handle = kClosed;
    RaiseOpenFailure(path, mode);
  }
}

TFileStream::~TFileStream() {
  if (Handle != kClosed) ::close(static_cast<int>(Handle));
}

void TFileStream::Close() {
  if (Handle == kClosed) return;
  const int rc = ::close(static_cast<int>(Handle));
  Handle = kClosed;
  if (rc != 0) throw EWriteError(kMsgStreamWrite);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got =
        ::read(static_cast<int>(Handle), static_cast<char*>(buffer) + done, count - done);
    if (got < 0 && errno == EINTR) continue;
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
    if (put <= 0) break;
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

#endif

}  // namespace vo
