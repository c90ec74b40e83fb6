// The machine's file calls with Windows' refusals and error codes, called
// in-process on one accelerated machine shared by this test binary.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>

#include "kit_test.h"
#include "platform/win32.h"

namespace {

const bool kSharedMachine = kit::UseSharedMachine();

// What a case prepares in its own folder `dir` (a Windows path), and what
// another program holds meanwhile.
struct Scene {
    std::string dir;
    std::vector<kit::Running> holders;
    void File(const std::string& name, const std::string& content = "data") const {
        kit::SharedMachine().WriteFile(dir + "\\" + name, content);
    }
    void Folder(const std::string& name) const { kit::SharedMachine().MakeDirs(dir + "\\" + name); }
    void ReadOnly(const std::string& name) const {
        ASSERT_EQ(0, kit::SharedMachine().W32({"attrib", "+r", dir + "\\" + name}).exitCode);
    }
    void Link(const std::string& name, const std::string& target) const {
        ASSERT_EQ(0, symlink(kit::SharedMachine().Host(dir + "\\" + target).c_str(), kit::SharedMachine().Host(dir + "\\" + name).c_str()));
    }
    void Hold(const std::string& name, bool asCurrentFolder = false) {
        std::vector<std::string> args{"hold"};
        if (asCurrentFolder) args.push_back("--cwd");
        args.push_back(dir + "\\" + name);
        args.push_back("600000");
        holders.push_back(kit::SharedMachine().Start("w32", args));
        ASSERT_TRUE(holders.back().WaitForOutput("holding"));
    }
    std::string Path(const std::string& name) const { return dir + "\\" + name; }
    bool Exists(const std::string& name) const { return kit::SharedMachine().Exists(Path(name)); }
    std::string Content(const std::string& name) const { return kit::ReadHostFile(kit::SharedMachine().Host(Path(name))); }
};

struct CallCase {
    const char* name;
    std::function<void(Scene&)> setup;
    std::function<BOOL(const Scene&)> call;
    DWORD error;  // 0: the call succeeds
    std::function<void(const Scene&)> check;  // what must hold afterwards
};

class FileCallTest : public ::testing::TestWithParam<CallCase> {};

TEST_P(FileCallTest, RefusesAsWindowsDoes) {
    const CallCase& c = GetParam();
    Scene scene;
    scene.dir = std::string("C:\\Calls\\") + c.name;
    kit::SharedMachine().MakeDirs(scene.dir);
    c.setup(scene);
    SetLastError(0);
    BOOL ok = c.call(scene);
    DWORD error = GetLastError();
    if (c.error == 0) {
        EXPECT_TRUE(ok) << "error " << error;
    } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(c.error, error);
    }
    if (c.check) c.check(scene);
}

auto Nothing = [](Scene&) {};
std::string P(const Scene& s, const std::string& name) { return s.Path(name); }

