#include "Runtime/FileSecurity.h"

#include <aclapi.h>
#include <sddl.h>

namespace {

// Rights that let a holder change what the file says or who may change it.
const ACCESS_MASK kModifyingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER |
                                     GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;

// SYSTEM, Administrators, TrustedInstaller: the accounts a standard user
// cannot act as.
const wchar_t* const kAdministratorSids[] = {
    L"S-1-5-18",
    L"S-1-5-32-544",
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
};

// Rights on a folder that change what is in it without touching its files'
// own descriptors, and what a reparse point is set with.
const ACCESS_MASK kFolderModifyingRights = FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA;

const wchar_t kInstallerFileSddl[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;BU)";
const wchar_t kStagingFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";
const wchar_t* const kCreatorOwnerSid[] = {L"S-1-3-0"};

bool SidIsOneOf(PSID sid, const wchar_t* const* texts, size_t count)
{
    if (!sid || !IsValidSid(sid))
        return false;
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return false;
    bool found = false;
    for (size_t i = 0; i < count; ++i)
        found = found || lstrcmpiW(text, texts[i]) == 0;
    LocalFree(text);
    return found;
}

bool IsAdministratorSid(PSID sid)
{
    return SidIsOneOf(sid, kAdministratorSids, sizeof kAdministratorSids / sizeof kAdministratorSids[0]);
}

// The grant of one ACE to someone other than an administrator, or 0. Object
// ACEs (never found on files) are judged by their rights alone.
ACCESS_MASK ForeignGrant(const ACE_HEADER* header, ProtectedObject what)
{
    // An inherit-only entry applies to what a folder will hold, not to the
    // object itself: harmless on a file, but on a folder the installer's
    // files would carry it (CREATOR OWNER's becomes their creator's).
    const bool inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
    if (inheritOnly && what == ProtectedObject::kFile)
        return 0;
    switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
        // Both share the layout: header, mask, SID.
        const ACCESS_ALLOWED_ACE* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        PSID sid = const_cast<DWORD*>(&ace->SidStart);
        if (IsAdministratorSid(sid) || (inheritOnly && SidIsOneOf(sid, kCreatorOwnerSid, 1)))
            return 0;
        return ace->Mask;
    }
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        return reinterpret_cast<const ACCESS_ALLOWED_OBJECT_ACE*>(header)->Mask;
    default:
        return 0;  // deny and audit entries grant nothing
    }
}

}  // namespace

SecurityDescriptor SecurityDescriptor::FromSddl(const std::wstring& sddl)
{
    SecurityDescriptor result;
    PSECURITY_DESCRIPTOR sd = nullptr;
    ULONG size = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, &size))
        return result;
    result.bytes_.resize((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    memcpy(result.bytes_.data(), sd, size);
    LocalFree(sd);
    return result;
}

SecurityDescriptor SecurityDescriptor::OfFile(HANDLE file)
{
    SecurityDescriptor result;
    PSECURITY_DESCRIPTOR sd = nullptr;
    const DWORD rc = GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                     nullptr, nullptr, nullptr, nullptr, &sd);
    if (rc != ERROR_SUCCESS) {
        SetLastError(rc);
        return result;
    }
    const DWORD size = GetSecurityDescriptorLength(sd);
    result.bytes_.resize((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    memcpy(result.bytes_.data(), sd, size);
    LocalFree(sd);
    return result;
}

PSECURITY_DESCRIPTOR SecurityDescriptor::Get() const
{
    return bytes_.empty() ? nullptr : const_cast<DWORD*>(bytes_.data());
}

std::wstring SecurityDescriptor::ToSddl() const
{
    LPWSTR text = nullptr;
    if (Empty() || !ConvertSecurityDescriptorToStringSecurityDescriptorW(
                       Get(), SDDL_REVISION_1,
                       OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
                       nullptr))
        return std::wstring();
    std::wstring result = text;
    LocalFree(text);
    return result;
}

bool OwnedByAdministrators(PSECURITY_DESCRIPTOR sd)
{
    if (!sd || !IsValidSecurityDescriptor(sd))
        return false;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    return GetSecurityDescriptorOwner(sd, &owner, &defaulted) && IsAdministratorSid(owner);
}

bool OnlyAdministratorsCanChange(PSECURITY_DESCRIPTOR sd, ProtectedObject what)
{
    if (!OwnedByAdministrators(sd))
        return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) || !present || !dacl)
        return false;  // no DACL: everyone may do everything
    ACL_SIZE_INFORMATION info = {};
    if (!GetAclInformation(dacl, &info, sizeof info, AclSizeInformation))
        return false;
    for (DWORD i = 0; i < info.AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace))
            return false;
        const ACCESS_MASK rights =
            kModifyingRights | (what == ProtectedObject::kFolder ? kFolderModifyingRights : 0);
        if (ForeignGrant(static_cast<const ACE_HEADER*>(ace), what) & rights)
            return false;
    }
    return true;
}

