// CreateProcessA on the machine: how a command line finds its program, what
// the started program receives, and that a command line never leaks to a
// grandchild. Driven through `w32 run`, which starts a command line as
// CreateProcessA does.
#include <gtest/gtest.h>

#include "kit_test.h"

namespace {

// A host program that prints its tag and its arguments, each in brackets.
std::string TagScript(const std::string& tag) {
    return "#!/bin/sh\nprintf '%s' '" + tag + "'\nfor a; do printf ' [%s]' \"$a\"; done\necho\n";
}

struct ResolveCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> programs;  // Windows path -> tag
    std::string commandLine;
    std::string output;  // "" when nothing may start
};

class ResolveTest : public ::testing::TestWithParam<ResolveCase> {
protected:
    kit::Machine machine;
};

TEST_P(ResolveTest, RunsTheProgramWindowsWould) {
    const ResolveCase& c = GetParam();
    for (auto& p : c.programs) machine.WriteScript(p.first, TagScript(p.second));
    kit::RunResult r = machine.Run("w32", {"run", c.commandLine}, {{"PATH", "C:\\PathDir;/usr/bin:/bin"}});
    if (c.output.empty()) {
        EXPECT_NE(0, r.exitCode);
        EXPECT_NE(std::string::npos, r.err.find("error 2")) << r.err;
        EXPECT_TRUE(machine.Processes().empty());
        return;
    }
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(c.output + "\n", r.out);
}

const std::pair<std::string, std::string> kPlanted{"C:\\Program.exe", "planted"};
const std::pair<std::string, std::string> kTool{"C:\\Program Files\\App\\tool.exe", "tool"};

INSTANTIATE_TEST_SUITE_P(
    Table, ResolveTest,
    ::testing::Values(
        ResolveCase{"quoted_first_token_is_exact", {kPlanted, kTool}, "\"C:\\Program Files\\App\\tool.exe\" a", "tool [a]"},
        ResolveCase{"unquoted_tries_blank_by_blank", {kPlanted, kTool}, "C:\\Program Files\\App\\tool.exe a",
                    "planted [Files\\App\\tool.exe] [a]"},
        ResolveCase{"unquoted_reaches_the_whole_path", {kTool}, "C:\\Program Files\\App\\tool.exe a",
                    "tool [Files\\App\\tool.exe] [a]"},
        ResolveCase{"exe_appended", {{"C:\\Tools\\hello.exe", "hello"}}, "C:\\Tools\\hello x", "hello [x]"},
        ResolveCase{"exe_appended_to_quoted_name", {{"C:\\Tools\\hello.exe", "hello"}}, "\"C:\\Tools\\hello\" x",
                    "hello [x]"},
        ResolveCase{"current_folder_before_system32",
                    {{"C:\\probe.exe", "cwd"}, {"C:\\Windows\\System32\\probe.exe", "sys"}}, "probe", "cwd"},
        ResolveCase{"system32_before_windows",
                    {{"C:\\Windows\\System32\\probe.exe", "sys"}, {"C:\\Windows\\probe.exe", "win"}}, "probe", "sys"},
        ResolveCase{"windows_before_path", {{"C:\\Windows\\probe.exe", "win"}, {"C:\\PathDir\\probe.exe", "path"}},
                    "probe", "win"},
        ResolveCase{"path_last", {{"C:\\PathDir\\probe.exe", "path"}}, "probe", "path"},
        ResolveCase{"arguments_split_by_c_runtime_rules", {{"C:\\Tools\\args.exe", "args"}},
                    "C:\\Tools\\args \"a b\" c\\\"d e\\\\\"f g\" \"h\"\"i\"", "args [a b] [c\"d] [e\\f g] [h\"i]"},
        ResolveCase{"missing_program", {}, "C:\\Tools\\none a", ""}),
    [](const ::testing::TestParamInfo<ResolveCase>& info) { return std::string(info.param.name); });

class KitProgramTest : public ::testing::Test {
protected:
    void SetUp() override { machine.CopyIn(kit::BinDir() + "/standins/Probe.exe", "C:\\Tools\\Probe.exe"); }
    kit::Machine machine;
};

TEST_F(KitProgramTest, ReceivesTheTailUnchanged) {
    kit::RunResult r = machine.Run("w32", {"run", "\"C:\\Tools\\Probe.exe\"  \"a  b\"  c\\\"d "});
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("probe [\"a  b\"  c\\\"d ] in C:\\\n", r.out);
}

TEST_F(KitProgramTest, BatchFileRunsAsCmdExeAndItsChildGetsItsOwnCommandLine) {
    // Probe starts the batch file, which starts Probe again from the host:
    // the grandchild must see its own arguments, not the command line that
    // was meant for its grandparent.
    std::string probeHost = machine.Host("C:\\Tools\\Probe.exe");
    machine.WriteFile("C:\\s.bat", "printf 'image %s\\n' \"$(cat /proc/$$/comm)\"\nexec '" + probeHost + "' y\n");
    kit::RunResult r = machine.Run("w32", {"run", "C:\\Tools\\Probe.exe x"}, {{"PROBE_RUN", "C:\\s.bat"}});
    EXPECT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ("probe [x] in C:\\\nimage cmd.exe\nprobe [y] in C:\\\n", r.out);
    auto started = machine.Processes();
    ASSERT_EQ(2u, started.size());
    EXPECT_EQ("C:\\s.bat", started[1].image);
}

}  // namespace
