// Stand-in for the Java runtime's installer "jre-6u15-windows-i586.exe".
// Takes the silent-install options; on success it lays out a runtime
// folder (bin\java.exe runs the host's Java) and registers it under
// "SOFTWARE\JavaSoft\Java Runtime Environment\1.6.0_15" with "JavaHome".
// A test chooses the outcome through the environment:
//   JRE_STANDIN_EXIT  the exit code (default 0); when not 0 nothing is installed
//   JRE_STANDIN_HOME  the runtime folder (default C:\Program Files\Java\jre6)
// It prints the command line tail it received, for the tests.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>

#include "platform/win32.h"
#include "posix/machine.h"

namespace {

const char* const kOptions[] = {"/s", "ADDLOCAL=ALL", "IEXPLORER=1", "NETSCAPE=1", "MOZILLA=1", "REBOOT=Suppress"};
const DWORD kBadCommandLine = 1639;  // the installer service's "invalid command line"

bool HasOption(const char* commandLine, const char* option) {
    std::stringstream words(commandLine);
    std::string word;
    while (words >> word)
        if (word == option) return true;
    return false;
}

std::string Variable(const char* name, const char* fallback) {
    char value[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? value : fallback;
}

bool LayOutRuntime(const std::string& home) {
    w32::Resolved r = w32::resolve_path(home.c_str());
    if (r.error) return false;
    std::error_code ec;
    std::filesystem::create_directories(r.host + "/bin", ec);
    std::filesystem::create_directories(r.host + "/lib", ec);
    std::filesystem::copy_file(KIT_STANDIN_JAVA, r.host + "/bin/java.exe",
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) return false;
    FILE* release = fopen((r.host + "/release").c_str(), "w");
    if (!release) return false;
    fputs("JAVA_VERSION=\"1.6.0_15\"\n", release);
    fclose(release);
    return true;
}

bool Register(const std::string& home) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.6.0_15", 0, NULL, 0,
                        KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(key, "JavaHome", 0, REG_SZ, (const BYTE*)home.c_str(), (DWORD)home.size() + 1);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    printf("jre installer: [%s]\n", lpCmdLine);
    for (const char* option : kOptions)
        if (!HasOption(lpCmdLine, option)) return (int)kBadCommandLine;
    DWORD code = (DWORD)strtoul(Variable("JRE_STANDIN_EXIT", "0").c_str(), NULL, 10);
    if (code != 0) return (int)code;
    std::string home = Variable("JRE_STANDIN_HOME", "C:\\Program Files\\Java\\jre6");
    if (!LayOutRuntime(home) || !Register(home)) return 1603;  // the installer service's "fatal error"
    return 0;
}
