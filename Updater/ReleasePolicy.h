#pragma once
// Releases that cannot be replayed. A publisher's signature says who made a
// manifest or a package, not when: anybody on the network path could serve an
// older signed release (with the faults it was replaced for) for ever, or keep
// serving the last one so that no newer release ever arrives. So a signed
// build asks more of what it verified:
// - the manifest's "Version" is a dotted decimal (digits and single dots, at
//   most 64 characters) no lower than the build's floor (OV_MIN_PACKAGE_VERSION),
//   compared part by part as numbers; missing parts count as 0, so 2.1 equals
//   2.1.0 and 2.10 is above 2.9;
// - the manifest carries "Expires", a UTC time written YYYY-MM-DDTHH:MM:SSZ,
//   that has not passed. A build made with OV_MANIFEST_EXPIRY=OFF accepts a
//   manifest without one, but a past or malformed one is refused in any
//   build: the publisher said the manifest ends then. The clock never counts
//   as earlier than the build's own date, so a machine whose clock is years
//   behind does not revive every manifest that ever expired;
// - the manifest names the package's "Size" (decimal digits, above 0) and
//   "Md5" (32 hexadecimal digits): the download then has a bound and a check;
// - the package signature's trusted comment names a version: exactly the
//   manifest's "Version" for a downloaded package (so an old signed package
//   cannot stand in for the new one under a fresh manifest), and one no lower
//   than the floor for a package shipped beside the program, which has no
//   manifest.
//
// The package signature's trusted comment is a list of fields "name=value"
// separated by single spaces: a name of lower-case letters, digits and "-",
// a value of printable ASCII other than the space, each name at most once,
// nothing before, between or after them. scripts/sign-release.sh writes
// "version=<Version> size=<bytes> md5=<hex>". The installer needs "version"
// and ignores names it does not know, so a later publisher may add fields;
// a comment in any other shape (minisign's default "timestamp:..." included)
// names no version and is refused.
//
// An unsigned build (no publisher key) verifies nothing, and none of this
// applies to it; the callers decide that.
//
// Threads: any; no state.

#include <cstdint>
#include <string>

struct UpdateManifestValues;

struct ReleasePolicy {
    // The lowest version accepted: a dotted decimal ("0" accepts any).
    std::string floor = "0";
    // A manifest without "Expires" is refused.
    bool expiryRequired = true;
    // Seconds since 1970 UTC of the build; the clock never counts as earlier.
    int64_t buildTime = 0;

    // What this program was built with (Updater/Endpoints.h).
    static ReleasePolicy Compiled();
    // The system clock in seconds since 1970 UTC, or the build time when that
    // is later.
    int64_t Now() const;
};

enum class ReleaseVerdict {
    kOk,
    kVersion,         // "Version" is no dotted decimal, or is below the floor
    kExpiry,          // "Expires" is missing (when required), malformed or past
    kIncomplete,      // "Size" or "Md5" is missing or malformed
    kCommentVersion,  // the package's trusted comment names no version, another one, or one below the floor
};

const wchar_t* ReleaseVerdictName(ReleaseVerdict verdict);

// The manifest's values, checked in the order of the verdicts above.
ReleaseVerdict CheckManifestRelease(const ReleasePolicy& policy, const UpdateManifestValues& values);

// The verified trusted comment of a package's signature. `manifestVersion` is
// the version the manifest named, or null for a package shipped beside the
// program.
ReleaseVerdict CheckPackageRelease(const ReleasePolicy& policy, const std::string& trustedComment,
                                   const std::wstring* manifestVersion);

// The pieces, for the checks above and their tests.
bool IsDottedVersion(const std::string& text);
// Negative, 0 or positive as `a` is below, equal to or above `b` (both dotted
// decimals).
int CompareVersions(const std::string& a, const std::string& b);
// YYYY-MM-DDTHH:MM:SSZ, a real date and time, as seconds since 1970 UTC.
bool ParseUtcTime(const std::wstring& text, int64_t& seconds);
// The value of field `name` of a trusted comment in the format above; false
// when the comment is not in that format or lacks the field.
bool TrustedCommentField(const std::string& comment, const std::string& name, std::string& value);
