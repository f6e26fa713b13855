// Setup.exe links the C++ runtime statically. The runtime's own versions of the functions
// below bring in its error classes with their string copies and the symbol demangler, well
// over a third of the program's size, for faults that the loader's bounded sizes never raise.
// These keep the faults as exceptions, which the run reports like any other error.
#include <cstdlib>
#include <exception>
#include <new>

namespace {

// A fault of the C++ runtime, reported with the operation that raised it.
class TRuntimeFault final : public std::exception {
 public:
  explicit TRuntimeFault(const char* what) : What(what) {}
  const char* what() const noexcept override { return What; }

 private:
  const char* What;
};

}  // namespace

namespace std {

void __throw_bad_alloc() {
  throw bad_alloc();
}
void __throw_bad_function_call() {
  throw TRuntimeFault("bad function call");
}
void __throw_length_error(const char* what) {
  throw TRuntimeFault(what);
}
void __throw_logic_error(const char* what) {
  throw TRuntimeFault(what);
}
void __throw_out_of_range_fmt(const char* format, ...) {
  throw TRuntimeFault(format);
}

}  // namespace std

namespace __gnu_cxx {

// An exception that escapes the run's handlers ends the program at once; a program without a
// console has nowhere to print the demangled name of its class.
void __verbose_terminate_handler() {
  std::abort();
}

}  // namespace __gnu_cxx
