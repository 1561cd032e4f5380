#include "Updater/PublisherSignature.h"

#include <sodium.h>

#include <cstring>

#include "Updater/Endpoints.h"

namespace {

const char kUntrustedPrefix[] = "untrusted comment: ";
const char kTrustedPrefix[] = "trusted comment: ";
const size_t kHashBytes = 64;
const size_t kSignatureLineBytes = 2 + 8 + 64;
const size_t kKeyLineBytes = 2 + 8 + 32;
const DWORD kReadChunk = 1 << 20;

// The lines of `text`, each without its LF or CR LF.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, strlen(prefix), prefix) == 0;
}

// Exactly `want` bytes of standard base64 (with padding), and nothing else on
// the line.
bool DecodeExactly(const std::string& line, uint8_t* out, size_t want)
{
    size_t got = 0;
    const char* end = nullptr;
    if (sodium_base642bin(out, want, line.data(), line.size(), nullptr, &got, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return false;
    return got == want && end == line.data() + line.size();
}

bool SodiumReady()
{
    // Thread-safe, and cheap after the first call.
    return sodium_init() >= 0;
}

}  // namespace

const wchar_t* SignatureStatusName(SignatureStatus status)
{
    switch (status) {
    case SignatureStatus::kValid: return L"valid";
    case SignatureStatus::kMalformed: return L"malformed";
    case SignatureStatus::kLegacy: return L"legacy kind refused";
    case SignatureStatus::kUnknownKey: return L"unknown key";
    case SignatureStatus::kBadSignature: return L"bad signature";
    case SignatureStatus::kBadComment: return L"bad trusted comment";
    case SignatureStatus::kNoKey: return L"no usable key";
    case SignatureStatus::kUnreadable: return L"data unreadable";
    }
    return L"?";
}

bool ParseMinisignKey(const std::string& text, MinisignKey& key)
{
    std::vector<std::string> lines = Lines(text);
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    if (lines.size() == 2 && StartsWith(lines[0], kUntrustedPrefix))
        lines.erase(lines.begin());
    if (lines.size() != 1)
        return false;
    uint8_t raw[kKeyLineBytes];
    if (!DecodeExactly(lines[0], raw, sizeof raw) || raw[0] != 'E' || raw[1] != 'd')
        return false;
    memcpy(key.id, raw + 2, sizeof key.id);
    memcpy(key.key, raw + 10, sizeof key.key);
    return true;
}

SignatureStatus ParseMinisignSignature(const std::string& text, MinisignSignature& signature)
{
    std::vector<std::string> lines = Lines(text);
    if (lines.size() < 4)
        return SignatureStatus::kMalformed;
    for (size_t i = 4; i < lines.size(); ++i)
        if (lines[i].find_first_not_of(" \t") != std::string::npos)
            return SignatureStatus::kMalformed;
    if (!StartsWith(lines[0], kUntrustedPrefix) || !StartsWith(lines[2], kTrustedPrefix))
        return SignatureStatus::kMalformed;

    uint8_t raw[kSignatureLineBytes];
    if (!DecodeExactly(lines[1], raw, sizeof raw) || !DecodeExactly(lines[3], signature.globalSignature, 64))
        return SignatureStatus::kMalformed;
    if (raw[0] != 'E' || (raw[1] != 'D' && raw[1] != 'd'))
        return SignatureStatus::kMalformed;
    signature.prehashed = raw[1] == 'D';
    memcpy(signature.keyId, raw + 2, sizeof signature.keyId);
    memcpy(signature.signature, raw + 10, sizeof signature.signature);
    signature.trustedComment = lines[2].substr(strlen(kTrustedPrefix));
    return signature.prehashed ? SignatureStatus::kValid : SignatureStatus::kLegacy;
}

// --- PublisherKeys ----------------------------------------------------------------

PublisherKeys::PublisherKeys(const std::vector<std::string>& texts) : required_(!texts.empty())
{
    for (const std::string& text : texts) {
        MinisignKey key;
        if (ParseMinisignKey(text, key))
            keys_.push_back(key);
    }
}

PublisherKeys PublisherKeys::Compiled()
{
    std::vector<std::string> texts;
    for (const char* const* key = PublisherKeyTexts(); *key; ++key)
        texts.push_back(*key);
    return PublisherKeys(texts);
}

SignatureStatus PublisherKeys::Prepare(const std::string& signatureFile, MinisignSignature& signature) const
{
    if (keys_.empty() || !SodiumReady())
        return SignatureStatus::kNoKey;
    return ParseMinisignSignature(signatureFile, signature);
}

SignatureStatus PublisherKeys::VerifyHash(const MinisignSignature& signature, const uint8_t hash[64]) const
{
    for (const MinisignKey& key : keys_) {
        if (memcmp(key.id, signature.keyId, sizeof key.id) != 0)
            continue;
        if (crypto_sign_verify_detached(signature.signature, hash, kHashBytes, key.key) != 0)
            return SignatureStatus::kBadSignature;
        // The trusted comment is signed together with the signature itself.
        std::string signedComment(reinterpret_cast<const char*>(signature.signature), sizeof signature.signature);
        signedComment += signature.trustedComment;
        if (crypto_sign_verify_detached(signature.globalSignature,
                                        reinterpret_cast<const unsigned char*>(signedComment.data()),
                                        signedComment.size(), key.key) != 0)
            return SignatureStatus::kBadComment;
        return SignatureStatus::kValid;
    }
    return SignatureStatus::kUnknownKey;
}

SignatureStatus PublisherKeys::VerifyBytes(const std::string& signatureFile, const void* data, size_t size) const
{
    MinisignSignature signature;
    const SignatureStatus parsed = Prepare(signatureFile, signature);
    if (parsed != SignatureStatus::kValid)
        return parsed;
    uint8_t hash[kHashBytes];
    if (crypto_generichash(hash, sizeof hash, static_cast<const unsigned char*>(data), size, nullptr, 0) != 0)
        return SignatureStatus::kUnreadable;
    return VerifyHash(signature, hash);
}

SignatureStatus PublisherKeys::VerifyFile(const std::string& signatureFile, HANDLE file,
                                          std::string* trustedComment) const
{
    MinisignSignature signature;
    const SignatureStatus parsed = Prepare(signatureFile, signature);
    if (parsed != SignatureStatus::kValid)
        return parsed;

    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return SignatureStatus::kUnreadable;
    crypto_generichash_state state;
    if (crypto_generichash_init(&state, nullptr, 0, kHashBytes) != 0)
        return SignatureStatus::kUnreadable;
    std::vector<unsigned char> chunk(kReadChunk);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk.data(), kReadChunk, &got, nullptr))
            return SignatureStatus::kUnreadable;
        if (got == 0)
            break;
        crypto_generichash_update(&state, chunk.data(), got);
    }
    uint8_t hash[kHashBytes];
    if (crypto_generichash_final(&state, hash, sizeof hash) != 0)
        return SignatureStatus::kUnreadable;
    const SignatureStatus status = VerifyHash(signature, hash);
    if (status == SignatureStatus::kValid && trustedComment)
        *trustedComment = signature.trustedComment;
    return status;
}

std::wstring SignatureUrl(const std::wstring& url)
{
    const size_t end = url.find_first_of(L"?#");
    std::wstring out = url;
    out.insert(end == std::wstring::npos ? out.size() : end, L".minisig");
    return out;
}
