// Security descriptors of the machine's files and folders. Each file or
// folder may carry its descriptor, self-relative and in Windows' binary
// layout, in the extended attribute "user.w32.sd"; one that carries none has
// the descriptor a file or folder gets below a drive's root on a fresh
// system: owned by Administrators, group SYSTEM, and a DACL inherited from
// the root that gives SYSTEM and Administrators full access and Users read
// and execute access.
#include "security.h"

#include <errno.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstring>

#include "machine.h"

namespace w32 {

namespace {

const char kSecurityAttr[] = "user.w32.sd";
const size_t kHeaderSize = sizeof(SECURITY_DESCRIPTOR_RELATIVE);
const WORD kDaclControl = SE_DACL_PRESENT | SE_DACL_DEFAULTED | SE_DACL_AUTO_INHERITED | SE_DACL_PROTECTED;
const WORD kSaclControl = SE_SACL_PRESENT | SE_SACL_DEFAULTED | SE_SACL_AUTO_INHERITED | SE_SACL_PROTECTED;

void put16(std::string* out, WORD v) {
    out->push_back((char)(v & 0xFF));
    out->push_back((char)(v >> 8));
}
void put32(std::string* out, DWORD v) {
    for (int i = 0; i < 4; ++i) out->push_back((char)((v >> (8 * i)) & 0xFF));
}
WORD get16(const BYTE* p) { return (WORD)(p[0] | p[1] << 8); }
DWORD get32(const BYTE* p) { return (DWORD)p[0] | (DWORD)p[1] << 8 | (DWORD)p[2] << 16 | (DWORD)p[3] << 24; }

// A SID of the NT authority (5) with the given sub-authorities.
std::string nt_sid(std::initializer_list<DWORD> subs) {
    std::string sid;
    sid.push_back(1);
    sid.push_back((char)subs.size());
    const char authority[6] = {0, 0, 0, 0, 0, 5};
    sid.append(authority, 6);
    for (DWORD s : subs) put32(&sid, s);
    return sid;
}

std::string allow_ace(BYTE flags, ACCESS_MASK mask, const std::string& sid) {
    std::string ace;
    ace.push_back((char)ACCESS_ALLOWED_ACE_TYPE);
    ace.push_back((char)flags);
    put16(&ace, (WORD)(8 + sid.size()));
    put32(&ace, mask);
    return ace + sid;
}

SecurityParts default_security(bool folder) {
    BYTE inherit = INHERITED_ACE | (folder ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0);
    std::string system = nt_sid({18}), admins = nt_sid({32, 544}), users = nt_sid({32, 545});
    std::string aces = allow_ace(inherit, FILE_ALL_ACCESS, system) + allow_ace(inherit, FILE_ALL_ACCESS, admins) +
                       allow_ace(inherit, 0x1200A9, users);
    SecurityParts parts;
    parts.control = SE_DACL_PRESENT | SE_DACL_AUTO_INHERITED;
    parts.owner = admins;
    parts.group = system;
    parts.dacl = make_acl(ACL_REVISION, 3, aces);
    return parts;
}

// Length of the SID at p within `avail` bytes, or 0 when it is malformed.
size_t sid_length(const BYTE* p, size_t avail) {
    if (avail < 8 || p[0] != 1 || p[1] > 15) return 0;
    size_t n = 8 + 4 * (size_t)p[1];
    return n <= avail ? n : 0;
}

// Checks the list at p within `avail` bytes; returns its size or 0.
size_t acl_length(const BYTE* p, size_t avail) {
    if (avail < sizeof(ACL)) return 0;
    const ACL* acl = reinterpret_cast<const ACL*>(p);
    if ((acl->AclRevision != ACL_REVISION && acl->AclRevision != ACL_REVISION_DS) || acl->AclSize < sizeof(ACL) ||
        acl->AclSize > avail || acl->AclSize % 4)
        return 0;
    size_t at = sizeof(ACL);
    for (WORD i = 0; i < acl->AceCount; ++i) {
        if (at + sizeof(ACE_HEADER) > acl->AclSize) return 0;
        WORD size = get16(p + at + 2);
        if (size < sizeof(ACE_HEADER) || at + size > acl->AclSize) return 0;
        at += size;
    }
    return acl->AclSize;
}

}  // namespace

std::string make_acl(BYTE revision, WORD count, const std::string& aces) {
    std::string acl;
    acl.push_back((char)revision);
    acl.push_back(0);
    put16(&acl, (WORD)(sizeof(ACL) + aces.size()));
    put16(&acl, count);
    put16(&acl, 0);
    return acl + aces;
}

bool parse_security(const void* descriptor, size_t size, SecurityParts* parts, DWORD* error) {
    const BYTE* p = static_cast<const BYTE*>(descriptor);
    *error = ERROR_INVALID_SECURITY_DESCR;
    if (size < kHeaderSize) return false;
    if (p[0] != SECURITY_DESCRIPTOR_REVISION) {
        *error = ERROR_UNKNOWN_REVISION;
        return false;
    }
    WORD control = get16(p + 2);
    if (!(control & SE_SELF_RELATIVE)) return false;
    *parts = SecurityParts();
    parts->control = control & (WORD)~SE_SELF_RELATIVE;
    DWORD owner = get32(p + 4), group = get32(p + 8), sacl = get32(p + 12), dacl = get32(p + 16);
    for (DWORD offset : {owner, group, sacl, dacl})
        if (offset && (offset < kHeaderSize || offset >= size)) return false;
    if (owner) {
        size_t n = sid_length(p + owner, size - owner);
        if (!n) return false;
        parts->owner.assign((const char*)p + owner, n);
    }
    if (group) {
        size_t n = sid_length(p + group, size - group);
        if (!n) return false;
        parts->group.assign((const char*)p + group, n);
    }
    if ((control & SE_SACL_PRESENT) && sacl) {
        size_t n = acl_length(p + sacl, size - sacl);
        if (!n) {
            *error = ERROR_INVALID_ACL;
            return false;
        }
        parts->sacl.assign((const char*)p + sacl, n);
    }
    if ((control & SE_DACL_PRESENT) && dacl) {
        size_t n = acl_length(p + dacl, size - dacl);
        if (!n) {
            *error = ERROR_INVALID_ACL;
            return false;
        }
        parts->dacl.assign((const char*)p + dacl, n);
    }
    return true;
}

std::string build_security(const SecurityParts& parts) {
    std::string body;
    DWORD offsets[4] = {0, 0, 0, 0};  // owner, group, SACL, DACL
    const std::string* pieces[4] = {&parts.owner, &parts.group, &parts.sacl, &parts.dacl};
    for (int i = 0; i < 4; ++i) {
        if (pieces[i]->empty()) continue;
        offsets[i] = (DWORD)(kHeaderSize + body.size());
        body += *pieces[i];
    }
    std::string sd;
    sd.push_back(SECURITY_DESCRIPTOR_REVISION);
    sd.push_back(0);
    put16(&sd, (WORD)(parts.control | SE_SELF_RELATIVE));
    for (DWORD o : offsets) put32(&sd, o);
    return sd + body;
}

bool read_security(const std::string& host, SecurityParts* parts, DWORD* error) {
    struct stat st;
    if (stat(host.c_str(), &st) != 0) {
        *error = error_from_errno(errno);
        return false;
    }
    char buf[65536];
    ssize_t n = getxattr(host.c_str(), kSecurityAttr, buf, sizeof buf);
    if (n < 0) {
        *parts = default_security(S_ISDIR(st.st_mode));
        return true;
    }
    return parse_security(buf, (size_t)n, parts, error);
}

bool write_security(const std::string& host, const SecurityParts& parts, DWORD* error) {
    std::string sd = build_security(parts);
    if (setxattr(host.c_str(), kSecurityAttr, sd.data(), sd.size(), 0) != 0) {
        *error = error_from_errno(errno);
        return false;
    }
    return true;
}

}  // namespace w32

