// Bad-input campaign: seeded random damage through every parser and decoder
// that reads data from outside the program (manifests from the network, the
// skin's layout documents, image strings and HTML-like label text, the skin
// archive and its PNG files). Meant for the hardened build, where undefined
// behaviour traps and a libstdc++ assertion aborts; both are reported with the
// campaign and input number that reproduce them.
//
//   bad_input_campaign.exe [count [seed [seconds [campaign [first]]]]]
//
// count    inputs per campaign (default 10000)
// seed     base seed (default 20240801); each input has its own generator
//          seeded from (seed, campaign, input), so one input is rerun with
//          "count=1 first=N campaign=NAME"
// seconds  time bound per campaign (default 300); a campaign cut short says so
// campaign run only this one (manifest, layout, imagestring, zip, png, html)
//
// Exit: 0 when every campaign ran clean, 1 when a result broke a promise of
// the code under test (printed as FINDING), 3 on an assertion (abort), 4 on a
// trap or any other fault.

#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Mutators.h"
#include "Runtime/TextUtil.h"
#include "UiTestSupport.h"
#include "Updater/UpdateManifest.h"
#include "ui/Container.h"
#include "ui/HtmlText.h"
#include "ui/ImageLoader.h"
#include "ui/ImageString.h"
#include "ui/LayoutBuilder.h"
#include "ui/PaintHost.h"
#include "ui/SkinResources.h"
#include "ui/ZipArchive.h"

namespace {

// Where the campaign is, for the fault handlers.
volatile const char* g_campaign = "start-up";
volatile long g_input = -1;
int g_findings = 0;

void Report(const char* what) {
    std::fprintf(stderr, "\n%s in campaign %s, input %ld\n", what, const_cast<const char*>(g_campaign), g_input);
    std::fflush(stderr);
    std::fflush(stdout);
}

void OnAbort(int) {
    Report("ASSERTION (abort)");
    _exit(3);
}

LONG WINAPI OnFault(EXCEPTION_POINTERS* info) {
    char what[160];
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    std::snprintf(what, sizeof what, "%s 0x%08lX at %p",
                  code == EXCEPTION_ILLEGAL_INSTRUCTION ? "TRAP (undefined behaviour)" : "FAULT",
                  static_cast<unsigned long>(code), info->ExceptionRecord->ExceptionAddress);
    Report(what);
    TerminateProcess(GetCurrentProcess(), 4);
    return EXCEPTION_EXECUTE_HANDLER;
}

void Finding(const char* text) {
    ++g_findings;
    std::fprintf(stderr, "FINDING in campaign %s, input %ld: %s\n", const_cast<const char*>(g_campaign), g_input, text);
}

struct Options {
    long count = 10000;
    unsigned seed = 20240801u;
    double seconds = 300;
    std::string only;
    long first = 0;
};

struct Tally {
    long inputs = 0, accepted = 0, rejected = 0;
};

std::mt19937 InputRng(const Options& o, unsigned campaign, long input) {
    std::seed_seq seq{o.seed, campaign, static_cast<unsigned>(input)};
    return std::mt19937(seq);
}

// --- seeds: the real skin archive and its files ------------------------------

std::string g_skinZip;

bool LoadSkin() {
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(150), L"ZIPRES");
    HGLOBAL mem = res ? LoadResource(nullptr, res) : nullptr;
    const void* data = mem ? LockResource(mem) : nullptr;
    const DWORD size = res ? SizeofResource(nullptr, res) : 0;
    if (!data || size == 0) return false;
    g_skinZip.assign(static_cast<const char*>(data), size);
    CSkinResources::SetArchiveCopy(data, size);
    return CSkinResources::SetResourceZipFromCopy();
}

std::string SkinFile(const wchar_t* name) {
    std::vector<unsigned char> bytes;
    if (CSkinResources::ReadZipEntry(name, bytes, CXmlDocument::kMaxFileBytes) != CSkinResources::kReadOk) return {};
    return std::string(bytes.begin(), bytes.end());
}

const wchar_t* const kSkinImages[] = {L"input.png", L"shadow.png", L"bg_progress.png", L"btn_close000.png",
                                      L"progress_fore.png", L"opt_000.png", L"common_tip_icon.png"};

// --- the campaigns ------------------------------------------------------------

