// w32 acl: shows and sets the DACL that a file or folder of the machine
// keeps, in the security descriptor definition language (SDDL): masks in
// hex, trustees as S-1-... SIDs, e.g.
//   D:AI(A;OICIID;0x1f01ff;;;S-1-5-18)(D;;0x1f01ff;;;S-1-5-32-546)
// "D:NO_ACCESS_CONTROL" is a null DACL (present, without a list); an empty
// text is a descriptor without a DACL.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "commands.h"
#include "platform/win32.h"
#include "posix/machine.h"

namespace w32cmd {
namespace {

struct Code {
    const char* text;
    unsigned value;
};
const Code kTypes[] = {{"A", ACCESS_ALLOWED_ACE_TYPE}, {"D", ACCESS_DENIED_ACE_TYPE},
                       {"AU", SYSTEM_AUDIT_ACE_TYPE}, {"AL", SYSTEM_ALARM_ACE_TYPE}};
const Code kFlags[] = {{"OI", OBJECT_INHERIT_ACE},  {"CI", CONTAINER_INHERIT_ACE},
                       {"NP", NO_PROPAGATE_INHERIT_ACE}, {"IO", INHERIT_ONLY_ACE},
                       {"ID", INHERITED_ACE},       {"SA", SUCCESSFUL_ACCESS_ACE_FLAG},
                       {"FA", FAILED_ACCESS_ACE_FLAG}};
const Code kRights[] = {{"FA", 0x1F01FF}, {"FR", 0x120089},   {"FW", 0x120116},   {"FX", 0x1200A0},
                        {"GA", 0x10000000}, {"GX", 0x20000000}, {"GW", 0x40000000}, {"GR", 0x80000000}};
const Code kControl[] = {{"P", SE_DACL_PROTECTED}, {"AI", SE_DACL_AUTO_INHERITED}};
const char* const kAliases[][2] = {{"SY", "S-1-5-18"},     {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"},
                                   {"BG", "S-1-5-32-546"}, {"PU", "S-1-5-32-547"}, {"WD", "S-1-1-0"},
                                   {"AU", "S-1-5-11"},     {"CO", "S-1-3-0"}};

std::string sid_text(const BYTE* sid) {
    unsigned long long authority = 0;
    for (int i = 2; i < 8; ++i) authority = authority << 8 | sid[i];
    char buf[32];
    snprintf(buf, sizeof buf, authority >> 32 ? "S-%u-0x%llx" : "S-%u-%llu", sid[0], authority);
    std::string out = buf;
    for (int i = 0; i < sid[1]; ++i) {
        const BYTE* p = sid + 8 + 4 * i;
        out += "-" + std::to_string((DWORD)p[0] | (DWORD)p[1] << 8 | (DWORD)p[2] << 16 | (DWORD)p[3] << 24);
    }
    return out;
}

bool parse_sid(std::string text, std::string* sid) {
    for (auto& alias : kAliases)
        if (text == alias[0]) text = alias[1];
    if (text.compare(0, 4, "S-1-") != 0) return false;
    std::vector<unsigned long long> numbers;
    size_t at = 4;
    while (at <= text.size()) {
        size_t end = text.find('-', at);
        if (end == std::string::npos) end = text.size();
        std::string part = text.substr(at, end - at);
        char* stop = nullptr;
        if (part.empty()) return false;
        numbers.push_back(strtoull(part.c_str(), &stop, 0));
        if (*stop) return false;
        at = end + 1;
    }
    if (numbers.size() > 16 || numbers[0] >> 48) return false;
    sid->assign(1, 1);
    sid->push_back((char)(numbers.size() - 1));
    for (int i = 5; i >= 0; --i) sid->push_back((char)(numbers[0] >> (8 * i)));
    for (size_t i = 1; i < numbers.size(); ++i) {
        if (numbers[i] > 0xFFFFFFFFull) return false;
        for (int b = 0; b < 4; ++b) sid->push_back((char)(numbers[i] >> (8 * b)));
    }
    return true;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t at = 0;
    for (;;) {
        size_t end = text.find(separator, at);
        parts.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) return parts;
        at = end + 1;
    }
}

// One "(type;flags;rights;;;sid)" entry, without its parentheses.
bool parse_ace(const std::string& text, std::string* ace) {
    std::vector<std::string> f = split(text, ';');
    if (f.size() != 6 || !f[3].empty() || !f[4].empty()) return false;
    int type = -1;
    for (auto& t : kTypes)
        if (f[0] == t.text) type = (int)t.value;
    if (type < 0) {
        char* stop = nullptr;
        unsigned long v = strtoul(f[0].c_str(), &stop, 0);
        if (f[0].empty() || *stop || v > 0xFF) return false;
        type = (int)v;
    }
    unsigned flags = 0;
    for (size_t i = 0; i < f[1].size(); i += 2) {
        bool known = false;
        for (auto& c : kFlags)
            if (f[1].compare(i, 2, c.text) == 0) flags |= c.value, known = true;
        if (!known) return false;
    }
    unsigned long long mask = 0;
    if (f[2].compare(0, 2, "0x") == 0 || f[2].compare(0, 2, "0X") == 0 || isdigit((unsigned char)f[2][0])) {
        char* stop = nullptr;
        mask = strtoull(f[2].c_str(), &stop, 0);
        if (*stop || mask > 0xFFFFFFFFull) return false;
    } else {
        for (size_t i = 0; i < f[2].size(); i += 2) {
            bool known = false;
            for (auto& c : kRights)
                if (f[2].compare(i, 2, c.text) == 0) mask |= c.value, known = true;
            if (!known) return false;
        }
    }
    std::string sid;
    if (!parse_sid(f[5], &sid)) return false;
    WORD size = (WORD)(8 + sid.size());
    ace->assign({(char)type, (char)flags, (char)(size & 0xFF), (char)(size >> 8)});
    for (int b = 0; b < 4; ++b) ace->push_back((char)(mask >> (8 * b)));
    *ace += sid;
    return true;
}

bool parse_sddl(const std::string& text, w32::SecurityParts* parts) {
    parts->control &= (WORD) ~(SE_DACL_PRESENT | SE_DACL_DEFAULTED | SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED);
    parts->dacl.clear();
    if (text.empty()) return true;  // no DACL
    if (text.compare(0, 2, "D:") != 0) return false;
    parts->control |= SE_DACL_PRESENT;
    if (text == "D:NO_ACCESS_CONTROL") return true;
    size_t at = 2;
    while (at < text.size() && text[at] != '(') {
        bool known = false;
        for (auto& c : kControl)
            if (text.compare(at, strlen(c.text), c.text) == 0) {
                parts->control |= (WORD)c.value;
                at += strlen(c.text);
                known = true;
                break;
            }
        if (!known) return false;
    }
    std::string aces;
    WORD count = 0;
    while (at < text.size()) {
        size_t close = text.find(')', at);
        if (text[at] != '(' || close == std::string::npos) return false;
        std::string ace;
        if (!parse_ace(text.substr(at + 1, close - at - 1), &ace)) return false;
        aces += ace;
        ++count;
        at = close + 1;
    }
    if (sizeof(ACL) + aces.size() > 0xFFFC) return false;
    parts->dacl = w32::make_acl(ACL_REVISION, count, aces);
    return true;
}

std::string code_text(const Code* codes, size_t n, unsigned value) {
    for (size_t i = 0; i < n; ++i)
        if (codes[i].value == value) return codes[i].text;
    char buf[16];
    snprintf(buf, sizeof buf, "0x%x", value);
    return buf;
}

// The DACL as GetFileSecurityA reports it.
int print_dacl(const std::string& windowsPath) {
    std::string path = w32::to_cp932(windowsPath);
    DWORD needed = 0;
    GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, NULL, 0, &needed);
    std::vector<BYTE> sd(needed ? needed : 1);
    if (!GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, sd.data(), (DWORD)sd.size(), &needed))
        return failure("acl", windowsPath + ": error " + std::to_string(GetLastError()));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = NULL;
    if (!GetSecurityDescriptorDacl(sd.data(), &present, &dacl, &defaulted))
        return failure("acl", windowsPath + ": error " + std::to_string(GetLastError()));
    if (!present) {
        fprintf(stderr, "w32 acl: %s has no DACL\n", windowsPath.c_str());
        printf("\n");
        return 0;
    }
    if (!dacl) {
        fprintf(stderr, "w32 acl: warning: %s has a null DACL: everyone has full access\n", windowsPath.c_str());
        printf("D:NO_ACCESS_CONTROL\n");
        return 0;
    }
    WORD control = (WORD)(sd[2] | sd[3] << 8);
    std::string out = "D:";
    for (auto& c : kControl)
        if (control & c.value) out += c.text;
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        LPVOID ace;
        if (!GetAce(dacl, i, &ace)) return failure("acl", windowsPath + ": broken ACL");
        const ACCESS_ALLOWED_ACE* a = (const ACCESS_ALLOWED_ACE*)ace;
        std::string flags;
        for (auto& c : kFlags)
            if (a->Header.AceFlags & c.value) flags += c.text;
        char mask[16];
        snprintf(mask, sizeof mask, "0x%x", (unsigned)a->Mask);
        out += "(" + code_text(kTypes, sizeof kTypes / sizeof kTypes[0], a->Header.AceType) + ";" + flags + ";" +
               mask + ";;;" + sid_text((const BYTE*)&a->SidStart) + ")";
    }
    printf("%s\n", out.c_str());
    return 0;
}

