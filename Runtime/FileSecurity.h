#pragma once
// Who may change a file, read from its security descriptor, and the
// descriptor the installer gives the files it writes for itself.
//
// The installer runs elevated. A file it trusts (an ini that names a program
// to start) or writes and reads back (its package, the partial download, the
// manifest copy) must not be open to changes by a standard user, who on
// Windows 10/11 may create files in the common application-data folder and
// gets write access to every folder created under the root of a data drive.
//
// The decisions are pure functions of a descriptor, so they are tested on
// descriptors given as SDDL text, as Windows 10/11 set them on real files
// (Wine keeps no owners or ACLs of its own).
//
// Threads: any; no state beyond a constant descriptor built on first use.

#include <windows.h>

#include <string>
#include <vector>

// A self-relative security descriptor owned in memory.
class SecurityDescriptor {
public:
    SecurityDescriptor() = default;

    // Empty when the text does not parse.
    static SecurityDescriptor FromSddl(const std::wstring& sddl);
    // Owner and DACL of an open file (the handle needs READ_CONTROL); empty
    // on failure, with the system's error as the last error.
    static SecurityDescriptor OfFile(HANDLE file);

    bool Empty() const { return bytes_.empty(); }
    // Null when empty.
    PSECURITY_DESCRIPTOR Get() const;
    // Owner, group and DACL as SDDL, for logs and test messages.
    std::wstring ToSddl() const;

private:
    // DWORD elements: a self-relative descriptor wants 4-byte alignment.
    std::vector<DWORD> bytes_;
};

// True when SYSTEM, Administrators or TrustedInstaller owns the file.
bool OwnedByAdministrators(PSECURITY_DESCRIPTOR sd);

// What a descriptor protects: a folder can also be changed through what is
// in it, so more rights count there.
enum class ProtectedObject { kFile, kFolder };

// True when only SYSTEM, Administrators and TrustedInstaller can change the
// object: one of them owns it (an owner may always rewrite the DACL), there
// is a DACL (none grants everyone everything), and no access-allowed entry
// that applies to the object itself gives anyone else write, append, delete,
// WRITE_DAC or WRITE_OWNER, directly or through GENERIC_WRITE/GENERIC_ALL.
// For a folder, also deleting what is in it, writing its attributes or
// extended attributes (a reparse point is set through them), and entries
// that only its future contents inherit (except CREATOR OWNER's, which
// becomes whoever creates the file, and only administrators may): files the
// installer makes there would carry those grants.
// Deny entries are not counted on: they cannot make a grant safe here.
bool OnlyAdministratorsCanChange(PSECURITY_DESCRIPTOR sd, ProtectedObject what = ProtectedObject::kFile);

// The descriptor of the files the installer writes for itself: a DACL
// protected from inheritance, SYSTEM and Administrators full control, Users
// read and execute. No owner: a file an elevated administrator creates is
// owned by Administrators.
const SecurityDescriptor& InstallerFileSecurity();

// The descriptor of the folder the installer stages its files in: owned by
// Administrators, a protected DACL giving SYSTEM and Administrators full
// control and Users read and execute, inherited by what is made inside.
const SecurityDescriptor& StagingFolderSecurity();

// Gives the file at `path` the installer's descriptor with Administrators as
// owner, keeping its content (a partial download resumes), or creates it
// empty with that descriptor when it does not exist. A link or reparse point
// at that name, a file with more than one name (a hard link: writing to it
// would write to the other name's file too), or a file whose descriptor
// cannot be replaced, is deleted and created anew (deleting a name never
// touches another name's file). False when none of that works (a directory
// at that name, a file that cannot be deleted); the last error then tells why.
bool PrepareInstallerFile(const std::wstring& path);

// Whatever is at `path` goes (a link itself, never what it points to), and
// a new empty file with the installer's descriptor takes its place, opened
// with `access` and shared for reading only. INVALID_HANDLE_VALUE, with the
// last error set, when that cannot be done (a directory at that name).
HANDLE CreateFreshInstallerFile(const std::wstring& path, DWORD access);