// Manifest bodies as they come from the server: bytes converted from UTF-8,
// kept as the UTF-16 copy, read from the text and, for comparison, back
// through the profile reader, the size converted. Accepted: a body that names a package URL and a positive size.
void ManifestCampaign(const Options& o, Tally& t, const std::function<bool()>& more) {
    const std::wstring dir = uitest::TempPath(L"ov_campaign_manifest");
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::string good =
        "[Install]\r\nUrl=http://dl1.orvelnet.example/ovinstaller.exe\r\nSize=123456789\r\n"
        "Md5=0123456789abcdef0123456789abcdef\r\nVersion=2.0.1.35\r\n";
    const char* const kPieces[] = {"[Install]", "[install]", "[Other]", "\r\n", "\n", "\r", "Url=", "Size=", "Md5=",
                                   "Version=", "=", ";", " ", "\t", "\xEF\xBB\xBF", "\xC3", "\xE6\xAD\xA3", "\xFF\xFE",
                                   "\xED\xA0\x80", "-9223372036854775808", "9223372036854775807",
                                   "99999999999999999999999", "+", "-", "0x10", "   42", "1e9", "\x01"};
    for (; more(); ++t.inputs) {
        g_input = o.first + t.inputs;
        std::mt19937 rng = InputRng(o, 1, g_input);
        std::string body;
        switch (rng() % 4) {
            case 0: body = campaign::MutateBytes(good, rng); break;
            case 1:
                for (int n = static_cast<int>(rng() % 30); n > 0; --n) body += kPieces[rng() % (sizeof kPieces / sizeof kPieces[0])];
                break;
            case 2:  // values far past the reader's buffer
                body = "[Install]\r\nUrl=" + std::string(1 + rng() % 6000, 'u') + "\r\nSize=" +
                       std::string(1 + rng() % 3000, static_cast<char>('0' + rng() % 10)) + "\r\nVersion=" +
                       std::string(rng() % 5000, '\xE6') + "\r\n";
                break;
            default:
                body.resize(rng() % 600);
                for (char& c : body) c = static_cast<char>(rng());
        }
        const std::wstring text = Utf8ToWide(body);
        if (!SaveManifestCopy(dir, text)) {
            Finding("the manifest copy could not be written");
            continue;
        }
        // The installer's own reading of the received text must agree with
        // the profile reader's reading of the copy (apart from a leading
        // byte-order mark, which it skips on purpose).
        const UpdateManifestValues v = ParseManifestValues(text);
        if (text.empty() || text[0] != 0xFEFF) {
            const UpdateManifestValues r = ReadManifestValues(dir);
            if (v.url != r.url || v.sizeText != r.sizeText || v.md5 != r.md5 || v.version != r.version)
                Finding("the parsed manifest differs from the profile reader's");
        }
        for (const std::wstring* s : {&v.url, &v.sizeText, &v.md5, &v.version})
            if (s->size() > 2047) Finding("a manifest value longer than 2047 code units");
        const int64_t size = ParseManifestSize(v.sizeText);
        // The conversion alone, on the raw text too (not only on what the
        // profile reader lets through).
        ParseManifestSize(text);
        if (!v.url.empty() && size > 0)
            ++t.accepted;
        else
            ++t.rejected;
    }
    DeleteFileW(ManifestCopyPath(dir).c_str());
    RemoveDirectoryW(dir.c_str());
}

// Layout documents: parsed, and those that parse built into a control tree,
// laid out and painted. Accepted: a document that yields a control.
void LayoutCampaign(const Options& o, Tally& t, const std::function<bool()>& more) {
    const std::string seeds[] = {SkinFile(L"InstallPackages.xml"), SkinFile(L"MessageBox.xml")};
    if (seeds[0].empty() || seeds[1].empty()) {
        Finding("the skin layouts could not be read");
        return;
    }
    uitest::Surface surface(560, 420);
    const RECT whole = {0, 0, 560, 420};
    for (; more(); ++t.inputs) {
        g_input = o.first + t.inputs;
        std::mt19937 rng = InputRng(o, 2, g_input);
        const std::string& seed = seeds[rng() % 2];
        const std::string doc = (rng() % 3 == 0) ? campaign::MutateMarkup(seed, rng) : campaign::MutateLayout(seed, rng);
        CPaintHostUI host;
        CLayoutBuilder builder;
        if (!builder.GetMarkup().LoadFromMemory(doc.data(), doc.size())) {
            ++t.rejected;
            continue;
        }
        std::unique_ptr<CControlUI> root(builder.Build(nullptr, &host));
        if (!root) {
            ++t.rejected;
            continue;
        }
        ++t.accepted;
        host.InitControls(root.get());
        const RECT pos = {static_cast<LONG>(rng() % 40) - 20, static_cast<LONG>(rng() % 40) - 20,
                          static_cast<LONG>(rng() % 700), static_cast<LONG>(rng() % 500)};
        root->SetPosition(pos);
        root->Paint(surface.dc(), whole);
        host.ReapObjects(root.get());
    }
}