namespace {

// The descriptor of an existing file or folder named by a Windows path.
bool file_security(LPCSTR path, std::string* host, w32::SecurityParts* parts) {
    w32::Resolved r = w32::resolve_path(path);
    if (r.error) return w32::fail(r.error);
    struct stat st;
    if (lstat(r.host.c_str(), &st) != 0) return w32::fail(w32::missing_code(r));
    DWORD error = 0;
    if (!w32::read_security(r.host, parts, &error)) return w32::fail(error);
    *host = r.host;
    return TRUE;
}

}  // namespace

BOOL GetFileSecurityA(LPCSTR lpFileName, SECURITY_INFORMATION RequestedInformation,
                      PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength, LPDWORD lpnLengthNeeded) {
    std::string host;
    w32::SecurityParts stored;
    if (!file_security(lpFileName, &host, &stored)) return FALSE;
    w32::SecurityParts wanted;
    if (RequestedInformation & OWNER_SECURITY_INFORMATION) {
        wanted.owner = stored.owner;
        wanted.control |= stored.control & SE_OWNER_DEFAULTED;
    }
    if (RequestedInformation & GROUP_SECURITY_INFORMATION) {
        wanted.group = stored.group;
        wanted.control |= stored.control & SE_GROUP_DEFAULTED;
    }
    if (RequestedInformation & DACL_SECURITY_INFORMATION) {
        wanted.dacl = stored.dacl;
        wanted.control |= stored.control & w32::kDaclControl;
    }
    if (RequestedInformation & SACL_SECURITY_INFORMATION) {
        wanted.sacl = stored.sacl;
        wanted.control |= stored.control & w32::kSaclControl;
    }
    std::string sd = w32::build_security(wanted);
    if (lpnLengthNeeded) *lpnLengthNeeded = (DWORD)sd.size();
    if (!pSecurityDescriptor || nLength < sd.size()) return w32::fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(pSecurityDescriptor, sd.data(), sd.size());
    return TRUE;
}

