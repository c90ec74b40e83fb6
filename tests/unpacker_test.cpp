// Unpacker on a fresh machine: the real ZipDecomp on the host's Java runtime,
// and a scripted java.exe for the outputs that the class itself never gives.
#include <gtest/gtest.h>

#include <cstdint>

#include "kit_test.h"

namespace {

const char kFailureBox[] =
    "内部処理に失敗しました。インストールを中断します。\r\n詳細な内容はinstall.logに出力されます。";

uint32_t Crc32(const std::string& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void Put(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back((char)(value >> (8 * i)));
}

// A zip archive of stored (uncompressed) files.
std::string MakeZip(const std::vector<std::pair<std::string, std::string>>& files) {
    std::string zip, central;
    for (auto& f : files) {
        uint32_t offset = (uint32_t)zip.size(), crc = Crc32(f.second), size = (uint32_t)f.second.size();
        Put(zip, 0x04034b50, 4);
        Put(zip, 20, 2), Put(zip, 0, 2), Put(zip, 0, 2), Put(zip, 0, 2), Put(zip, 0, 2);
        Put(zip, crc, 4), Put(zip, size, 4), Put(zip, size, 4);
        Put(zip, (uint32_t)f.first.size(), 2), Put(zip, 0, 2);
        zip += f.first + f.second;
        Put(central, 0x02014b50, 4);
        Put(central, 20, 2), Put(central, 20, 2), Put(central, 0, 2), Put(central, 0, 2), Put(central, 0, 2);
        Put(central, 0, 2), Put(central, crc, 4), Put(central, size, 4), Put(central, size, 4);
        Put(central, (uint32_t)f.first.size(), 2), Put(central, 0, 2), Put(central, 0, 2), Put(central, 0, 2);
        Put(central, 0, 2), Put(central, 0, 4), Put(central, offset, 4);
        central += f.first;
    }
    uint32_t centralOffset = (uint32_t)zip.size();
    zip += central;
    Put(zip, 0x06054b50, 4), Put(zip, 0, 2), Put(zip, 0, 2);
    Put(zip, (uint32_t)files.size(), 2), Put(zip, (uint32_t)files.size(), 2);
    Put(zip, (uint32_t)central.size(), 4), Put(zip, centralOffset, 4), Put(zip, 0, 2);
    return zip;
}

class UnpackerTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine.RegisterProduct();
        machine.CreateMarkers();
        machine.ImportReg("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                          "Nimbrel]\r\n\"JRE_HOME\"=\"C:\\\\Program Files\\\\Tessaly\\\\JRE\"\r\n");
    }
    // The Java launcher that runs the host's Java, and the class in the
    // folder the tool is started in.
    void InstallJava() {
        machine.CopyIn(kit::BinDir() + "/standins/java.exe", kJava);
        machine.CopyIn(kit::BinDir() + "/standins/classes/ZipDecomp.class", kClassFolder + "\\ZipDecomp.class");
    }
    // Runs the tool in the class folder, as the installer engine does.
    kit::RunResult Unpack(const std::string& commandLine) {
        machine.MakeDirs(kClassFolder);
        std::string program = "Z:" + kit::BinDir() + "/Unpacker.exe";
        for (char& ch : program)
            if (ch == '/') ch = '\\';
        return machine.Run("w32", {"run", "--cwd", kClassFolder, "\"" + program + "\" " + commandLine});
    }
    std::vector<std::string> Texts() { return machine.InstallLog().Texts(); }
    const std::string kClassFolder = "C:\\Setup Files";
    const std::string kJava = "C:\\Program Files\\Tessaly\\JRE\\bin\\java.exe";
    kit::Machine machine;
};

TEST_F(UnpackerTest, ExtractsARealArchive) {
    InstallJava();
    machine.WriteFile("C:\\Media\\data set.zip", MakeZip({{"conf/app.ini", "x=1\r\n"}, {"readme.txt", "hello"}}));
    const std::string args = "\"C:\\Media\\data set.zip\" \"C:\\Program Files\\Tessaly\\Nimbrel\\data\"";
    kit::RunResult r = Unpack(args);
    EXPECT_EQ(1, r.exitCode) << r.err;
    EXPECT_EQ("x=1\r\n", kit::ReadHostFile(machine.Host("C:\\Program Files\\Tessaly\\Nimbrel\\data\\conf\\app.ini")));
    EXPECT_EQ("hello", kit::ReadHostFile(machine.Host("C:\\Program Files\\Tessaly\\Nimbrel\\data\\readme.txt")));
    const std::string command =
        "\"C:\\Program Files\\Tessaly\\JRE\\bin\\java\" -classpath \"C:\\Setup Files\" ZipDecomp " + args;
    EXPECT_EQ((std::vector<std::string>{"処理開始", "チェック対象パス(" + args + ")",
                                        "JRE_HOME(C:\\Program Files\\Tessaly\\JRE)", "実行コマンドライン(" + command + ")",
                                        "プロセスを起動します。", "プロセスを終了しました。", "終了コード:0",
                                        "解凍に成功しました。(" + args + ")"}),
              Texts());
    auto started = machine.Processes();  // the tool itself, then Java
    ASSERT_EQ(2u, started.size());
    EXPECT_EQ(command, started[1].cmdline);
    EXPECT_EQ("C:\\Windows\\System32", started[1].cwd);
    EXPECT_EQ(0, started[1].show);
    EXPECT_TRUE(machine.Boxes().empty());
    EXPECT_EQ(4u, machine.Markers().size());
}

