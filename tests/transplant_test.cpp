// Transplant end to end on a fresh machine: the kit's Transplant and
// Relabel and the stand-in Mirror beside each other in C:\Setup, a runtime
// registered under the JavaSoft key, the copy made and renamed to "JRE".
#include <gtest/gtest.h>

#include "kit_test.h"

namespace {

const char kSetup[] = "C:\\Setup";
const char kRuntime[] = "C:\\Program Files\\Java\\jre6";

std::string RegString(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

struct TransplantCase {
    const char* name;
    std::string version;   // the registered runtime version
    std::string javaHome;  // its "JavaHome"
    bool mirrorBeside;     // Mirror.exe lies beside Transplant (else only a planted one elsewhere)
    int exitCode;
    std::vector<std::string> texts;     // Transplant's own entries
    std::vector<std::string> commands;  // the command lines started
    std::vector<std::string> present, absent;
};

class TransplantTest : public ::testing::TestWithParam<TransplantCase> {
protected:
    void SetUp() override {
        machine.RegisterProduct();
        machine.CreateMarkers();
        for (const char* program : {"Transplant.exe", "Relabel.exe"})
            machine.CopyIn(kit::BinDir() + "/" + program, std::string(kSetup) + "\\" + program);
        machine.WriteFile(std::string(kRuntime) + "\\release", "JAVA_VERSION=\"1.6.0_15\"\n");
        machine.WriteFile(std::string(kRuntime) + "\\bin\\java.exe", "java");
    }
    kit::Machine machine;
};

TEST_P(TransplantTest, CopiesTheRegisteredRuntime) {
    const TransplantCase& c = GetParam();
    machine.ImportReg("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\JavaSoft\\Java Runtime Environment\\" + c.version +
                      "]\r\n\"JavaHome\"=\"" + RegString(c.javaHome) + "\"\r\n");
    // A Mirror.exe planted in the current folder and on PATH must never run.
    const std::string planted = "#!/bin/sh\necho planted > '" + machine.Host("C:\\planted.txt") + "'\n";
    machine.WriteScript("C:\\Mirror.exe", planted);
    machine.WriteScript("C:\\PathDir\\Mirror.exe", planted);
    if (c.mirrorBeside) machine.CopyIn(kit::BinDir() + "/standins/Mirror.exe", std::string(kSetup) + "\\Mirror.exe");

    kit::RunResult r = machine.Run(machine.Host(std::string(kSetup) + "\\Transplant.exe"), {"C:\\App"},
                                   {{"PATH", "C:\\PathDir;/usr/bin:/bin"}});
    EXPECT_EQ(c.exitCode, r.exitCode) << r.err;
    EXPECT_FALSE(machine.Exists("C:\\planted.txt"));

    std::vector<std::string> texts;
    for (auto& e : machine.InstallLog().entries)
        if (e.module == "C:\\Setup\\Transplant.exe" && e.text.rfind("ファイル", 0) != 0) texts.push_back(e.text);
    EXPECT_EQ(c.texts, texts);
    std::vector<std::string> commands;
    for (auto& s : machine.Processes()) {
        commands.push_back(s.cmdline);
        EXPECT_EQ(0, s.show);
        EXPECT_EQ(0u, s.flags);
    }
    EXPECT_EQ(c.commands, commands);
    for (auto& p : c.present) EXPECT_TRUE(machine.Exists(p)) << p;
    for (auto& p : c.absent) EXPECT_FALSE(machine.Exists(p)) << p;
    if (c.exitCode == 0) {
        EXPECT_TRUE(machine.Markers().empty());
    }
}

const std::vector<std::string> kBothRan = {"処理開始", "チェック対象パス(C:\\App)", "プロセスを起動します。",
                                           "プロセスを終了しました。", "プロセスを起動します。",
                                           "プロセスを終了しました。"};
const char kCopy[] = "\"C:\\Setup\\Mirror.exe\" \"C:\\Program Files\\Java\\jre6\" \"C:\\App\"";

INSTANTIATE_TEST_SUITE_P(
    Table, TransplantTest,
    ::testing::Values(
        TransplantCase{"copied_and_renamed",
                       "1.6.0_15",
                       kRuntime,
                       true,
                       1,
                       kBothRan,
                       {kCopy, "\"C:\\Setup\\Relabel.exe\" \"C:\\App\\jre6\" \"C:\\App\\JRE\""},
                       {"C:\\App\\JRE\\release", "C:\\App\\JRE\\bin\\java.exe"},
                       {"C:\\App\\jre6"}},
        TransplantCase{"no_entry_for_the_version",
                       "1.6.0_20",
                       kRuntime,
                       true,
                       0,
                       {"処理開始", "チェック対象パス(C:\\App)", "JREインストールパスの取得に失敗しました。(2)"},
                       {},
                       {},
                       {"C:\\App"}},
        // The rename then names the destination itself; Relabel refuses it.
        TransplantCase{"java_home_ending_in_backslash",
                       "1.6.0_15",
                       std::string(kRuntime) + "\\",
                       true,
                       1,
                       kBothRan,
                       {"\"C:\\Setup\\Mirror.exe\" \"C:\\Program Files\\Java\\jre6\\\" \"C:\\App\"",
                        "\"C:\\Setup\\Relabel.exe\" \"C:\\App\\\" \"C:\\App\\JRE\""},
                       {"C:\\App\\jre6\\release"},
                       {"C:\\App\\JRE"}},
        TransplantCase{"mirror_missing_beside_the_tool",
                       "1.6.0_15",
                       kRuntime,
                       false,
                       0,
                       {"処理開始", "チェック対象パス(C:\\App)", "プロセスを起動します。",
                        "プロセスの起動に失敗しました。"},
                       {},
                       {},
                       {"C:\\App"}}),
    [](const ::testing::TestParamInfo<TransplantCase>& info) { return std::string(info.param.name); });

}  // namespace