BOOL SetFileSecurityA(LPCSTR lpFileName, SECURITY_INFORMATION SecurityInformation,
                      PSECURITY_DESCRIPTOR pSecurityDescriptor) {
    if (!pSecurityDescriptor) return w32::fail(ERROR_INVALID_SECURITY_DESCR);
    // The given descriptor's size is not passed; its parts are found through
    // their offsets and each part carries its own size.
    w32::SecurityParts given;
    DWORD error = 0;
    if (!w32::parse_security(pSecurityDescriptor, 0xFFFF, &given, &error)) return w32::fail(error);
    std::string host;
    w32::SecurityParts stored;
    if (!file_security(lpFileName, &host, &stored)) return FALSE;
    if (SecurityInformation & OWNER_SECURITY_INFORMATION) {
        if (given.owner.empty()) return w32::fail(ERROR_INVALID_SECURITY_DESCR);
        stored.owner = given.owner;
    }
    if (SecurityInformation & GROUP_SECURITY_INFORMATION) {
        if (given.group.empty()) return w32::fail(ERROR_INVALID_SECURITY_DESCR);
        stored.group = given.group;
    }
    if (SecurityInformation & DACL_SECURITY_INFORMATION) {
        // A descriptor without a DACL sets a null DACL, as on Windows.
        stored.dacl = given.dacl;
        stored.control = (WORD)((stored.control & ~w32::kDaclControl) | (given.control & w32::kDaclControl) |
                                SE_DACL_PRESENT);
    }
    if (SecurityInformation & SACL_SECURITY_INFORMATION) {
        stored.sacl = given.sacl;
        stored.control = (WORD)((stored.control & ~w32::kSaclControl) | (given.control & w32::kSaclControl));
    }
    if (!w32::write_security(host, stored, &error)) return w32::fail(error);
    return TRUE;
}

BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, LPBOOL lpbDaclPresent, PACL* pDacl,
                               LPBOOL lpbDaclDefaulted) {
    // Only the self-relative form is understood: it is the form that
    // GetFileSecurityA hands out.
    if (!pSecurityDescriptor) return w32::fail(ERROR_INVALID_SECURITY_DESCR);
    const BYTE* p = static_cast<const BYTE*>(pSecurityDescriptor);
    if (p[0] != SECURITY_DESCRIPTOR_REVISION) return w32::fail(ERROR_UNKNOWN_REVISION);
    WORD control = w32::get16(p + 2);
    if (!(control & SE_SELF_RELATIVE)) return w32::fail(ERROR_INVALID_SECURITY_DESCR);
    *lpbDaclPresent = (control & SE_DACL_PRESENT) ? TRUE : FALSE;
    if (!*lpbDaclPresent) return TRUE;
    DWORD offset = w32::get32(p + 16);
    *pDacl = offset ? (PACL)(p + offset) : NULL;
    if (lpbDaclDefaulted) *lpbDaclDefaulted = (control & SE_DACL_DEFAULTED) ? TRUE : FALSE;
    return TRUE;
}

BOOL GetAclInformation(PACL pAcl, LPVOID pAclInformation, DWORD nAclInformationLength,
                       ACL_INFORMATION_CLASS dwAclInformationClass) {
    if (!pAcl || !pAclInformation) return w32::fail(ERROR_INVALID_PARAMETER);
    if (dwAclInformationClass == AclRevisionInformation) {
        if (nAclInformationLength < sizeof(ACL_REVISION_INFORMATION)) return w32::fail(ERROR_INSUFFICIENT_BUFFER);
        static_cast<ACL_REVISION_INFORMATION*>(pAclInformation)->AclRevision = pAcl->AclRevision;
        return TRUE;
    }
    if (dwAclInformationClass != AclSizeInformation) return w32::fail(ERROR_INVALID_PARAMETER);
    if (nAclInformationLength < sizeof(ACL_SIZE_INFORMATION)) return w32::fail(ERROR_INSUFFICIENT_BUFFER);
    if (!w32::acl_length(reinterpret_cast<const BYTE*>(pAcl), pAcl->AclSize)) return w32::fail(ERROR_INVALID_ACL);
    const BYTE* p = reinterpret_cast<const BYTE*>(pAcl);
    size_t used = sizeof(ACL);
    for (WORD i = 0; i < pAcl->AceCount; ++i) used += w32::get16(p + used + 2);
    auto* info = static_cast<ACL_SIZE_INFORMATION*>(pAclInformation);
    info->AceCount = pAcl->AceCount;
    info->AclBytesInUse = (DWORD)used;
    info->AclBytesFree = (DWORD)(pAcl->AclSize - used);
    return TRUE;
}

BOOL GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce) {
    if (!pAcl || !pAce || dwAceIndex >= pAcl->AceCount) return w32::fail(ERROR_INVALID_PARAMETER);
    if (!w32::acl_length(reinterpret_cast<const BYTE*>(pAcl), pAcl->AclSize)) return w32::fail(ERROR_INVALID_ACL);
    BYTE* p = reinterpret_cast<BYTE*>(pAcl);
    size_t at = sizeof(ACL);
    for (DWORD i = 0; i < dwAceIndex; ++i) at += w32::get16(p + at + 2);
    *pAce = p + at;
    return TRUE;
}