TEST_F(UnpackerTest, BrokenArchiveShowsTheExtractionBoxWithTheJavaExitCode) {
    InstallJava();
    machine.WriteFile("C:\\Media\\broken.zip", "PK\x03\x04 this is no archive");
    kit::RunResult r = Unpack("C:\\Media\\broken.zip C:\\Out");
    EXPECT_EQ(1, r.exitCode) << r.err;
    auto texts = Texts();
    ASSERT_GE(texts.size(), 8u);
    EXPECT_EQ("終了コード:1", texts[6]);
    EXPECT_EQ("解凍に失敗しました。(C:\\Media\\broken.zip C:\\Out)", texts[7]);
    auto boxes = machine.Boxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ("[C:\\Media\\broken.zip C:\\Out]\r\nファイルの解凍に失敗しました。(終了コード:1)\r\n"
              "バックグラウンドで起動中のアプリケーションを終了した上で再度実行してください。",
              boxes[0].text);
    EXPECT_EQ(kFailureBox, boxes[1].text);
    EXPECT_TRUE(machine.Markers().empty());
}

// What a scripted java.exe prints, and what the tool makes of it.
struct OutputCase {
    const char* name;
    std::string script;    // shell commands that write the output
    int exitCode;          // the tool's
    std::string lastText;  // the tool's verdict entry
    int boxes;             // 0, 1 (failure box) or 2 (extraction box, then failure box)
};

class UnpackerOutputTest : public UnpackerTest, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(UnpackerOutputTest, JudgesTheWholeOutput) {
    const OutputCase& c = GetParam();
    machine.WriteScript(kJava, "#!/bin/sh\n" + c.script + "\n");
    kit::RunResult r = Unpack("a.zip out");
    ASSERT_LT(r.seconds, 20.0);
    EXPECT_EQ(c.exitCode, r.exitCode) << r.err;
    // The captured text goes into the log as it came; the log file's own
    // line breaks then split the entry, so only its first line is compared.
    std::string firstLine = c.lastText.substr(0, c.lastText.find_first_of("\r\n"));
    EXPECT_NE(std::string::npos, machine.InstallLog().raw.find(kit::ToCp932(firstLine))) << firstLine;
    auto boxes = machine.Boxes();
    ASSERT_EQ((size_t)c.boxes, boxes.size());
    if (c.boxes) {
        EXPECT_EQ(kFailureBox, boxes.back().text);
    }
    if (c.boxes == 2) {
        EXPECT_NE(std::string::npos, boxes[0].text.find("(終了コード:0)"));
    }
    EXPECT_EQ(c.boxes ? 0u : 4u, machine.Markers().size());
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnpackerOutputTest,
    ::testing::Values(
        OutputCase{"success_whatever_the_exit_code", "printf 'Success\\r\\n'; exit 3", 1,
                   "解凍に成功しました。(a.zip out)", 0},
        OutputCase{"error_with_exit_code_zero", "printf 'Error\\r\\n'; exit 0", 1, "解凍に失敗しました。(a.zip out)", 2},
        OutputCase{"word_without_cr", "printf 'Success\\n'", 1, "解凍の成否が不明。(a.zip out)(Success\n)", 1},
        OutputCase{"other_letter_case", "printf 'success\\r\\n'", 1, "解凍の成否が不明。(a.zip out)(success\r\n)", 1},
        OutputCase{"warning_after_the_word", "printf 'Success\\r\\n'; printf 'W\\r\\n' >&2", 1,
                   "解凍の成否が不明。(a.zip out)(Success\r\nW\r\n)", 1},
        OutputCase{"no_output", "exit 0", 0, "標準出力に読みだす情報がありません。", 1},
        OutputCase{"hundred_kilobytes_before_the_word",
                   "head -c 102400 /dev/zero | tr '\\0' 'x'; printf 'Success\\r\\n'", 1,
                   "解凍の成否が不明。(a.zip out)(" + std::string(1023, 'x') + ")", 1}),
    [](const ::testing::TestParamInfo<OutputCase>& info) { return std::string(info.param.name); });

TEST_F(UnpackerTest, MissingJreHomeStartsNothing) {
    machine.ImportReg("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                      "Nimbrel]\r\n\"JRE_HOME\"=-\r\n");
    InstallJava();
    kit::RunResult r = Unpack("a.zip out");
    EXPECT_EQ(0, r.exitCode);
    kit::Log log = machine.InstallLog();
    ASSERT_GE(log.entries.size(), 3u);
    EXPECT_EQ("JRE_HOMEの取得に失敗しました。", log.entries[2].text);
    EXPECT_EQ("警告", log.entries[2].level);
    EXPECT_EQ(1u, machine.Processes().size());  // the tool only
    EXPECT_EQ(1u, machine.Boxes().size());
    EXPECT_TRUE(machine.Markers().empty());
}

}  // namespace
