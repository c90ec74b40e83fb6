// w32: creates and drives an emulated Windows machine. Every subcommand but
// `init` works on the machine named by W32_MACHINE.
#include <cstdio>
#include <cstring>

#include "commands.h"

namespace w32cmd {

namespace {
std::vector<Command>& table() {
    static std::vector<Command> t;
    return t;
}
}  // namespace

Register::Register(const Command& command) { table().push_back(command); }
const std::vector<Command>& commands() { return table(); }

int usage_error(const char* name, const std::string& message) {
    fprintf(stderr, "w32 %s: %s\n", name, message.c_str());
    for (auto& c : commands())
        if (strcmp(c.name, name) == 0) fprintf(stderr, "usage:\n%s\n", c.usage);
    return 2;
}

int failure(const char* name, const std::string& message) {
    fprintf(stderr, "w32 %s: %s\n", name, message.c_str());
    return 1;
}

}  // namespace w32cmd

static void help() {
    printf("w32: create and drive an emulated Windows machine.\n"
           "Every command but 'init' works on the machine named by W32_MACHINE=DIR.\n\n");
    for (auto& c : w32cmd::commands()) printf("%s\n    %s\n", c.usage, c.summary);
}

int main(int argc, char** argv) {
    if (argc < 2 || !strcmp(argv[1], "help") || !strcmp(argv[1], "--help") || !strcmp(argv[1], "-h")) {
        help();
        return argc < 2 ? 2 : 0;
    }
    for (auto& c : w32cmd::commands())
        if (!strcmp(c.name, argv[1])) return c.handler(w32cmd::Args(argv + 2, argv + argc));
    fprintf(stderr, "w32: unknown command '%s' (try 'w32 help')\n", argv[1]);
    return 2;
}
