#include "kit_test.h"

#include <fcntl.h>
#include <iconv.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace kit {

namespace fs = std::filesystem;

std::string BinDir() { return KIT_BIN_DIR; }

namespace {

std::string Convert(const char* to, const char* from, const std::string& in) {
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1) throw std::runtime_error("iconv_open");
    std::string out(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = &out[0];
    size_t dstLeft = out.size();
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (r == (size_t)-1) throw std::runtime_error(std::string("cannot convert text from ") + from);
    out.resize(out.size() - dstLeft);
    return out;
}

struct Pipe {
    int fd[2];
    Pipe() {
        if (pipe2(fd, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    }
};


int SpawnProcess(const std::string& path, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env, int outFd, int errFd, const std::string& cwd) {
    std::vector<std::string> argStore{path};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    std::map<std::string, std::string> merged;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        size_t eq = kv.find('=');
        if (eq != std::string::npos) merged[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    merged.erase("W32_CMDLINE");
    for (auto& kv : env) merged[kv.first] = kv.second;
    std::vector<std::string> envStore;
    for (auto& kv : merged) envStore.push_back(kv.first + "=" + kv.second);
    std::vector<char*> envp;
    for (auto& e : envStore) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    pid_t pid;
    int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + path + ": " + strerror(rc));
    return pid;
}

int WaitPid(int pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            out.push_back(s[i]);
            continue;
        }
        char c = s[++i];
        switch (c) {
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
            unsigned v = std::stoul(s.substr(i + 1, 4), nullptr, 16);
            out.push_back((char)v);  // only control characters are escaped this way
            i += 4;
            break;
        }
        default: out.push_back(c);
        }
    }
    return out;
}

// Value of "key" in a flat JSON object of strings and numbers.
std::string JsonField(const std::string& line, const std::string& key) {
    std::string pat = "\"" + key + "\":";
    size_t p = line.find(pat);
    if (p == std::string::npos) return "";
    p += pat.size();
    if (line[p] == '"') {
        std::string raw;
        for (size_t i = p + 1; i < line.size(); ++i) {
            if (line[i] == '\\') {
                raw.push_back(line[i]);
                raw.push_back(line[++i]);
                continue;
            }
            if (line[i] == '"') break;
            raw.push_back(line[i]);
        }
        return Unescape(raw);
    }
    size_t e = line.find_first_of(",}", p);
    return line.substr(p, e - p);
}

}  // namespace

std::string ToCp932(const std::string& utf8) { return Convert("CP932", "UTF-8", utf8); }
std::string ToUtf8(const std::string& cp932) { return Convert("UTF-8", "CP932", cp932); }

std::string ReadHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

Running::Running(Running&& other) noexcept : pid_(other.pid_), outFd_(other.outFd_), out_(std::move(other.out_)) {
    other.pid_ = -1;
    other.outFd_ = -1;
}

Running::~Running() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        WaitPid(pid_);
    }
    if (outFd_ >= 0) close(outFd_);
}

bool Running::WaitForOutput(const std::string& text) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (out_.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        struct pollfd p = {outFd_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[512];
        ssize_t n = read(outFd_, buf, sizeof buf);
        if (n <= 0) return false;
        out_.append(buf, n);
    }
    return true;
}

int Running::Wait() {
    int code = WaitPid(pid_);
    pid_ = -1;
    return code;
}

std::vector<std::string> Log::Texts() const {
    std::vector<std::string> texts;
    for (auto& e : entries) texts.push_back(e.text);
    return texts;
}

int Log::Count(const std::string& text) const {
    int n = 0;
    for (auto& e : entries) n += e.text == text;
    return n;
}