// Image description strings drawn over random items. Accepted: every named
// image could be loaded.
void ImageStringCampaign(const Options& o, Tally& t, const std::function<bool()>& more) {
    CPaintHostUI host;
    uitest::Surface surface(64, 64);
    const wchar_t* const kTokens[] = {
        L"file", L"res", L"restype", L"dest", L"rdest", L"source", L"corner", L"centerrect", L"mask", L"fade",
        L"hole", L"xtiled", L"ytiled", L"stretch", L"center", L"aligntop", L"alignleft", L"roundcorner", L"=", L"'",
        L" ", L"input.png", L"shadow.png", L"nothere.png", L"true", L"-5", L"0", L"999999", L"3,3,3,3",
        L"-10,-10,100,100", L"2147483647", L"-2147483648", L"2147483647,2147483647,-2147483648,-2147483648", L",",
        L"#FF00FF00", L"#", L"x", L"0x", L"''", L"\\", L"/"};
    for (; more(); ++t.inputs) {
        g_input = o.first + t.inputs;
        std::mt19937 rng = InputRng(o, 3, g_input);
        auto num = [&](int lo, int span) { return std::to_wstring(lo + static_cast<int>(rng() % span)); };
        std::wstring desc, mod;
        if (rng() % 3 == 0) {
            desc = std::wstring(L"file='") + kSkinImages[rng() % 7] + L"' dest='" + num(-100, 200) + L"," +
                   num(-100, 200) + L"," + num(-100, 300) + L",40' corner='" + num(0, 40) + L",1,2," + num(-5, 40) +
                   L"' source='" + num(-5, 20) + L",0," + num(0, 80) + L",3' xtiled='" + ((rng() & 1) ? L"true" : L"false") +
                   L"' ytiled='true' fade='" + num(-10, 300) + L"' roundcorner='" + num(-5, 30) + L"," + num(0, 9) + L"'";
        } else {
            for (int n = static_cast<int>(rng() % 24); n > 0; --n) desc += kTokens[rng() % (sizeof kTokens / sizeof kTokens[0])];
            if (rng() % 8 == 0) desc.push_back(static_cast<wchar_t>(rng() % 0x10000));
        }
        if (rng() & 1) mod = L"dest='" + num(0, 70) + L",0,5,5' file='" + kSkinImages[rng() % 7] + L"'";
        const RECT item = {static_cast<LONG>(rng() % 40) - 10, static_cast<LONG>(rng() % 40) - 10,
                           static_cast<LONG>(rng() % 70), static_cast<LONG>(rng() % 70)};
        const RECT paint = {0, 0, 64, 64};
        PlanImageString(item, desc.c_str(), mod.empty() ? nullptr : mod.c_str());
        if (DrawImageString(surface.dc(), &host, item, paint, desc.c_str(), mod.empty() ? nullptr : mod.c_str()))
            ++t.accepted;
        else
            ++t.rejected;
    }
}

// Zip archives: the skin archive and a small one with stored and deflated
// entries, damaged, opened, looked up and extracted. Accepted: an archive
// that opens.
void ZipCampaign(const Options& o, Tally& t, const std::function<bool()>& more) {
    std::string text;
    for (int i = 0; i < 3000; ++i) text += static_cast<char>('a' + (i * 7 + i / 13) % 26);
    const std::string small = uitest::BuildZip(
        {{"InstallPackages.xml", text, true}, {"input.png", text.substr(0, 700), false}, {"a/b.png", text + text, true}});
    const wchar_t* const kNames[] = {L"installpackages.xml", L"INPUT.PNG", L"a\\b.png", L"MessageBox.xml",
                                     L"shadow.png", L"btn_close000.png", L""};
    std::vector<char> buffer;
    for (; more(); ++t.inputs) {
        g_input = o.first + t.inputs;
        std::mt19937 rng = InputRng(o, 4, g_input);
        // The skin archive is large; damage near its central directory (its
        // end) is what reaches the most code, so it is cut there first now and then.
        std::string zip = (rng() % 4 == 0) ? g_skinZip : small;
        const std::string bad = campaign::MutateBytes(zip, rng);
        HZIP h = OpenArchive(bad.data(), static_cast<DWORD>(bad.size()), ZIP_MEMORY);
        if (!h) {
            if (LastArchiveResult() == ZR_OK) Finding("an archive that failed to open reports success");
            ++t.rejected;
            continue;
        }
        ++t.accepted;
        for (const wchar_t* name : kNames) {
            int index = -1;
            ZipEntry entry;
            if (FindArchiveItem(h, name, &index, &entry) != ZR_OK) continue;
            // Declared sizes may be absurd: read at most 1 MiB, sometimes less
            // than declared (the partial-read path).
            DWORD size = entry.uncompressedSize < (1u << 20) ? entry.uncompressedSize : (1u << 20);
            if (size && rng() % 4 == 0) size = static_cast<DWORD>(rng() % size);
            buffer.assign(size + 1, 0);
            const DWORD r = ExtractArchiveItem(h, index, buffer.data(), size);
            if (!(r == ZR_OK || r == ZR_MORE || r == ZR_CORRUPT || r == ZR_FLATE || r == ZR_UNSUPPORTED))
                Finding("extraction returned an unknown result");
        }
        if (CloseArchive(h) != ZR_OK) Finding("closing an open archive failed");
    }
}

