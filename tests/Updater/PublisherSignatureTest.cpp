// Publisher signatures through the real libsodium on real files that Debian's
// minisign signed at build time with the test keys (tests/Updater/
// make_signatures.sh): every way a signature file or the data can be wrong
// must be refused, and only the untouched pair accepted.

#include <gtest/gtest.h>
#include <sodium.h>

#include "Http/FaultServer.h"
#include "Updater/PublisherSignature.h"
#include "support/TestSupport.h"

namespace {

using httptest::TestPublicKey;
using httptest::WinePath;
using testsupport::ReadBytes;
typedef SignatureStatus S;

std::string Fixture(const std::string& name)
{
    return ReadBytes(WinePath(std::string(OV_SIGNATURES_DIR) + "/" + name));
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

std::string Join(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines)
        out += line + "\n";
    return out;
}

std::string Decode(const std::string& line)
{
    std::string bin(line.size(), '\0');
    size_t len = 0;
    EXPECT_EQ(0, sodium_base642bin(reinterpret_cast<unsigned char*>(&bin[0]), bin.size(), line.data(), line.size(),
                                   nullptr, &len, nullptr, sodium_base64_VARIANT_ORIGINAL));
    bin.resize(len);
    return bin;
}

std::string Encode(const std::string& bin)
{
    std::string out(sodium_base64_ENCODED_LEN(bin.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(&out[0], out.size(), reinterpret_cast<const unsigned char*>(bin.data()), bin.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    out.resize(strlen(out.c_str()));
    return out;
}

// The signature file with the decoded bytes of line `line` changed by `edit`.
template <typename Edit>
std::string EditDecoded(const std::string& signature, size_t line, Edit edit)
{
    std::vector<std::string> lines = Lines(signature);
    std::string bin = Decode(lines[line]);
    edit(bin);
    lines[line] = Encode(bin);
    return Join(std::vector<std::string>(lines.begin(), lines.begin() + 4));
}

class PublisherSignatureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GE(sodium_init(), 0);
        data_ = Fixture("data.bin");
        good_ = Fixture("data.bin.minisig");
        ASSERT_EQ(300000u, data_.size());
        ASSERT_FALSE(good_.empty());
        ASSERT_FALSE(TestPublicKey("test").empty());
    }

    // Both ways in: over bytes in memory and over a file read through a handle.
    S Check(const PublisherKeys& keys, const std::string& signature, const std::string& data)
    {
        const S bytes = keys.VerifyBytes(signature, data.data(), data.size());
        const std::wstring path = dir_ / L"data.bin";
        EXPECT_TRUE(testsupport::WriteBytes(path, data));
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, file);
        const S viaFile = keys.VerifyFile(signature, file);
        CloseHandle(file);
        EXPECT_EQ(bytes, viaFile) << "memory and file disagree";
        return bytes;
    }

    PublisherKeys TestKey() const { return PublisherKeys({TestPublicKey("test")}); }

    testsupport::TempDir dir_;
    std::string data_;
    std::string good_;
};

TEST_F(PublisherSignatureTest, OnlyTheUntouchedSignatureOverTheUntouchedDataVerifies)
{
    std::string changedData = data_;
    changedData[123456] ^= 0x01;
    std::vector<std::string> lines = Lines(good_);
    std::vector<std::string> commentChanged = lines;
    commentChanged[2] += " ";

    struct Case {
        const char* name;
        std::string signature;
        std::string data;
        S expected;
    } cases[] = {
        {"valid", good_, data_, S::kValid},
        {"valid with CR LF line ends", Join({lines[0] + "\r", lines[1] + "\r", lines[2] + "\r", lines[3] + "\r"}),
         data_, S::kValid},
        {"one data byte changed", good_, changedData, S::kBadSignature},
        {"one data byte appended", good_, data_ + "x", S::kBadSignature},
        {"one signature byte changed", EditDecoded(good_, 1, [](std::string& b) { b[40] ^= 0x20; }), data_,
         S::kBadSignature},
        {"one trusted comment byte changed", Join({lines[0], lines[1], "trusted comment: timestamp:2 file:data.bin hashed", lines[3]}),
         data_, S::kBadComment},
        {"trusted comment extended", Join(std::vector<std::string>(commentChanged.begin(), commentChanged.begin() + 4)),
         data_, S::kBadComment},
        {"one global signature byte changed", EditDecoded(good_, 3, [](std::string& b) { b[0] ^= 0x01; }), data_,
         S::kBadComment},
        {"made with another key", Fixture("data.bin.other.minisig"), data_, S::kUnknownKey},
        // Another publisher's signature claiming our key id: the key decides.
        {"another key under our key id",
         EditDecoded(Fixture("data.bin.other.minisig"), 1,
                     [&](std::string& b) { b.replace(2, 8, Decode(lines[1]).substr(2, 8)); }),
         data_, S::kBadSignature},
        {"key id that matches no key", EditDecoded(good_, 1, [](std::string& b) { b[5] ^= 0x10; }), data_,
         S::kUnknownKey},
        {"non-prehashed kind", Fixture("data.bin.legacy.minisig"), data_, S::kLegacy},
        {"empty", "", data_, S::kMalformed},
        {"truncated to three lines", Join({lines[0], lines[1], lines[2]}), data_, S::kMalformed},
        {"truncated inside the signature line", good_.substr(0, good_.find('\n') + 40), data_, S::kMalformed},
        {"cut at half", good_.substr(0, good_.size() / 2), data_, S::kMalformed},
        {"garbage", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + std::string(200, '\xAB'), data_, S::kMalformed},
        {"no untrusted comment line", Join({"comment: x", lines[1], lines[2], lines[3]}), data_, S::kMalformed},
        {"no trusted comment prefix", Join({lines[0], lines[1], "comment: x", lines[3]}), data_, S::kMalformed},
        {"text after the signature", good_ + "more\n", data_, S::kMalformed},
        {"signature line one byte short", EditDecoded(good_, 1, [](std::string& b) { b.pop_back(); }), data_,
         S::kMalformed},
        {"unknown algorithm", EditDecoded(good_, 1, [](std::string& b) { b[1] = 'X'; }), data_, S::kMalformed},
        {"base64 with trailing junk", Join({lines[0], lines[1] + "!", lines[2], lines[3]}), data_, S::kMalformed},
    };
    const PublisherKeys keys = TestKey();
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, Check(keys, c.signature, c.data)) << c.name;
}

