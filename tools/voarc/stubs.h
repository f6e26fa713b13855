// Which loader stub `voarc sfx` attaches its payload to.
#pragma once

#include <string>

namespace vo::voarc {

// CHOICE is a path, or one of the stub kinds "win32" (the default, for an empty CHOICE),
// "win64" and "posix", looked up from where this voarc runs: the share/voinstall folder of its
// install prefix, the folder it lies in, and the build tree it was built in.
std::string LocateStub(const std::string& choice);

}  // namespace vo::voarc
