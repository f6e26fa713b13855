// The error classes of the system. Each carries only a message and can tell its class name,
// which the loader's error report and the tool's error lines print.
#pragma once

#include <algorithm>
#include <cstddef>
#include <exception>
#include <string>
#include <utility>

namespace vo {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  virtual const char* ClassName() const noexcept { return "Exception"; }

  std::string Message;
};

// A class name as a template argument, so that each error class is a distinct type derived
// directly from Exception without a macro per class.
template <std::size_t N>
struct TClassName {
  constexpr TClassName(const char (&text)[N]) { std::copy_n(text, N, Text); }  // NOLINT
  char Text[N];
};

template <TClassName Name>
class ENamed final : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return Name.Text; }
};

using EInvalidHeader = ENamed<"EInvalidHeader">;
using EInvalidHeaderArchiveType = ENamed<"EInvalidHeaderArchiveType">;
using EUnrecognizedCompressionMethod = ENamed<"EUnrecognizedCompressionMethod">;
using EInvalidKey = ENamed<"EInvalidKey">;
using EBadChecksum = ENamed<"EBadChecksum">;
using EUnableToCompress = ENamed<"EUnableToCompress">;
using ELZHBadDecodeTable = ENamed<"ELZHBadDecodeTable">;
using ECancelled = ENamed<"ECancelled">;
using EFOpenError = ENamed<"EFOpenError">;
using EFCreateError = ENamed<"EFCreateError">;
using EReadError = ENamed<"EReadError">;
using EWriteError = ENamed<"EWriteError">;

}  // namespace vo
