// A platform for the loader's tests: it records every call in order and answers as it is told.
// Files that the algorithms open themselves live in a real scratch folder.
#pragma once

#include <cstdio>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "loader/platform.h"

namespace vo::test {

struct TMessageCall {
  std::string Text;
  std::string Caption;
  uint32_t Style;
};

class TFakePlatform final : public TPlatform {
 public:
  std::string ModuleFileName() override { return Answer("ModuleFileName", ModulePath); }
  std::string WindowsDirectory() override { return Answer("WindowsDirectory", WindowsText); }
  std::string SystemDirectory() override { return Answer("SystemDirectory", SystemText); }
  std::string TempPath() override { return Answer("TempPath", TempText); }
  std::string TempFileName(const std::string& folder, const std::string& prefix,
                           uint32_t unique) override {
    Record("TempFileName " + folder + " " + prefix + " " + std::to_string(unique));
    if (!TempFileWorks) return {};
    const std::string name = folder + prefix + std::to_string(++TempCount) + ".tmp";
    if (std::FILE* f = std::fopen(name.c_str(), "wb")) std::fclose(f);
    return name;
  }
  bool FileExists(const std::string& path) override {
    Record("FileExists " + path);
    return Existing.count(path) != 0;
  }
  bool RemoveFile(const std::string& path) override {
    Record("RemoveFile " + path);
    return std::remove(path.c_str()) == 0;
  }
  void ShowMessage(const std::string& text, const std::string& caption, uint32_t style) override {
    Record("ShowMessage");
    Messages.push_back({text, caption, style});
  }
  void Beep(uint32_t type) override { Record("Beep " + std::to_string(type)); }
  bool ExecuteShell(TShellExecuteRecord& record) override {
    Record("ExecuteShell");
    Launches.push_back(record);
    record.hProcess = ShellWorks ? kProcess : 0;
    return ShellWorks;
  }
  uint32_t WaitForProcess(TProcessHandle process, uint32_t milliseconds) override {
    Record("WaitForProcess " + std::to_string(process) + " " + std::to_string(milliseconds));
    if (WaitResults.empty()) return kWaitObject0;
    const uint32_t r = WaitResults.front();
    WaitResults.pop_front();
    return r;
  }
  void PeekQueue() override { Record("PeekQueue"); }
  bool ProcessExitCode(TProcessHandle process, uint32_t& code) override {
    Record("ProcessExitCode " + std::to_string(process));
    code = ExitCode;
    return ExitCodeWorks;
  }
  bool TerminateProcess(TProcessHandle process, uint32_t code) override {
    Record("TerminateProcess " + std::to_string(process) + " " + std::to_string(code));
    return true;
  }
  uint32_t TickCount() override { return Answer("TickCount", 0u); }
  void Sleep(uint32_t milliseconds) override { Record("Sleep " + std::to_string(milliseconds)); }
  char PathDelimiter() const override { return Delimiter; }
  bool EndsFolderPart(char c) const override { return FolderEnds.find(c) != std::string::npos; }

  int Count(const std::string& call) const {
    int n = 0;
    for (const std::string& c : Calls) n += c.rfind(call, 0) == 0 ? 1 : 0;
    return n;
  }

  static constexpr TProcessHandle kProcess = 42;

  std::vector<std::string> Calls;
  std::vector<TMessageCall> Messages;
  std::vector<TShellExecuteRecord> Launches;
  std::string ModulePath;
  std::string WindowsText;
  std::string SystemText;
  std::string TempText;
  std::set<std::string> Existing;  // the paths FileExists finds
  bool TempFileWorks = true;
  int TempCount = 0;
  bool ShellWorks = true;
  std::deque<uint32_t> WaitResults;  // answered in turn, then kWaitObject0
  bool ExitCodeWorks = true;
  uint32_t ExitCode = 0;
  char Delimiter = '/';
  std::string FolderEnds = "/";

 private:
  void Record(std::string call) { Calls.push_back(std::move(call)); }
  template <typename T>
  T Answer(const char* call, T value) {
    Record(call);
    return value;
  }
};

}  // namespace vo::test