int cmd_acl(const Args& args) {
    if (args.empty() || args.size() > 2) return usage_error("acl", "expected WINPATH [SDDL]");
    w32::machine_root();
    if (args.size() == 2) {
        w32::Resolved r = w32::resolve_path(w32::to_cp932(args[0]).c_str());
        struct stat st;
        if (r.error || lstat(r.host.c_str(), &st) != 0) return failure("acl", "no such file or folder: " + args[0]);
        w32::SecurityParts parts;
        DWORD error = 0;
        if (!w32::read_security(r.host, &parts, &error))
            return failure("acl", args[0] + ": error " + std::to_string(error));
        if (!parse_sddl(args[1], &parts)) return usage_error("acl", "cannot read the DACL " + args[1]);
        if (!w32::write_security(r.host, parts, &error))
            return failure("acl", args[0] + ": error " + std::to_string(error));
    }
    return print_dacl(args[0]);
}

Register acl_cmd({"acl", "acl WINPATH [SDDL]",
                  "print the DACL of a file or folder as SDDL (\"D:(A;OICI;0x1200a9;;;S-1-5-32-545)...\", "
                  "\"D:NO_ACCESS_CONTROL\" for a null DACL, an empty line for none), after setting it to SDDL "
                  "(entry types A, D, AU, AL or a number; rights in hex or FA/FR/FW/FX/GA/GR/GW/GX; SIDs as "
                  "S-1-... or SY/BA/BU/BG/PU/WD/AU/CO)",
                  cmd_acl});

}  // namespace
}  // namespace w32cmd
