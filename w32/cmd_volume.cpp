// w32 volume: shows a drive's free space and file system, and sets the
// figures the machine reports instead of the host's.
#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "platform/win32.h"
#include "posix/machine.h"

namespace w32cmd {
namespace {

bool is_bytes(const std::string& s) {
    if (s.empty() || s.size() > 20) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return s.size() < 20 || s <= "18446744073709551615";
}

int cmd_volume(const Args& args) {
    if (args.empty()) return usage_error("volume", "name a drive (C:)");
    const std::string& drive = args[0];
    if (!((drive.size() == 2 || (drive.size() == 3 && drive[2] == '\\')) && isalpha((unsigned char)drive[0]) &&
          drive[1] == ':'))
        return usage_error("volume", "not a drive: " + drive);
    w32::machine_root();
    std::string root = drive.substr(0, 2) + "\\";
    char letter = (char)tolower((unsigned char)drive[0]);
    char fs[64];
    if (!GetVolumeInformationA(root.c_str(), NULL, 0, NULL, NULL, NULL, fs, sizeof fs))
        return failure("volume", "no drive " + drive.substr(0, 2) + " (error " + std::to_string(GetLastError()) + ")");
    for (size_t i = 1; i < args.size(); i += 2) {
        const std::string& option = args[i];
        if (i + 1 >= args.size()) return usage_error("volume", option + " needs a value");
        const std::string& value = args[i + 1];
        std::string key = std::string("volume.") + letter + ".";
        if (option == "--free" || option == "--quota") {
            if (value != "host" && !is_bytes(value)) return usage_error("volume", option + " takes a byte count");
            w32::set_setting(key + option.substr(2), value == "host" ? "" : value);
        } else if (option == "--fs") {
            if (value.empty() || value.size() > 31) return usage_error("volume", "--fs takes a name of 1 to 31 bytes");
            w32::set_setting(key + "fs", value);
        } else {
            return usage_error("volume", "unknown option " + option);
        }
    }
    ULARGE_INTEGER available, total, free;
    if (!GetDiskFreeSpaceExA(root.c_str(), &available, &total, &free) ||
        !GetVolumeInformationA(root.c_str(), NULL, 0, NULL, NULL, NULL, fs, sizeof fs))
        return failure("volume", "cannot read " + root + " (error " + std::to_string(GetLastError()) + ")");
    printf("%s free=%llu available=%llu fs=%s\n", root.c_str(), (unsigned long long)free.QuadPart,
           (unsigned long long)available.QuadPart, w32::to_utf8(fs).c_str());
    return 0;
}

Register volume_cmd({"volume", "volume LETTER: [--free BYTES|host] [--quota BYTES|host] [--fs NAME]",
                     "print a drive's free bytes, the bytes available to the user and its file system, after "
                     "setting the figures given (--quota: a disk quota that limits the bytes available; host: "
                     "the host's figure again)",
                     cmd_volume});

}  // namespace
}  // namespace w32cmd