// PNG files: the skin's images and a generated one, damaged and decoded.
// Accepted: an image that decodes.
void PngCampaign(const Options& o, Tally& t, const std::function<bool()>& more) {
    std::vector<std::string> seeds;
    for (const wchar_t* name : kSkinImages) {
        std::string bytes = SkinFile(name);
        if (!bytes.empty()) seeds.push_back(bytes);
    }
    uitest::RgbaImage img = uitest::SolidImage(24, 17, 0x336699C0);
    for (int i = 0; i < 24; ++i) img.Set(i, i % 17, 0xFF00FF00 | static_cast<uint32_t>(i));
    seeds.push_back(uitest::EncodePng(img));
    for (; more(); ++t.inputs) {
        g_input = o.first + t.inputs;
        std::mt19937 rng = InputRng(o, 5, g_input);
        const std::string bad = campaign::MutateBytes(seeds[rng() % seeds.size()], rng);
        const DWORD mask = (rng() & 1) ? 0xFFFF00FF : 0;
        TImageInfo* info = DecodeImage(reinterpret_cast<const unsigned char*>(bad.data()), bad.size(), mask);
        if (!info) {
            ++t.rejected;
            continue;
        }
        ++t.accepted;
        if (info->width <= 0 || info->height <= 0 || !info->bitmap) Finding("a decoded image without pixels");
        FreeImage(info);
    }
}

// HTML-like label text: tokenised, then measured or drawn with random
// rectangles and styles. Accepted: text whose layout has at least one line.
void HtmlCampaign(const Options& o, Tally& t, const std::function<bool()>& more) {
    uitest::TestWindow window([](CPaintHostUI&) { return new CContainerUI; });
    HWND hwnd = window.CreateAt(0, 0, 200, 100);
    if (!hwnd) {
        Finding("the host window could not be created");
        return;
    }
    CPaintHostUI& host = window.PaintHost();
    host.AddFont(L"宋体", 12, false, false, false);
    host.AddFont(L"Tahoma", 14, true, true, true);
    uitest::Surface surface(200, 120);
    const wchar_t* const kTokens[] = {
        L"<b>", L"</b>", L"<i>", L"</i>", L"<u>", L"</u>", L"<s>", L"</s>", L"<a>", L"<a http://x/y>", L"</a>",
        L"<c #ffff0000>", L"<c #>", L"<c zz>", L"<c #ffffffffffffffffff>", L"</c>", L"<f 0>", L"<f 1>", L"<f -1>",
        L"<f 99999999999>", L"</f>", L"<p>", L"<p 6>", L"<p -2147483648>", L"<p 2147483647>", L"<n>", L"<x 10>",
        L"<x -2147483648>", L"<x 2147483647>", L"<y 30>", L"<y 0>", L"<y -5>", L"<y 2147483647>", L"</y>", L"<r>",
        L"</r>", L"<i file='input.png'>", L"<i file='nothere.png'>", L"<i file='shadow.png' dest='0,0,9999,-9'>",
        L"<i input.png>", L"{b}", L"{/b}", L"{c #ff00ff00}", L"{x 5}", L"<", L">", L"{", L"}", L"/", L"<b", L"</",
        L" ", L"\n", L"\r\n", L"\r", L"\t", L"&amp;", L"正在下载安装包", L"word ", L"averyveryverylongwordwithoutanybreak",
        L"\x200B", L"\xD800", L"\xDFFF", L"<B>", L"<z>", L"</x>", L"<>", L"< b>", L"<b >"};
    const UINT kStyles[] = {DT_SINGLELINE, DT_CENTER, DT_RIGHT, DT_VCENTER, DT_BOTTOM, DT_END_ELLIPSIS, DT_NOPREFIX,
                            DT_WORDBREAK, DT_CALCRECT};
    std::vector<HtmlLine> lines;
    for (; more(); ++t.inputs) {
        g_input = o.first + t.inputs;
        std::mt19937 rng = InputRng(o, 6, g_input);
        std::wstring text;
        for (int n = static_cast<int>(rng() % 40); n > 0; --n) {
            if (rng() % 16 == 0)
                text.push_back(static_cast<wchar_t>(1 + rng() % 0xFFFF));
            else
                text += kTokens[rng() % (sizeof kTokens / sizeof kTokens[0])];
        }
        TokenizeHtmlText(text.c_str());
        UINT style = 0;
        for (UINT s : kStyles)
            if (rng() % 4 == 0) style |= s;
        // Rectangles from the layout: mostly on the surface, sometimes empty,
        // inverted or far away.
        RECT rc = {static_cast<LONG>(rng() % 60) - 10, static_cast<LONG>(rng() % 40) - 10, 0, 0};
        rc.right = rc.left + static_cast<LONG>(rng() % 220) - 20;
        rc.bottom = rc.top + static_cast<LONG>(rng() % 140) - 20;
        if (rng() % 50 == 0) rc = {-100000, -100000, 100000 + static_cast<LONG>(rng() % 1000), 100000};
        const int font = static_cast<int>(rng() % 4) - 1;
        lines.clear();
        DrawHtmlText(surface.dc(), &host, rc, text.c_str(), 0xFF000000 | rng(), font, style, &lines);
        if (lines.empty())
            ++t.rejected;
        else
            ++t.accepted;
    }
    DestroyWindow(hwnd);
    uitest::PumpPending();
}