TEST_F(PublisherSignatureTest, KeyListsRotationAndFailingClosed)
{
    const std::string test = TestPublicKey("test");
    const std::string other = TestPublicKey("other");
    const std::string otherSignature = Fixture("data.bin.other.minisig");

    // During a rotation either key's signature is accepted.
    const PublisherKeys both({other, test});
    EXPECT_TRUE(both.Required());
    EXPECT_EQ(2u, both.Count());
    EXPECT_EQ(S::kValid, Check(both, good_, data_));
    EXPECT_EQ(S::kValid, Check(both, otherSignature, data_));

    // Keys that cannot be read leave nothing that could verify: refuse all.
    const PublisherKeys unreadable({"RWQ-not-a-key", test.substr(0, 30)});
    EXPECT_TRUE(unreadable.Required());
    EXPECT_EQ(0u, unreadable.Count());
    EXPECT_EQ(S::kNoKey, Check(unreadable, good_, data_));

    // A build without keys requires nothing (and verifies nothing).
    EXPECT_FALSE(PublisherKeys({}).Required());

    // A key is read from its line or a whole public key file, and nothing else.
    MinisignKey key;
    const std::string file = ReadBytes(WinePath(httptest::TestKeysDir() + "/test.pub"));
    EXPECT_TRUE(ParseMinisignKey(test, key));
    EXPECT_TRUE(ParseMinisignKey(file, key));
    EXPECT_TRUE(ParseMinisignKey(test + "\r\n", key));
    EXPECT_FALSE(ParseMinisignKey("", key));
    EXPECT_FALSE(ParseMinisignKey(test.substr(1), key));
    EXPECT_FALSE(ParseMinisignKey(test + "AAAA", key));
    EXPECT_FALSE(ParseMinisignKey(Lines(good_)[1], key)) << "a signature line is not a key";
}

TEST(SignatureUrl, TheSuffixEndsThePath)
{
    struct Case {
        const wchar_t* url;
        const wchar_t* expected;
    } cases[] = {
        {L"http://h/ovinstall.txt", L"http://h/ovinstall.txt.minisig"},
        {L"https://h:8443/a/ovinstaller.exe?v=3&x=y", L"https://h:8443/a/ovinstaller.exe.minisig?v=3&x=y"},
        {L"http://h/p#frag", L"http://h/p.minisig#frag"},
        {L"", L".minisig"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(std::wstring(c.expected), SignatureUrl(c.url));
}

}  // namespace
