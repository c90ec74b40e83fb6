// Install.log entries and the private-profile writer behind them, in-process
// on one accelerated machine shared by this test binary.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>

#include "common/frame.h"
#include "kit_test.h"

namespace {

const bool kSharedMachine = kit::UseSharedMachine();

// Points the frame's process-wide strings at a fresh product folder.
std::string UseProductFolder(const std::string& name, const std::string& module = "C:\\kit\\Tool.exe") {
    std::string folder = "C:\\Products\\" + name;
    kit::SharedMachine().MakeDirs(folder);
    snprintf(g_productFolder, MAX_PATH, "%s", folder.c_str());
    snprintf(g_modulePath, MAX_PATH, "%s", module.c_str());
    return folder;
}

kit::Log ReadInstallLog(const std::string& folder) { return kit::SharedMachine().ReadLog(folder + "\\Install.log"); }

struct LayoutCase {
    const char* name;
    const char* level;  // UTF-8
    std::string module;
    int line;
    DWORD lastError;
    std::string text;
    std::string expected;  // the value, UTF-8
};

class EntryLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(EntryLayoutTest, ValueIsByteForByte) {
    const LayoutCase& c = GetParam();
    std::string folder = UseProductFolder(std::string("layout_") + c.name, c.module);
    SetLastError(c.lastError);
    WriteInstallLog(kit::ToCp932(c.level).c_str(), kit::ToCp932(c.text).c_str(), c.line);
    kit::Log log = ReadInstallLog(folder);
    ASSERT_EQ(1u, log.entries.size());
    EXPECT_EQ(c.expected, log.entries[0].value);
    // The file itself holds CP932 lines ending in CR LF.
    EXPECT_NE(std::string::npos, log.raw.find(kit::ToCp932(c.expected) + "\r\n"));
}

const std::string kLongModule = "C:\\" + std::string(255, 'm');

INSTANTIATE_TEST_SUITE_P(
    Table, EntryLayoutTest,
    ::testing::Values(
        LayoutCase{"info", "情報", "C:\\kit\\Tool.exe", 7, 5, "処理開始", "[情報]C:\\kit\\Tool.exe(line:   7)処理開始"},
        LayoutCase{"warning_carries_code", "警告", "C:\\kit\\Tool.exe", 120, 32, "失敗",
                   "[警告]C:\\kit\\Tool.exe(line: 120)失敗(32)"},
        LayoutCase{"warning_code_zero", "警告", "C:\\kit\\Tool.exe", 1, 0, "x", "[警告]C:\\kit\\Tool.exe(line:   1)x(0)"},
        LayoutCase{"error_has_no_code", "エラー", "C:\\kit\\Tool.exe", 40, 5, "パス長がオーバーしています。",
                   "[エラー]C:\\kit\\Tool.exe(line:  40)パス長がオーバーしています。"},
        LayoutCase{"empty_module_path", "情報", "", 12, 0, "x", "[情報](line:  12)x"},
        LayoutCase{"five_digit_line", "情報", "C:\\a.exe", 12345, 0, "x", "[情報]C:\\a.exe(line:12345)x"},
        LayoutCase{"code_as_signed_decimal", "警告", "C:\\a.exe", 3, 0xFFFFFFFEu, "x", "[警告]C:\\a.exe(line:   3)x(-2)"},
        // Longer than the usual allowance: written whole, not cut.
        LayoutCase{"over_allowance_written_whole", "警告", kLongModule, 123456, 3000000000u, "end",
                   "[警告]" + kLongModule + "(line:123456)end(-1294967296)"}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

TEST(WriteInstallLog, EntriesOfOneProcessNeverShareAKey) {
    std::string folder = UseProductFolder("keys");
    for (int i = 0; i < 20; ++i) WriteInstallLog(kLevelInfo, "e", i);
    kit::Log log = ReadInstallLog(folder);
    ASSERT_EQ(20u, log.entries.size());
    std::set<std::string> keys;
    for (auto& e : log.entries) keys.insert(e.key);
    EXPECT_EQ(20u, keys.size());
    // In order: each key is at least 100 ms after the one before.
    for (size_t i = 1; i < log.entries.size(); ++i) EXPECT_EQ(log.entries[i].line, (int)i);
}

TEST(WriteInstallLog, CurrentDirectoryVariantWritesNothingWhenTheFolderIsGone) {
    std::string folder = UseProductFolder("cwd_variant");
    RequireCurrentDirectoryForLog();
    std::string gone = kit::SharedMachine().Host("C:\\gone");
    kit::SharedMachine().MakeDirs("C:\\gone");
    char previous[4096];
    ASSERT_NE(nullptr, getcwd(previous, sizeof previous));
    ASSERT_EQ(0, chdir(gone.c_str()));
    WriteInstallLog(kLevelInfo, "kept", 1);
    ASSERT_EQ(0, rmdir(gone.c_str()));  // the current folder disappears
    WriteInstallLog(kLevelInfo, "dropped", 2);
    ASSERT_EQ(0, chdir(previous));
    WriteInstallLog(kLevelInfo, "kept again", 3);
    EXPECT_EQ((std::vector<std::string>{"kept", "kept again"}), ReadInstallLog(folder).Texts());
}

// --- the private-profile writer -------------------------------------------

std::string WinFile(const std::string& name) { return "C:\\ini\\" + name; }

TEST(WritePrivateProfileString, WindowsSemantics) {
    kit::SharedMachine().MakeDirs("C:\\ini");
    std::string f = WinFile("a.ini");
    ASSERT_TRUE(WritePrivateProfileStringA("Day1", "k1", "v1", f.c_str()));  // creates the file
    ASSERT_TRUE(WritePrivateProfileStringA("Day2", "k1", "w1", f.c_str()));  // new section at the end
    ASSERT_TRUE(WritePrivateProfileStringA("day1", "k2", "v2", f.c_str()));  // section matched in any case
    ASSERT_TRUE(WritePrivateProfileStringA("DAY1", "K1", "v1b", f.c_str()));  // key replaced in place
    ASSERT_TRUE(WritePrivateProfileStringA(NULL, NULL, NULL, f.c_str()));    // flush
    EXPECT_EQ("[Day1]\r\nk1=v1b\r\nk2=v2\r\n[Day2]\r\nk1=w1\r\n", kit::ReadHostFile(kit::SharedMachine().Host(f)));
}

TEST(WritePrivateProfileString, FailsWithPathNotFoundWhenTheFolderIsMissing) {
    SetLastError(0);
    EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "v", "C:\\no such folder\\x.ini"));
    EXPECT_EQ((DWORD)ERROR_PATH_NOT_FOUND, GetLastError());
}

TEST(WritePrivateProfileString, DoubleByteKeysAreNotCaseFolded) {
    kit::SharedMachine().MakeDirs("C:\\ini");
    std::string f = WinFile("dbcs.ini");
    // "ア" is 0x83 0x41 and "ヂ" is 0x83 0x61 in CP932: their second bytes are 'A' and 'a'.
    std::string a = kit::ToCp932("ア"), b = kit::ToCp932("ヂ");
    ASSERT_EQ('A', a[1]);
    ASSERT_EQ('a', b[1]);
    WritePrivateProfileStringA("s", a.c_str(), "1", f.c_str());
    WritePrivateProfileStringA("s", b.c_str(), "2", f.c_str());
    EXPECT_EQ("[s]\r\n" + a + "=1\r\n" + b + "=2\r\n", kit::ReadHostFile(kit::SharedMachine().Host(f)));
}

TEST(WritePrivateProfileString, WritersInSeveralProcessesLoseNothing) {
    kit::SharedMachine().MakeDirs("C:\\ini");
    std::string f = WinFile("shared.ini");
    const int kProcesses = 4, kEntries = 40;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0; i < kEntries; ++i) {
                std::string key = "p" + std::to_string(p) + "_" + std::to_string(i);
                WritePrivateProfileStringA(i % 2 ? "odd" : "even", key.c_str(), "v", f.c_str());
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    kit::Log log = kit::SharedMachine().ReadLog(f);
    EXPECT_EQ((std::vector<std::string>{"even", "odd"}), log.sections);
    EXPECT_EQ((size_t)(kProcesses * kEntries), log.entries.size());
}

}  // namespace
