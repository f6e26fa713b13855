// The OS module's words for the system's errors. A file of its own, so that the loader, whose
// file streams keep their fixed words, links little beside it.
#include <cstring>

#include "core/os.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

namespace vo {

namespace {

// The system's words end in a period and, on Windows, a line end: a message goes on after them.
std::string Trimmed(std::string text) {
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text;
}

}  // namespace

int LastSystemError() {
#ifdef _WIN32
  return static_cast<int>(GetLastError());
#else
  return errno;
#endif
}

std::string SystemErrorText(int error) {
#ifdef _WIN32
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string words =
      n != 0 && text != nullptr ? std::string(text, n) : "system error " + std::to_string(error);
  LocalFree(text);
  return Trimmed(words);
#else
  return RuntimeErrorText(error);
#endif
}

std::string RuntimeErrorText(int error) {
  // The tool reports from one thread at a time; the writer's threads hand their errors over.
  return Trimmed(std::strerror(error));  // NOLINT(concurrency-mt-unsafe)
}

}  // namespace vo
