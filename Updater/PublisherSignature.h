#pragma once
// Publisher signatures: detached minisign signatures over what the installer
// downloads, checked against the public keys built into the program.
//
// A signature file has four lines: an untrusted comment, the signature ("ED",
// the key id, and an Ed25519 signature over the BLAKE2b-512 hash of the data),
// a trusted comment, and a global signature over the signature and the trusted
// comment. Only that kind (minisign's default, the "prehashed" kind) is
// accepted: the older kind signs the data itself, which would need a whole
// package in memory, and the signing side is ours, so nothing needs it.
// This unit only reads the file format; libsodium does all the cryptography.
//
// Threads: any. A PublisherKeys object is immutable after construction.

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct MinisignKey {
    uint8_t id[8];
    uint8_t key[32];
};

struct MinisignSignature {
    bool prehashed = false;  // "ED"; false for the older "Ed" kind
    uint8_t keyId[8] = {};
    uint8_t signature[64] = {};
    std::string trustedComment;  // the text after "trusted comment: "
    uint8_t globalSignature[64] = {};
};

// Why a signature was not accepted (kValid when it was).
enum class SignatureStatus {
    kValid,
    kMalformed,     // not a signature file: wrong lines, bad encoding, wrong lengths
    kLegacy,        // the older, non-prehashed kind: refused
    kUnknownKey,    // made with a key id none of our keys has
    kBadSignature,  // does not verify over these bytes with that key
    kBadComment,    // the trusted comment (or the global signature) was changed
    kNoKey,         // signatures are required but no configured key could be read
    kUnreadable,    // the data could not be read
};

const wchar_t* SignatureStatusName(SignatureStatus status);

// The key line of a public key file ("RW..."), or a whole file (its comment
// line, then the key line). False for anything else.
bool ParseMinisignKey(const std::string& text, MinisignKey& key);

// kValid, kMalformed or kLegacy (the older kind is parsed, then refused by the
// caller). Line ends may be LF or CR LF; nothing but blank lines may follow
// the fourth line.
SignatureStatus ParseMinisignSignature(const std::string& text, MinisignSignature& signature);

class PublisherKeys {
public:
    // `texts` as configured (see ParseMinisignKey). An empty list means an
    // unsigned build: nothing is required. A list whose keys cannot be read
    // requires signatures that nothing can satisfy, so it fails closed.
    explicit PublisherKeys(const std::vector<std::string>& texts);
    // The keys this program was built with (Updater/Endpoints.h).
    static PublisherKeys Compiled();

    // False only for an unsigned build.
    bool Required() const { return required_; }
    size_t Count() const { return keys_.size(); }

    // `signatureFile` over exactly `size` bytes at `data`.
    SignatureStatus VerifyBytes(const std::string& signatureFile, const void* data, size_t size) const;
    // `signatureFile` over the whole content of `file`, read through that
    // handle from its first byte (the file position is moved). When it is
    // valid, `trustedComment` (if not null) receives its verified trusted
    // comment.
    SignatureStatus VerifyFile(const std::string& signatureFile, HANDLE file,
                               std::string* trustedComment = nullptr) const;

private:
    SignatureStatus VerifyHash(const MinisignSignature& signature, const uint8_t hash[64]) const;
    SignatureStatus Prepare(const std::string& signatureFile, MinisignSignature& signature) const;

    bool required_ = false;
    std::vector<MinisignKey> keys_;
};

// "<url>.minisig", the signature's address: the suffix goes at the end of the
// path, before a query or fragment, so a static server finds the file beside
// the signed one.
std::wstring SignatureUrl(const std::wstring& url);
