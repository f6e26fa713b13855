// The OS module's conversions of names: code pages and paths. A file of its own, so that the
// loader, which has no use for them, links none of it.
#include <memory>

#include "core/os.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace vo {

namespace {

constexpr unsigned kUtf8CodePage = 65001;
constexpr unsigned kLargestCodePage = 65535;

#ifdef _WIN32

std::optional<std::wstring> Widened(std::string_view text, unsigned codePage) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n);
  return wide;
}

// Never a best fit: a character without a form of its own in the code page fails the whole.
std::optional<std::string> Narrowed(const std::wstring& wide, unsigned codePage) {
  if (wide.empty()) return std::string();
  const bool utf8 = codePage == kUtf8CodePage;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* used = utf8 ? nullptr : &usedDefault;  // the UTF-8 conversion takes no default
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, used);
  if (n <= 0 || usedDefault) return std::nullopt;
  std::string text(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(codePage, flags, wide.data(), size, text.data(), n, nullptr, used);
  return text;
}

#else

std::string IconvName(unsigned codePage) {
  return codePage == kUtf8CodePage ? "UTF-8" : "CP" + std::to_string(codePage);
}

struct TIconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using TIconv = std::unique_ptr<void, TIconvCloser>;

TIconv OpenIconv(const std::string& to, const std::string& from) {
  const iconv_t cd = iconv_open(to.c_str(), from.c_str());
  return TIconv(cd == reinterpret_cast<iconv_t>(-1) ? nullptr : cd);
}

// Without //TRANSLIT glibc's iconv fails on a character that the target lacks, and a
// conversion that it counts as irreversible is refused as well.
std::optional<std::string> Converted(std::string_view text, const std::string& to,
                                     const std::string& from) {
  const TIconv cd = OpenIconv(to, from);
  if (!cd) return std::nullopt;
  // A byte of a code page is at most three bytes of UTF-8, and the other way round the text
  // only shrinks; a shift state's end may add a few.
  std::string out(text.size() * 3 + 8, '\0');
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  char* at = out.data();
  std::size_t outLeft = out.size();
  const auto cdOf = static_cast<iconv_t>(cd.get());
  if (iconv(cdOf, &in, &inLeft, &at, &outLeft) != 0 || inLeft != 0) return std::nullopt;
  if (iconv(cdOf, nullptr, nullptr, &at, &outLeft) == static_cast<std::size_t>(-1))
    return std::nullopt;
  out.resize(static_cast<std::size_t>(at - out.data()));
  return out;
}

#endif

// Every conversion goes between two code pages, UTF-8 being one of them.
std::optional<std::string> Recoded(std::string_view text, unsigned from, unsigned to) {
#ifdef _WIN32
  const auto wide = Widened(text, from);
  return wide ? Narrowed(*wide, to) : std::nullopt;
#else
  return Converted(text, IconvName(to), IconvName(from));
#endif
}

}  // namespace

bool CodePageKnown(unsigned codePage) {
  if (codePage == 0 || codePage > kLargestCodePage) return false;
#ifdef _WIN32
  return codePage == kUtf8CodePage || IsValidCodePage(codePage) != 0;
#else
  return OpenIconv(IconvName(codePage), "UTF-8") != nullptr;
#endif
}

std::optional<std::string> CodePageToUtf8(std::string_view text, unsigned codePage) {
  return Recoded(text, codePage, kUtf8CodePage);
}

std::optional<std::string> Utf8ToCodePage(std::string_view text, unsigned codePage) {
  return Recoded(text, kUtf8CodePage, codePage);
}

std::filesystem::path PathOf(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string TextOf(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace vo
