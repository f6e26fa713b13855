// Splitting a parameter string into arguments the way a Windows program's start-up code does,
// so that the POSIX shell stand-in hands a program the arguments it would get on Windows.
#pragma once

#include <string>
#include <vector>

namespace vo {

// Blanks and tabs separate arguments outside double quotes; 2n backslashes before a quote
// give n backslashes and the quote opens or closes quoting, 2n+1 give n and a literal quote;
// inside quotes, two quotes in a row give one literal quote; other backslashes are literal.
std::vector<std::string> SplitParameters(const std::string& parameters);

}  // namespace vo
