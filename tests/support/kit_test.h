// Test support: a fresh emulated machine per test, running the kit's real
// programs on it and reading back what they left (Install.log, boxes, files).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kit {

std::string BinDir();
std::string ToCp932(const std::string& utf8);
std::string ToUtf8(const std::string& cp932);

struct RunResult {
    int exitCode = -1;
    std::string out;  // standard output
    std::string err;  // standard error
    double seconds = 0;
};

// A program running in the background (started with Machine::Start).
class Running {
public:
    Running(int pid, int outFd) : pid_(pid), outFd_(outFd) {}
    Running(Running&& other) noexcept;
    ~Running();
    // Reads standard output until it holds `text` (or the program ends).
    bool WaitForOutput(const std::string& text);
    int Wait();
private:
    int pid_ = -1;
    int outFd_ = -1;
    std::string out_;
};

// One line of an INI log: the section and key and the value split into the
// parts of the entry layout "[level]module(line:NNNN)text(code)". All text is
// UTF-8.
struct LogEntry {
    std::string section;
    std::string key;
    std::string value;   // the whole value
    std::string level;   // 情報, 警告, エラー
    std::string module;
    int line = 0;
    std::string text;    // the message, without a warning's "(code)"
    bool hasCode = false;
    long code = 0;
};

struct Log {
    std::string raw;                  // the file's bytes (CP932)
    std::vector<std::string> sections;  // in file order
    std::vector<LogEntry> entries;    // in file order
    std::vector<std::string> Texts() const;  // the entries' texts
    int Count(const std::string& text) const;
};
Log ParseLog(const std::string& cp932);

// A process started with CreateProcessA, as the journal recorded it.
struct Started {
    std::string image, cmdline, cwd;  // UTF-8 Windows paths and text
    unsigned flags = 0;
    int show = -1;  // the show state when STARTF_USESHOWWINDOW was given
};

struct Box {
    std::string caption, text, image;
    unsigned flags = 0;
    int pid = 0;
};

class Machine {
public:
    explicit Machine(bool fast = true, const std::string& clock = "");
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    const std::string& Dir() const { return dir_; }
    // Host path of a Windows path on drive C: (UTF-8, "C:\...").
    std::string Host(const std::string& windowsPath) const;

    void ImportReg(const std::string& regText);
    // Registers the product at `location` and creates its product folder
    // "<location>\Nimbrel". Returns that folder's Windows path.
    std::string RegisterProduct(const std::string& location = "C:\\Program Files\\Tessaly");
    std::string ProductFolder() const { return product_; }

    // Runs <bin>/<program> with the arguments (UTF-8, converted to CP932 by
    // the program's start-up) and waits for it.
    RunResult Run(const std::string& program, const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env = {}) const;
    // Runs `w32` on this machine.
    RunResult W32(const std::vector<std::string>& args) const;
    Running Start(const std::string& program, const std::vector<std::string>& args) const;

    Log InstallLog() const;                      // <product folder>\Install.log
    Log ReadLog(const std::string& windowsPath) const;
    std::vector<Box> Boxes() const;
    std::vector<Started> Processes() const;

    // Writes an executable host script (e.g. "#!/bin/sh ...") at a Windows path.
    void WriteScript(const std::string& windowsPath, const std::string& body) const;
    // Copies a host file (a program, keeping its mode) to a Windows path.
    void CopyIn(const std::string& hostPath, const std::string& windowsPath) const;

    void WriteFile(const std::string& windowsPath, const std::string& content) const;
    bool Exists(const std::string& windowsPath) const;
    void MakeDirs(const std::string& windowsPath) const;
    // Creates the four marker files in the product folder.
    void CreateMarkers() const;
    std::vector<std::string> Markers() const;  // those still present

private:
    std::string dir_;
    std::string product_;
};

// The tools' failure box text (UTF-8).
extern const char kFailureBoxText[];
// Whether a tool's failure was reported to the engine and the user: the
// marker files are gone and the failure box is the one box shown.
bool FailureReported(const Machine& machine, std::string* why);
// Waits up to 30 s until the install log holds an entry with this text.
bool WaitForLogText(const Machine& machine, const std::string& text);

// In-process tests of the layer share one accelerated machine per test
// binary, named by W32_MACHINE before any test runs. Call UseSharedMachine
// from a namespace-scope initialiser; SharedMachine() is valid in tests.
bool UseSharedMachine();
Machine& SharedMachine();

// Bytes of a file on the host ("" when missing).
std::string ReadHostFile(const std::string& path);

}  // namespace kit
