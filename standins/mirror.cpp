// Stand-in for the copy program "Mirror.exe": `Mirror "SOURCE" "DEST"`
// copies the folder SOURCE, under its own name, into the folder DEST
// (created when missing). Exit code 0 when done, 1 otherwise.
#include <filesystem>
#include <string>

#include "common/frame.h"
#include "posix/machine.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    char slots[2][MAX_PATH];
    ParseQuotedArguments(lpCmdLine, (size_t)-1, slots, 2);
    w32::Resolved source = w32::resolve_path(slots[0]);
    w32::Resolved dest = w32::resolve_path(slots[1]);
    if (source.error || dest.error) return 1;
    std::string name = source.host.substr(source.host.find_last_of('/') + 1);
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(source.host, ec)) return 1;
    fs::create_directories(dest.host + "/" + name, ec);
    fs::copy(source.host, dest.host + "/" + name,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    return ec ? 1 : 0;
}
