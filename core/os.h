// What the core asks of the operating system, in one place beside the file stream: the
// standard streams, the terminal, local time, the system's words for its errors, code pages,
// file identities, and the file operations and interrupt handling of temporary files. Only
// this module and the file stream include the system's headers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vo {

// Sets standard input or output up for archive bytes: binary mode, and once per process,
// also when threads race to it, a buffer large enough to save most of the system calls.
void PrepareStandardStream(std::FILE* file);

// Sets the terminal up for the tool's text, which is UTF-8 (on Windows the console's code
// page; nothing elsewhere).
void PrepareTextOutput();

// Whether the standard stream file goes to or comes from a terminal.
bool IsTerminal(std::FILE* file);
// Whether the standard stream file is a folder, as `< folder` makes standard input.
bool IsFolder(std::FILE* file);

// The local time of a moment, or nothing when the system cannot tell it.
std::optional<std::tm> LocalTime(std::time_t when);
// The moment that local date and time fields name (tm_isdst -1: as the zone has it then), or
// nothing when the system cannot tell it.
std::optional<std::time_t> MomentOfLocalTime(std::tm local);

// The error of the last system call that failed on this thread (errno, or GetLastError on
// Windows), and the system's words for an error (strerror, or FormatMessage), without a final
// period or line end.
int LastSystemError();
std::string SystemErrorText(int error);
// The C library's words for an errno value, which its stream functions set on every system.
std::string RuntimeErrorText(int error);

// Windows code pages (1252, 1250, 932, 65001 for UTF-8, ...), in which entry names are bytes,
// against UTF-8, the tool's own text. Converted by the system: iconv on POSIX, the system's
// own tables on Windows; never a best fit. Nothing when a byte has no character in the code
// page, a character no form in it, or the text is no UTF-8.
bool CodePageKnown(unsigned codePage);
std::optional<std::string> CodePageToUtf8(std::string_view text, unsigned codePage);
std::optional<std::string> Utf8ToCodePage(std::string_view text, unsigned codePage);

// Paths as the tool holds them, UTF-8 text, and std::filesystem's paths, whose narrow strings
// are in another code page on Windows.
std::filesystem::path PathOf(std::string_view text);
std::string TextOf(const std::filesystem::path& path);

// Which file a name leads to, links followed: equal for two names of one file.
struct TFileIdentity {
  uint64_t Device = 0;
  uint64_t Index = 0;
  bool operator==(const TFileIdentity&) const = default;
};
std::optional<TFileIdentity> IdentityOfFile(const std::string& path);
std::optional<TFileIdentity> IdentityOfStandardOutput();

// Removes the file at path; async-signal-safe, for the interrupt handler.
bool RemoveFile(const char* path);

// Renames a file onto to, replacing a file or a link there when replace is set and refusing
// anything there otherwise; a folder is never replaced, a link never followed. On failure
// LastSystemError tells why.
bool RenameFile(const std::string& from, const std::string& to, bool replace);

// Gives the file at to the permission bits of the file at from (nothing on Windows).
void CopyPermissions(const std::string& from, const std::string& to);

// Has the allocator give blocks of 1 MB and more back to the system as soon as they are freed,
// rather than keep them for later allocations of the thread that made them: threads that take
// turns holding large buffers then hold no more than those in use. Smaller freed blocks stay in
// the heap up to that size, for the next ones to take without faulting. Nothing where the allocator
// has no such setting. In a file of its own (os_heap.cpp), which a program that never calls it
// does not link.
void ReturnLargeBlocksWhenFreed();

// Calls handler, at most one at a time, on SIGINT, SIGTERM and SIGHUP (on Windows: Ctrl+C,
// Ctrl+Break and SIGTERM). The handler ends with EndAsInterrupted.
void InstallInterruptHandler(void (*handler)(int signal));
// The last call of the handler: the process ends as the signal would have ended it without a
// handler (on POSIX once the handler returns), and a shell sees the exit code 128 + signal.
void EndAsInterrupted(int signal);

}  // namespace vo
