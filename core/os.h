// What the core asks of the operating system, in one place beside the file stream: the
// standard streams, the terminal, local time, and the file operations and interrupt handling
// of temporary files. Only this module and the file stream include the system's headers.
#pragma once

#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

namespace vo {

// Sets standard input or output up for archive bytes: binary mode, and once per process,
// also when threads race to it, a buffer large enough to save most of the system calls.
void PrepareStandardStream(std::FILE* file);

// Whether standard error goes to a terminal, where progress may be drawn.
bool StandardErrorIsTerminal();

// The local time of a moment, or nothing when the system cannot tell it.
std::optional<std::tm> LocalTime(std::time_t when);

// Removes the file at path; async-signal-safe, for the interrupt handler.
bool RemoveFile(const char* path);

// Renames a file onto to, replacing a file or a link there when replace is set and refusing
// anything there otherwise; a folder is never replaced, a link never followed.
bool RenameFile(const std::string& from, const std::string& to, bool replace);

// Gives the file at to the permission bits of the file at from (nothing on Windows).
void CopyPermissions(const std::string& from, const std::string& to);

// Has the allocator give blocks of 1 MB and more back to the system as soon as they are freed,
// rather than keep them for later allocations of the thread that made them: threads that take
// turns holding large buffers then hold no more than those in use. Nothing where the allocator
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
