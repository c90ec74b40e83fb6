// w32 attrib: shows and sets the attributes that files keep on the machine.
#include <cstdio>

#include "commands.h"
#include "platform/win32.h"
#include "posix/machine.h"

namespace w32cmd {
namespace {

struct Flag {
    char letter;
    DWORD bit;
};
const Flag kFlags[] = {{'r', FILE_ATTRIBUTE_READONLY}, {'h', FILE_ATTRIBUTE_HIDDEN}, {'s', FILE_ATTRIBUTE_SYSTEM},
                       {'a', FILE_ATTRIBUTE_ARCHIVE}};

std::string describe(DWORD attrs) {
    std::string out;
    out += (attrs & FILE_ATTRIBUTE_ARCHIVE) ? 'A' : '-';
    out += (attrs & FILE_ATTRIBUTE_READONLY) ? 'R' : '-';
    out += (attrs & FILE_ATTRIBUTE_HIDDEN) ? 'H' : '-';
    out += (attrs & FILE_ATTRIBUTE_SYSTEM) ? 'S' : '-';
    out += (attrs & FILE_ATTRIBUTE_DIRECTORY) ? 'D' : '-';
    out += (attrs & FILE_ATTRIBUTE_REPARSE_POINT) ? 'L' : '-';
    return out;
}

int cmd_attrib(const Args& args) {
    if (args.empty()) return usage_error("attrib", "name a Windows path");
    w32::machine_root();
    std::string path = w32::to_cp932(args.back());
    DWORD set = 0, clear = 0;
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        const std::string& a = args[i];
        const Flag* flag = nullptr;
        for (auto& f : kFlags)
            if (a.size() == 2 && (a[1] == f.letter || a[1] == f.letter - 32)) flag = &f;
        if (!flag || (a[0] != '+' && a[0] != '-')) return usage_error("attrib", "unknown flag " + a);
        (a[0] == '+' ? set : clear) |= flag->bit;
    }
    DWORD attrs = GetFileAttributesA(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return failure("attrib", args.back() + ": error " + std::to_string(GetLastError()));
    if (set || clear) {
        DWORD wanted = ((attrs | set) & ~clear) & ~(DWORD)(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_NORMAL);
        if (!SetFileAttributesA(path.c_str(), wanted))
            return failure("attrib", args.back() + ": error " + std::to_string(GetLastError()));
        attrs = GetFileAttributesA(path.c_str());
    }
    printf("%s  %s\n", describe(attrs).c_str(), args.back().c_str());
    return 0;
}

Register attrib_cmd({"attrib", "attrib [+r|-r|+h|-h|+s|-s|+a|-a ...] WINPATH",
                     "print a file's attributes (A archive, R read-only, H hidden, S system, D folder, L link), "
                     "after setting or clearing the ones named",
                     cmd_attrib});

}  // namespace
}  // namespace w32cmd