const SecurityDescriptor& InstallerFileSecurity()
{
    static const SecurityDescriptor sd = SecurityDescriptor::FromSddl(kInstallerFileSddl);
    return sd;
}

const SecurityDescriptor& StagingFolderSecurity()
{
    static const SecurityDescriptor sd = SecurityDescriptor::FromSddl(kStagingFolderSddl);
    return sd;
}

namespace {

// Creates the file empty with the installer's descriptor and returns it open
// with `access`; fails if anything is at that name.
HANDLE OpenNewSecuredFile(const std::wstring& path, DWORD access)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, InstallerFileSecurity().Get(), FALSE};
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ, &sa, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool CreateSecuredFile(const std::wstring& path)
{
    HANDLE file = OpenNewSecuredFile(path, GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

// Owner Administrators and the protected DACL on the open file.
bool SecureOpenFile(HANDLE file)
{
    BYTE ownerBuffer[SECURITY_MAX_SID_SIZE];
    DWORD ownerSize = sizeof ownerBuffer;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, ownerBuffer, &ownerSize))
        return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(InstallerFileSecurity().Get(), &present, &dacl, &defaulted) || !dacl)
        return false;
    const SECURITY_INFORMATION what =
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    const DWORD rc = SetSecurityInfo(file, SE_FILE_OBJECT, what, ownerBuffer, nullptr, dacl, nullptr);
    SetLastError(rc);
    return rc == ERROR_SUCCESS;
}

}  // namespace

namespace {

// Removes a link itself, never what it points at.
bool RemoveLink(const std::wstring& path, DWORD attrs)
{
    return (attrs & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
}

}  // namespace

bool PrepareInstallerFile(const std::wstring& path)
{
    const DWORD attrs = GetFileAttributesW(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND && CreateSecuredFile(path);
    if (attrs & FILE_ATTRIBUTE_REPARSE_POINT)
        return RemoveLink(path, attrs) && CreateSecuredFile(path);
    if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    // Only the rights to rewrite the descriptor: no data access, so no share
    // mode of another opener stands in the way. A link that appeared since
    // is opened itself, never followed.
    HANDLE file = CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info = {};
        const bool known = GetFileInformationByHandle(file, &info) != FALSE;
        const bool plain =
            known && !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
        // A second name of the same file (a hard link someone made to a file
        // of theirs): its bytes are not ours to keep, nor to write.
        const bool oneName = known && info.nNumberOfLinks <= 1;
        const bool secured = plain && oneName && SecureOpenFile(file);
        CloseHandle(file);
        if (secured)
            return true;
        if (!plain && known)
            return RemoveLink(path, info.dwFileAttributes) && CreateSecuredFile(path);
    } else if (GetLastError() != ERROR_ACCESS_DENIED) {
        return false;
    }
    // Someone else's file that keeps us from its descriptor: it goes (the
    // folder grants administrators the right to delete what is in it), and
    // ours takes its place.
    return DeleteFileW(path.c_str()) && CreateSecuredFile(path);
}

HANDLE CreateFreshInstallerFile(const std::wstring& path, DWORD access)
{
    const DWORD attrs = GetFileAttributesW(path.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES) {
        if ((attrs & FILE_ATTRIBUTE_DIRECTORY) && !(attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
            SetLastError(ERROR_DIRECTORY);
            return INVALID_HANDLE_VALUE;
        }
        if (!RemoveLink(path, attrs))
            return INVALID_HANDLE_VALUE;
    } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        return INVALID_HANDLE_VALUE;
    }
    // Created new: nothing else can be at the name now, and the file has one
    // name only.
    return OpenNewSecuredFile(path, access);
}