INSTANTIATE_TEST_SUITE_P(
    Table, FileCallTest,
    ::testing::Values(
        CallCase{"delete_read_only_file", [](Scene& s) { s.File("f"); s.ReadOnly("f"); },
                 [](const Scene& s) { return DeleteFileA(P(s, "f").c_str()); }, ERROR_ACCESS_DENIED,
                 [](const Scene& s) { EXPECT_TRUE(s.Exists("f")); }},
        CallCase{"delete_file_held_open", [](Scene& s) { s.File("f"); s.Hold("f"); },
                 [](const Scene& s) { return DeleteFileA(P(s, "f").c_str()); }, ERROR_SHARING_VIOLATION,
                 [](const Scene& s) { EXPECT_TRUE(s.Exists("f")); }},
        CallCase{"delete_folder", [](Scene& s) { s.Folder("d"); },
                 [](const Scene& s) { return DeleteFileA(P(s, "d").c_str()); }, ERROR_ACCESS_DENIED, nullptr},
        CallCase{"delete_link_to_folder", [](Scene& s) { s.File("d\\keep"); s.Link("l", "d"); },
                 [](const Scene& s) { return DeleteFileA(P(s, "l").c_str()); }, ERROR_ACCESS_DENIED,
                 [](const Scene& s) { EXPECT_TRUE(s.Exists("l")); }},
        CallCase{"delete_link_to_file_removes_the_link", [](Scene& s) { s.File("f"); s.Link("l", "f"); },
                 [](const Scene& s) { return DeleteFileA(P(s, "l").c_str()); }, 0,
                 [](const Scene& s) { EXPECT_FALSE(s.Exists("l")); EXPECT_TRUE(s.Exists("f")); }},
        CallCase{"delete_in_missing_folder", Nothing,
                 [](const Scene& s) { return DeleteFileA(P(s, "no\\f").c_str()); }, ERROR_PATH_NOT_FOUND, nullptr},
        CallCase{"attributes_in_missing_folder", Nothing,
                 [](const Scene& s) {
                     WIN32_FILE_ATTRIBUTE_DATA d;
                     return GetFileAttributesExA(P(s, "no\\f").c_str(), GetFileExInfoStandard, &d);
                 },
                 ERROR_PATH_NOT_FOUND, nullptr},
        CallCase{"attributes_of_missing_file", Nothing,
                 [](const Scene& s) {
                     WIN32_FILE_ATTRIBUTE_DATA d;
                     return GetFileAttributesExA(P(s, "f").c_str(), GetFileExInfoStandard, &d);
                 },
                 ERROR_FILE_NOT_FOUND, nullptr},
        CallCase{"remove_non_empty_folder", [](Scene& s) { s.File("d\\f"); },
                 [](const Scene& s) { return RemoveDirectoryA(P(s, "d").c_str()); }, ERROR_DIR_NOT_EMPTY, nullptr},
        CallCase{"remove_current_folder_of_another_program", [](Scene& s) { s.Folder("d"); s.Hold("d", true); },
                 [](const Scene& s) { return RemoveDirectoryA(P(s, "d").c_str()); }, ERROR_SHARING_VIOLATION,
                 [](const Scene& s) { EXPECT_TRUE(s.Exists("d")); }},
        CallCase{"remove_read_only_folder", [](Scene& s) { s.Folder("d"); s.ReadOnly("d"); },
                 [](const Scene& s) { return RemoveDirectoryA(P(s, "d").c_str()); }, ERROR_ACCESS_DENIED, nullptr},
        CallCase{"remove_a_file", [](Scene& s) { s.File("f"); },
                 [](const Scene& s) { return RemoveDirectoryA(P(s, "f").c_str()); }, ERROR_DIRECTORY, nullptr},
        CallCase{"remove_link_to_folder_keeps_its_content", [](Scene& s) { s.File("d\\keep"); s.Link("l", "d"); },
                 [](const Scene& s) { return RemoveDirectoryA(P(s, "l").c_str()); }, 0,
                 [](const Scene& s) { EXPECT_FALSE(s.Exists("l")); EXPECT_TRUE(s.Exists("d\\keep")); }},
        CallCase{"remove_empty_folder", [](Scene& s) { s.Folder("d"); },
                 [](const Scene& s) { return RemoveDirectoryA(P(s, "d").c_str()); }, 0,
                 [](const Scene& s) { EXPECT_FALSE(s.Exists("d")); }},
        CallCase{"copy_onto_read_only_file", [](Scene& s) { s.File("a", "new"); s.File("b", "old"); s.ReadOnly("b"); },
                 [](const Scene& s) { return CopyFileA(P(s, "a").c_str(), P(s, "b").c_str(), FALSE); },
                 ERROR_ACCESS_DENIED, [](const Scene& s) { EXPECT_EQ("old", s.Content("b")); }},
        CallCase{"copy_onto_file_held_open", [](Scene& s) { s.File("a", "new"); s.File("b", "old"); s.Hold("b"); },
                 [](const Scene& s) { return CopyFileA(P(s, "a").c_str(), P(s, "b").c_str(), FALSE); },
                 ERROR_SHARING_VIOLATION, [](const Scene& s) { EXPECT_EQ("old", s.Content("b")); }},
        CallCase{"copy_from_file_held_open", [](Scene& s) { s.File("a", "new"); s.Hold("a"); },
                 [](const Scene& s) { return CopyFileA(P(s, "a").c_str(), P(s, "b").c_str(), FALSE); }, 0,
                 [](const Scene& s) { EXPECT_EQ("new", s.Content("b")); }},
        CallCase{"copy_into_missing_folder", [](Scene& s) { s.File("a"); },
                 [](const Scene& s) { return CopyFileA(P(s, "a").c_str(), P(s, "no\\b").c_str(), FALSE); },
                 ERROR_PATH_NOT_FOUND, nullptr},
        CallCase{"copy_of_missing_source", Nothing,
                 [](const Scene& s) { return CopyFileA(P(s, "a").c_str(), P(s, "b").c_str(), FALSE); },
                 ERROR_FILE_NOT_FOUND, [](const Scene& s) { EXPECT_FALSE(s.Exists("b")); }},
        CallCase{"copy_onto_itself", [](Scene& s) { s.File("a"); },
                 [](const Scene& s) { return CopyFileA(P(s, "a").c_str(), P(s, "A").c_str(), FALSE); },
                 ERROR_SHARING_VIOLATION, [](const Scene& s) { EXPECT_EQ("data", s.Content("a")); }},
        CallCase{"copy_when_it_must_not_exist", [](Scene& s) { s.File("a", "new"); s.File("b", "old"); },
                 [](const Scene& s) { return CopyFileA(P(s, "a").c_str(), P(s, "b").c_str(), TRUE); },
                 ERROR_FILE_EXISTS, [](const Scene& s) { EXPECT_EQ("old", s.Content("b")); }},
        CallCase{"copy_overwrites_and_takes_the_source_attributes",
                 [](Scene& s) { s.File("a", "new"); s.ReadOnly("a"); s.File("b", "older content"); },
                 [](const Scene& s) { return CopyFileA(P(s, "a").c_str(), P(s, "b").c_str(), FALSE); }, 0,
                 [](const Scene& s) {
                     EXPECT_EQ("new", s.Content("b"));
                     EXPECT_EQ(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, GetFileAttributesA(P(s, "b").c_str()));
                 }},
        CallCase{"rename_onto_existing_folder", [](Scene& s) { s.Folder("a"); s.Folder("b"); },
                 [](const Scene& s) { return MoveFileExA(P(s, "a").c_str(), P(s, "b").c_str(), 0); },
                 ERROR_ALREADY_EXISTS, nullptr},
        CallCase{"rename_onto_existing_file", [](Scene& s) { s.File("a"); s.File("b"); },
                 [](const Scene& s) { return MoveFileExA(P(s, "a").c_str(), P(s, "b").c_str(), 0); },
                 ERROR_ALREADY_EXISTS, nullptr},
        CallCase{"rename_current_folder_of_another_program", [](Scene& s) { s.Folder("a"); s.Hold("a", true); },
                 [](const Scene& s) { return MoveFileExA(P(s, "a").c_str(), P(s, "b").c_str(), 0); },
                 ERROR_SHARING_VIOLATION, [](const Scene& s) { EXPECT_TRUE(s.Exists("a")); }},
        CallCase{"rename_folder_with_a_file_held_inside", [](Scene& s) { s.File("a\\f"); s.Hold("a\\f"); },
                 [](const Scene& s) { return MoveFileExA(P(s, "a").c_str(), P(s, "b").c_str(), 0); },
                 ERROR_ACCESS_DENIED, [](const Scene& s) { EXPECT_TRUE(s.Exists("a\\f")); }},
        CallCase{"rename_file_held_open", [](Scene& s) { s.File("a"); s.Hold("a"); },
                 [](const Scene& s) { return MoveFileExA(P(s, "a").c_str(), P(s, "b").c_str(), 0); },
                 ERROR_SHARING_VIOLATION, nullptr},
        CallCase{"rename_into_missing_folder", [](Scene& s) { s.Folder("a"); },
                 [](const Scene& s) { return MoveFileExA(P(s, "a").c_str(), P(s, "no\\b").c_str(), 0); },
                 ERROR_PATH_NOT_FOUND, nullptr},
        CallCase{"rename_missing_folder", Nothing,
                 [](const Scene& s) { return MoveFileExA(P(s, "a").c_str(), P(s, "b").c_str(), 0); },
                 ERROR_FILE_NOT_FOUND, nullptr},
        CallCase{"rename_read_only_file", [](Scene& s) { s.File("a"); s.ReadOnly("a"); },
                 [](const Scene& s) { return MoveFileExA(P(s, "a").c_str(), P(s, "b").c_str(), 0); }, 0,
                 [](const Scene& s) { EXPECT_TRUE(s.Exists("b")); }},
        CallCase{"rename_changes_only_the_case", [](Scene& s) { s.File("jre\\f"); },
                 [](const Scene& s) { return MoveFileExA(P(s, "jre").c_str(), P(s, "JRE").c_str(), 0); }, 0,
                 [](const Scene& s) {
                     WIN32_FIND_DATAA d;
                     HANDLE h = FindFirstFileA(P(s, "jre").c_str(), &d);
                     ASSERT_NE(INVALID_HANDLE_VALUE, h);
                     EXPECT_STREQ("JRE", d.cFileName);
                     FindClose(h);
                 }}),
    [](const ::testing::TestParamInfo<CallCase>& info) { return std::string(info.param.name); });

