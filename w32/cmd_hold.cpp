// w32 hold: plays another program that keeps a file open or a folder as its
// current folder for a while of machine time, so that deletes and renames
// meet Windows' refusals.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "posix/machine.h"

namespace w32cmd {
namespace {

int cmd_hold(const Args& args) {
    bool cwd = false;
    size_t i = 0;
    if (i < args.size() && args[i] == "--cwd") {
        cwd = true;
        ++i;
    }
    if (args.size() - i != 2) return usage_error("hold", "expected [--cwd] WINPATH MILLISECONDS");
    w32::machine_root();
    w32::Resolved r = w32::resolve_path(w32::to_cp932(args[i]).c_str());
    if (r.error) return failure("hold", "cannot map " + args[i]);
    long long ms = atoll(args[i + 1].c_str());
    int fd = -1;
    if (cwd) {
        if (chdir(r.host.c_str()) != 0) return failure("hold", "cannot enter " + args[i]);
    } else {
        fd = open(r.host.c_str(), O_RDONLY);
        if (fd < 0) return failure("hold", "cannot open " + args[i]);
    }
    long long until = w32::machine_local_ms() + ms;
    printf("holding %s\n", args[i].c_str());
    fflush(stdout);
    while (w32::machine_local_ms() < until) usleep(2000);
    if (fd >= 0) close(fd);
    if (cwd && chdir("/") != 0) return 1;
    return 0;
}

Register hold_cmd({"hold", "hold [--cwd] WINPATH MILLISECONDS",
                   "keep a file open (or, with --cwd, a folder as the current folder) for that long in machine "
                   "time, as another program would; prints a line once it holds",
                   cmd_hold});

}  // namespace
}  // namespace w32cmd
