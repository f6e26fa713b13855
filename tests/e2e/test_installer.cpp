// A stand-in installer for the loader's end-to-end tests. It writes its arguments, one to a
// line after a line with their count, to the file named by VOINSTALL_RECORD (else beside
// itself, with ".record" appended to its path), and exits with the code in VOINSTALL_EXIT_CODE
// (else 0).
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  const char* named = std::getenv("VOINSTALL_RECORD");
  const std::string record =
      named != nullptr && *named != '\0' ? named : std::string(argv[0]) + ".record";
  if (std::FILE* file = std::fopen(record.c_str(), "wb")) {
    std::fprintf(file, "%d\n", argc - 1);
    for (int i = 1; i < argc; ++i) std::fprintf(file, "%s\n", argv[i]);
    std::fclose(file);
  }
  const char* code = std::getenv("VOINSTALL_EXIT_CODE");
  return code != nullptr ? static_cast<int>(std::strtol(code, nullptr, 0)) : 0;
}