Log ParseLog(const std::string& cp932) {
    Log log;
    log.raw = cp932;
    std::string text = ToUtf8(cp932);
    std::stringstream ss(text);
    std::string line, section;
    while (std::getline(ss, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (line[0] == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            log.sections.push_back(section);
            continue;
        }
        LogEntry e;
        e.section = section;
        size_t eq = line.find('=');
        e.key = line.substr(0, eq);
        e.value = eq == std::string::npos ? "" : line.substr(eq + 1);
        size_t close = e.value.find(']');
        size_t lineAt = e.value.find("(line:");
        if (e.value.size() && e.value[0] == '[' && close != std::string::npos && lineAt != std::string::npos) {
            e.level = e.value.substr(1, close - 1);
            e.module = e.value.substr(close + 1, lineAt - close - 1);
            size_t endLine = e.value.find(')', lineAt);
            e.line = std::stoi(e.value.substr(lineAt + 6, endLine - lineAt - 6));
            e.text = e.value.substr(endLine + 1);
            if (e.level == "警告") {
                size_t open = e.text.rfind('(');
                if (open != std::string::npos && e.text.back() == ')') {
                    e.hasCode = true;
                    e.code = std::stol(e.text.substr(open + 1, e.text.size() - open - 2));
                    e.text = e.text.substr(0, open);
                }
            }
        }
        log.entries.push_back(e);
    }
    return log;
}

Machine::Machine(bool fast, const std::string& clock) {
    char tmpl[] = "/tmp/kit-machine-XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
    dir_ = tmpl;
    fs::remove(dir_);
    std::vector<std::string> args{"init"};
    if (fast) args.push_back("--fast");
    if (!clock.empty()) {
        args.push_back("--clock");
        args.push_back(clock);
    }
    args.push_back(dir_);
    RunResult r = W32(args);
    if (r.exitCode != 0) throw std::runtime_error("w32 init failed: " + r.err);
}

Machine::~Machine() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

std::string Machine::Host(const std::string& windowsPath) const {
    if (windowsPath.size() < 2 || windowsPath[1] != ':') throw std::runtime_error("not a drive path: " + windowsPath);
    std::string host = dir_ + "/drives/" + std::string(1, (char)tolower(windowsPath[0]));
    std::string rest = windowsPath.substr(2);
    for (char& c : rest)
        if (c == '\\') c = '/';
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    return host + rest;
}

void Machine::ImportReg(const std::string& regText) {
    std::string file = dir_ + "/import.reg";
    std::ofstream(file, std::ios::binary) << regText;
    RunResult r = W32({"reg", "import", file});
    fs::remove(file);
    if (r.exitCode != 0) throw std::runtime_error("reg import failed: " + r.err);
}

std::string Machine::RegisterProduct(const std::string& location) {
    std::string escaped;
    for (char c : location) {
        if (c == '\\' || c == '"') escaped.push_back('\\');
        escaped.push_back(c);
    }
    ImportReg("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Nimbrel]\r\n"
              "\"InstallLocation\"=\"" + escaped + "\"\r\n");
    product_ = location + "\\Nimbrel";
    MakeDirs(product_);
    return product_;
}

RunResult Machine::Run(const std::string& program, const std::vector<std::string>& args,
                       const std::map<std::string, std::string>& env) const {
    std::map<std::string, std::string> all = env;
    all.emplace("W32_MACHINE", dir_);  // unless the test names another (or none)
    char outTemplate[] = "/tmp/kit-run-out-XXXXXX", errTemplate[] = "/tmp/kit-run-err-XXXXXX";
    int outTmp = mkstemp(outTemplate), errTmp = mkstemp(errTemplate);
    if (outTmp < 0 || errTmp < 0) throw std::runtime_error("mkstemp");
    close(outTmp);
    close(errTmp);
    std::string outFile = outTemplate, errFile = errTemplate;
    int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    auto start = std::chrono::steady_clock::now();
    std::string path = program.find('/') == std::string::npos ? BinDir() + "/" + program : program;
    // Programs start in C:\ of the machine; `w32` where the test runs.
    std::string cwd = program == "w32" ? "" : dir_ + "/drives/c";
    int pid = SpawnProcess(path, args, all, out, err, cwd);
    close(out);
    close(err);
    RunResult r;
    r.exitCode = WaitPid(pid);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.out = ReadHostFile(outFile);
    r.err = ReadHostFile(errFile);
    fs::remove(outFile);
    fs::remove(errFile);
    return r;
}

RunResult Machine::W32(const std::vector<std::string>& args) const { return Run("w32", args); }

Running Machine::Start(const std::string& program, const std::vector<std::string>& args) const {
    Pipe p;
    int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::string path = program.find('/') == std::string::npos ? BinDir() + "/" + program : program;
    int pid = SpawnProcess(path, args, {{"W32_MACHINE", dir_}}, p.fd[1], devnull, dir_ + "/drives/c");
    close(p.fd[1]);
    close(devnull);
    return Running(pid, p.fd[0]);
}

Log Machine::InstallLog() const { return ReadLog(product_ + "\\Install.log"); }

Log Machine::ReadLog(const std::string& windowsPath) const { return ParseLog(ReadHostFile(Host(windowsPath))); }

std::vector<Box> Machine::Boxes() const {
    std::vector<Box> boxes;
    RunResult r = W32({"boxes"});
    std::stringstream ss(r.out);
    std::string line;
    while (std::getline(ss, line)) {
        Box b;
        b.caption = JsonField(line, "caption");
        b.text = JsonField(line, "text");
        b.image = JsonField(line, "image");
        b.flags = (unsigned)std::stoul(JsonField(line, "flags"));
        b.pid = std::stoi(JsonField(line, "pid"));
        boxes.push_back(b);
    }
    return boxes;
}

std::vector<Started> Machine::Processes() const {
    std::vector<Started> started;
    std::stringstream ss(ReadHostFile(dir_ + "/journal.jsonl"));
    std::string line;
    while (std::getline(ss, line)) {
        if (line.find("\"kind\":\"process\"") == std::string::npos) continue;
        Started s;
        s.image = JsonField(line, "image");
        s.cmdline = JsonField(line, "cmdline");
        s.cwd = JsonField(line, "cwd");
        s.flags = (unsigned)std::stoul(JsonField(line, "flags"));
        std::string show = JsonField(line, "show");
        if (!show.empty()) s.show = std::stoi(show);
        started.push_back(s);
    }
    return started;
}

void Machine::WriteScript(const std::string& windowsPath, const std::string& body) const {
    WriteFile(windowsPath, body);
    fs::permissions(Host(windowsPath), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

void Machine::CopyIn(const std::string& hostPath, const std::string& windowsPath) const {
    fs::create_directories(fs::path(Host(windowsPath)).parent_path());
    fs::copy_file(hostPath, Host(windowsPath), fs::copy_options::overwrite_existing);
}

void Machine::WriteFile(const std::string& windowsPath, const std::string& content) const {
    std::string host = Host(windowsPath);
    fs::create_directories(fs::path(host).parent_path());
    std::ofstream(host, std::ios::binary) << content;
}

bool Machine::Exists(const std::string& windowsPath) const {
    struct stat st;
    return lstat(Host(windowsPath).c_str(), &st) == 0;
}

void Machine::MakeDirs(const std::string& windowsPath) const { fs::create_directories(Host(windowsPath)); }

namespace {
const char* const kMarkers[] = {"InstSystem.txt", "InstText.txt", "InstProgram.txt", "InstComplete.txt"};
}

void Machine::CreateMarkers() const {
    for (auto* m : kMarkers) WriteFile(product_ + "\\" + m, "marker");
}

std::vector<std::string> Machine::Markers() const {
    std::vector<std::string> present;
    for (auto* m : kMarkers)
        if (Exists(product_ + "\\" + m)) present.push_back(m);
    return present;
}

const char kFailureBoxText[] =
    "内部処理に失敗しました。インストールを中断します。\r\n詳細な内容はinstall.logに出力されます。";

bool FailureReported(const Machine& machine, std::string* why) {
    std::vector<std::string> markers = machine.Markers();
    std::vector<Box> boxes = machine.Boxes();
    if (!markers.empty()) *why = std::to_string(markers.size()) + " marker files left";
    else if (boxes.size() != 1) *why = std::to_string(boxes.size()) + " boxes shown";
    else if (boxes[0].text != kFailureBoxText) *why = "another box: " + boxes[0].text;
    else return true;
    return false;
}

bool WaitForLogText(const Machine& machine, const std::string& text) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (machine.InstallLog().Count(text) == 0) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        usleep(5000);
    }
    return true;
}

namespace {

Machine* g_shared = nullptr;

class SharedMachineEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        machine_ = std::make_unique<Machine>(true);
        setenv("W32_MACHINE", machine_->Dir().c_str(), 1);
        g_shared = machine_.get();
    }
    void TearDown() override {
        g_shared = nullptr;
        machine_.reset();
    }
private:
    std::unique_ptr<Machine> machine_;
};

}  // namespace

bool UseSharedMachine() {
    ::testing::AddGlobalTestEnvironment(new SharedMachineEnvironment);
    return true;
}

Machine& SharedMachine() {
    if (!g_shared) throw std::runtime_error("UseSharedMachine() was not called");
    return *g_shared;
}

}  // namespace kit