struct Campaign {
    const char* name;
    void (*run)(const Options&, Tally&, const std::function<bool()>&);
};

}  // namespace

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(OnFault);
    std::signal(SIGABRT, OnAbort);

    Options o;
    if (argc > 1) o.count = std::strtol(argv[1], nullptr, 10);
    if (argc > 2) o.seed = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10));
    if (argc > 3) o.seconds = std::strtod(argv[3], nullptr);
    if (argc > 4 && std::strcmp(argv[4], "all") != 0) o.only = argv[4];
    if (argc > 5) o.first = std::strtol(argv[5], nullptr, 10);
    if (o.count <= 0 || o.seconds <= 0) {
        std::fprintf(stderr, "usage: bad_input_campaign [count [seed [seconds [campaign|all [first]]]]]\n");
        return 2;
    }
    if (!LoadSkin()) {
        std::fprintf(stderr, "the embedded skin archive could not be opened\n");
        return 2;
    }

    const Campaign campaigns[] = {{"manifest", ManifestCampaign}, {"layout", LayoutCampaign},
                                  {"imagestring", ImageStringCampaign}, {"zip", ZipCampaign},
                                  {"png", PngCampaign},           {"html", HtmlCampaign}};
    std::printf("bad-input campaign: seed %u, %ld inputs each, %.0f s bound each\n", o.seed, o.count, o.seconds);
    std::printf("%-12s %8s %9s %9s %9s\n", "campaign", "inputs", "accepted", "rejected", "seconds");
    std::fflush(stdout);
    long total = 0;
    bool cut = false;
    for (const Campaign& c : campaigns) {
        if (!o.only.empty() && o.only != c.name) continue;
        g_campaign = c.name;
        Tally t;
        LARGE_INTEGER freq, start, now;
        QueryPerformanceFrequency(&freq);
        QueryPerformanceCounter(&start);
        auto elapsed = [&] {
            QueryPerformanceCounter(&now);
            return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart);
        };
        auto more = [&] { return t.inputs < o.count && elapsed() < o.seconds; };
        c.run(o, t, more);
        const double secs = elapsed();
        std::printf("%-12s %8ld %9ld %9ld %9.1f%s\n", c.name, t.inputs, t.accepted, t.rejected, secs,
                    t.inputs < o.count ? "  (cut by the time bound)" : "");
        std::fflush(stdout);
        total += t.inputs;
        cut = cut || t.inputs < o.count;
    }
    g_campaign = "end";
    std::printf("%ld inputs, %d findings, no trap or assertion%s\n", total, g_findings,
                cut ? "; a campaign was cut by its time bound" : "");
    return g_findings ? 1 : 0;
}
