// w32 init, path, clock, boxes, reg.
#include <sys/stat.h>
#include <dirent.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>

#include "commands.h"
#include "posix/machine.h"

namespace w32cmd {
namespace {

bool make_dirs(const std::string& path) {
    std::string cur;
    std::stringstream ss(path);
    std::string part;
    if (path.empty() || path[0] != '/') cur = ".";
    while (std::getline(ss, part, '/')) {
        if (part.empty()) continue;
        cur += "/" + part;
        if (mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

bool empty_or_missing(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (!d) return true;
    bool empty = true;
    while (struct dirent* e = readdir(d))
        if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) empty = false;
    closedir(d);
    return empty;
}

// "YYYY-MM-DD HH:MM:SS[.mmm]" (or with a T) as local milliseconds.
bool parse_time(const std::string& text, long long* ms) {
    int y, mo, d, h, mi, s, milli = 0;
    char sep;
    int n = sscanf(text.c_str(), "%d-%d-%d%c%d:%d:%d.%d", &y, &mo, &d, &sep, &h, &mi, &s, &milli);
    if (n < 7 || (sep != ' ' && sep != 'T')) return false;
    struct tm tm = {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    *ms = (long long)timegm(&tm) * 1000 + milli;
    return true;
}

void set_clock(long long wanted_local_ms) {
    long long offset = atoll(w32::setting("clock_offset_ms", "0").c_str());
    long long shown = w32::machine_local_ms();
    w32::set_setting("clock_offset_ms", std::to_string(offset + (wanted_local_ms - shown)));
}

int cmd_init(const Args& args) {
    bool fast = false;
    std::string dir, clock, scale = "10";
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--fast") fast = true;
        else if (args[i] == "--sleep-scale" && i + 1 < args.size()) scale = args[++i];
        else if (args[i] == "--clock" && i + 1 < args.size()) clock = args[++i];
        else if (!args[i].empty() && args[i][0] == '-') return usage_error("init", "unknown option " + args[i]);
        else if (dir.empty()) dir = args[i];
        else return usage_error("init", "one folder only");
    }
    if (dir.empty()) return usage_error("init", "name the folder of the new machine");
    if (w32::is_machine(dir)) return failure("init", dir + " is a machine already");
    if (!empty_or_missing(dir)) return failure("init", dir + " exists and is not empty");
    long long wanted = 0;
    if (!clock.empty() && !parse_time(clock, &wanted))
        return usage_error("init", "--clock takes \"YYYY-MM-DD HH:MM:SS\"");
    if (!make_dirs(dir + "/drives/c/Windows/System32") || !make_dirs(dir + "/locks"))
        return failure("init", "cannot create " + dir + ": " + strerror(errno));
    if (scale.empty() || scale.find_first_not_of("0123456789") != std::string::npos)
        return usage_error("init", "--sleep-scale takes a whole number of milliseconds");
    w32::write_settings(dir, {{"clock", fast ? "fast" : "real"}, {"clock_offset_ms", "0"}, {"clock_scale", scale}});
    std::ofstream(dir + "/registry.reg") << "Windows Registry Editor Version 5.00\r\n";
    std::ofstream(dir + "/journal.jsonl");
    if (!clock.empty()) {
        setenv("W32_MACHINE", dir.c_str(), 1);
        set_clock(wanted);
    }
    printf("machine created in %s (drive C:, %s clock)\n", dir.c_str(), fast ? "accelerated" : "real-time");
    return 0;
}

int cmd_path(const Args& args) {
    if (args.size() != 1) return usage_error("path", "name one Windows path");
    w32::machine_root();
    w32::Resolved r = w32::resolve_path(w32::to_cp932(args[0]).c_str());
    if (r.error) return failure("path", "cannot map '" + args[0] + "' (error " + std::to_string(r.error) + ")");
    printf("%s\n", r.host.c_str());
    return 0;
}

int cmd_clock(const Args& args) {
    w32::machine_root();
    if (args.empty()) {
        printf("%s%s\n", w32::format_machine_time(w32::machine_local_ms()).c_str(),
               w32::machine_clock_fast() ? " (accelerated)" : "");
        return 0;
    }
    long long wanted;
    if (args.size() == 2 && args[0] == "set" && parse_time(args[1], &wanted)) {
        set_clock(wanted);
        printf("%s\n", w32::format_machine_time(w32::machine_local_ms()).c_str());
        return 0;
    }
    return usage_error("clock", "expected: w32 clock [set \"YYYY-MM-DD HH:MM:SS\"]");
}

// The value of "key" in one journal line (a flat JSON object), unescaped.
std::string json_value(const std::string& line, const std::string& key) {
    std::string pattern = "\"" + key + "\":";
    size_t p = line.find(pattern);
    if (p == std::string::npos) return "";
    p += pattern.size();
    if (line[p] != '"') return line.substr(p, line.find_first_of(",}", p) - p);
    std::string out;
    for (size_t i = p + 1; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] != '\\' || i + 1 >= line.size()) {
            out.push_back(line[i]);
            continue;
        }
        char c = line[++i];
        out.push_back(c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c);
    }
    return out;
}

std::string describe_flags(unsigned flags) {
    std::string icon;
    switch (flags & 0xF0) {
    case 0x10: icon = "error"; break;
    case 0x20: icon = "question"; break;
    case 0x30: icon = "warning"; break;
    case 0x40: icon = "information"; break;
    default: icon = "no icon";
    }
    return icon + ((flags & 0x40000) ? ", topmost" : "");
}

int cmd_boxes(const Args& args) {
    bool plain = args.size() == 1 && args[0] == "--plain";
    if (!args.empty() && !plain) return usage_error("boxes", "takes only --plain");
    std::ifstream in(w32::machine_root() + "/journal.jsonl");
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        if (line.find("\"kind\":\"box\"") == std::string::npos) continue;
        if (!plain) {
            printf("%s\n", line.c_str());
            continue;
        }
        std::string text = json_value(line, "text");
        std::string indented;
        for (char c : text) {
            if (c == '\r') continue;
            indented += c;
            if (c == '\n') indented += "    | ";
        }
        printf("box %d from %s, caption \"%s\" (%s), answered %s:\n    | %s\n", ++n,
               json_value(line, "image").c_str(), json_value(line, "caption").c_str(),
               describe_flags((unsigned)atoi(json_value(line, "flags").c_str())).c_str(),
               json_value(line, "answer") == "1" ? "OK" : json_value(line, "answer").c_str(), indented.c_str());
    }
    if (plain && n == 0) printf("no message box was shown\n");
    return 0;
}

int cmd_reg(const Args& args) {
    w32::machine_root();
    if (args.size() == 2 && args[0] == "import") {
        std::string text;
        if (args[1] == "-") {
            std::stringstream ss;
            ss << std::cin.rdbuf();
            text = ss.str();
        } else if (!w32::read_file(args[1], &text)) {
            return failure("reg", "cannot read " + args[1]);
        }
        std::string error;
        if (!w32::registry_import(text, &error)) return failure("reg", args[1] + ": " + error);
        return 0;
    }
    if (args.size() == 1 && args[0] == "export") {
        std::string text = w32::registry_export();
        fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    return usage_error("reg", "expected 'import FILE.reg' or 'export'");
}

Register init_cmd({"init", "init [--fast [--sleep-scale MS]] [--clock \"YYYY-MM-DD HH:MM:SS\"] DIR",
                   "create a machine in DIR with drive C: and an empty registry; --fast accelerates its clock "
                   "(Sleep(1000) takes MS ms of real time, 10 by default, 0 for none); --clock sets its time",
                   cmd_init});
Register path_cmd({"path", "path WINPATH", "print the host path of a Windows path of the machine", cmd_path});
Register clock_cmd({"clock", "clock [set \"YYYY-MM-DD HH:MM:SS\"]", "print or set the machine's local time",
                    cmd_clock});
Register boxes_cmd({"boxes", "boxes [--plain]",
                    "print the message boxes shown so far, one JSON object a line (caption, text, flags, pid, "
                    "image, time, answer); --plain prints them for a person to read",
                    cmd_boxes});
Register reg_cmd({"reg", "reg import FILE.reg | reg export",
                  "merge a .reg file (REGEDIT4 or version 5.00, UTF-8; '-' reads standard input) into "
                  "HKEY_LOCAL_MACHINE, or print the hive",
                  cmd_reg});

}  // namespace
}  // namespace w32cmd