// A listing as the tools see it: every entry with its kind, in name order.
std::vector<std::string> List(const std::string& pattern, DWORD* error) {
    std::vector<std::string> out;
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA(pattern.c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return out;
    }
    do {
        std::string kind = (d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? "link " : "";
        kind += (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "dir " : "file ";
        out.push_back(kind + d.cFileName);
    } while (FindNextFileA(h, &d));
    *error = GetLastError();
    EXPECT_TRUE(FindClose(h));
    return out;
}

TEST(FindFiles, ListsDotsFirstThenNamesAndMarksLinks) {
    Scene s;
    s.dir = "C:\\Find\\listing";
    s.File("b.txt");
    s.File("README");
    s.Folder("Sub");
    s.File("a.TXT");
    s.Link("link", "Sub");
    s.Link("flink", "b.txt");
    DWORD error = 0;
    EXPECT_EQ((std::vector<std::string>{"dir .", "dir ..", "file a.TXT", "file b.txt", "link file flink",
                                        "link dir link", "file README", "dir Sub"}),
              List(s.Path("*.*"), &error));
    EXPECT_EQ((DWORD)ERROR_NO_MORE_FILES, error);
    EXPECT_EQ((std::vector<std::string>{"file a.TXT", "file b.txt"}), List(s.Path("*.txt"), &error));
    EXPECT_EQ((std::vector<std::string>{"dir Sub"}), List(s.Path("sub"), &error));  // the name as stored
    // A listing through a link lists what it leads to.
    s.File("Sub\\inner");
    EXPECT_EQ((std::vector<std::string>{"dir .", "dir ..", "file inner"}), List(s.Path("link\\*.*"), &error));
}

TEST(FindFiles, TheDriveRootHasNoDots) {
    DWORD error = 0;
    std::vector<std::string> root = List("C:\\*.*", &error);
    ASSERT_FALSE(root.empty());
    EXPECT_NE("dir .", root[0]);
}

TEST(FindFiles, RecordHasWindowsLayout) {
    EXPECT_EQ(320u, sizeof(WIN32_FIND_DATAA));
    EXPECT_EQ(44u, offsetof(WIN32_FIND_DATAA, cFileName));
}

struct FindFailure {
    const char* name;
    std::string pattern;  // below C:\Find\failures, which holds the file "f"
    DWORD error;
};

class FindFailureTest : public ::testing::TestWithParam<FindFailure> {};

TEST_P(FindFailureTest, FailsWithTheWindowsCode) {
    kit::SharedMachine().WriteFile("C:\\Find\\failures\\f", "x");
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA(("C:\\Find\\failures" + GetParam().pattern).c_str(), &d);
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(GetParam().error, GetLastError());
}

INSTANTIATE_TEST_SUITE_P(
    Table, FindFailureTest,
    ::testing::Values(FindFailure{"missing_name", "\\g", ERROR_FILE_NOT_FOUND},
                      FindFailure{"nothing_matches", "\\*.log", ERROR_FILE_NOT_FOUND},
                      FindFailure{"missing_folder", "\\no\\*.*", ERROR_PATH_NOT_FOUND},
                      FindFailure{"below_a_file", "\\f\\*.*", ERROR_DIRECTORY},
                      FindFailure{"trailing_separator", "\\", ERROR_FILE_NOT_FOUND},
                      FindFailure{"quoted_path", "\\\"f\"", ERROR_INVALID_NAME}),
    [](const ::testing::TestParamInfo<FindFailure>& info) { return std::string(info.param.name); });

}  // namespace
