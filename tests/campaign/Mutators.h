#pragma once
// Damage for bad input (flipped, overwritten, inserted and cut bytes; markup
// characters and fragments landing on element boundaries): made by the unit
// suites' randomized tests and by the campaign program that drives every
// parser with it in the hardened build.
//
// Every function draws only from the generator it is given, so an input is
// reproduced from the generator's seed alone.

#include <random>
#include <string>

namespace campaign {

inline size_t Pick(std::mt19937& rng, size_t n) { return n ? static_cast<size_t>(rng() % n) : 0; }

// Byte-level damage of binary data (archives, PNG files, manifests).
inline std::string MutateBytes(std::string s, std::mt19937& rng) {
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits && !s.empty(); ++e) {
        const size_t pos = rng() % s.size();
        switch (rng() % 6) {
            case 0: s[pos] = static_cast<char>(rng()); break;
            case 1: s[pos] = static_cast<char>(s[pos] ^ (1 << (rng() % 8))); break;
            case 2: s.resize(pos); break;
            case 3: s.insert(pos, std::string(1 + rng() % 4, static_cast<char>(rng()))); break;
            case 4: s[pos] = static_cast<char>((rng() & 1) ? 0xFF : 0x00); break;
            // A 32-bit field (size, offset, count) set to an edge value.
            default: {
                static const unsigned kEdges[] = {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xFFFFu, 0x10000u};
                const unsigned v = kEdges[rng() % (sizeof kEdges / sizeof kEdges[0])];
                for (size_t i = 0; i < 4 && pos + i < s.size(); ++i) s[pos + i] = static_cast<char>(v >> (8 * i));
            }
        }
    }
    return s;
}

// Markup damage that mostly breaks the syntax of a layout document.
inline std::string MutateMarkup(std::string doc, std::mt19937& rng) {
    static const char kSpecials[] = {'<', '>', '/', '"', '\'', '=', '&', '!', '?', '-', ';', ' ', '\0', '\xEF', '\xC3'};
    for (size_t edits = 1 + Pick(rng, 4); edits > 0; --edits) {
        const size_t at = Pick(rng, doc.size() + 1);
        const char special = kSpecials[Pick(rng, sizeof kSpecials)];
        switch (Pick(rng, 5)) {
            case 0: doc.resize(at); break;
            case 1: doc.insert(at, 1, special); break;
            case 2: doc.erase(at, Pick(rng, 40)); break;
            case 3: doc.insert(at, doc.substr(Pick(rng, doc.size()), Pick(rng, 200))); break;
            default:
                if (at < doc.size()) doc[at] = Pick(rng, 2) ? special : static_cast<char>(rng());
        }
    }
    return doc;
}

// Structural damage that mostly keeps a layout document parseable, so that
// it reaches the builder, the layout and the painting with odd values.
inline std::string MutateLayout(std::string doc, std::mt19937& rng) {
    static const char* const kFragments[] = {
        "<", ">", "\"", "/", "</", "/>", "<!--", "&amp;", "<Control/>", "</VerticalLayout>", "<Button>",
        "<HorizontalLayout inset=\"9,9,9,9\">", "<Include source=\"MessageBox.xml\" count=\"3\"/>",
        "<Include source=\"InstallPackages.xml\"/>", "<Default name=\"Button\" value=\"width=&quot;-5&quot;\"/>",
        "<Font name=\"x\" size=\"-9999\"/>", "<Control pos=\"-1,-1,99999,99999\" float=\"true\"/>",
        "<Label text=\"&lt;b&gt;x\" showhtml=\"true\" width=\"-2147483648\"/>",
        "<Control width=\"2147483647\" height=\"2147483647\"/>",
        "<HorizontalLayout childpadding=\"-2147483647\" inset=\"-99999,0,2147483647,0\">",
        "<Control pos=\"2147483647,2147483647,-2147483648,-2147483648\" float=\"true\"/>",
        "<Progress min=\"2147483647\" max=\"-2147483648\" value=\"7\"/>",
        "<Button bkimage=\"file='input.png' corner='2147483647,0,0,0'\" borderround=\"99999,99999\"/>",
        "<Edit maxchar=\"-1\" text=\"x\"/>", "<Option group=\"g\" selected=\"true\"/>",
        "<TabLayout selectedid=\"99\">", "<Label font=\"2147483647\" text=\"a\"/>"};
    const int edits = 1 + static_cast<int>(rng() % 3);
    for (int e = 0; e < edits && !doc.empty(); ++e) {
        const size_t pos = rng() % doc.size();
        size_t tag = doc.find('<', pos);
        if (tag == std::string::npos) tag = pos;
        switch (rng() % 7) {
            case 0: doc[pos] = "<>\"/=ax0-,# "[rng() % 13]; break;
            case 1: doc.erase(pos, 1 + rng() % 40); break;
            case 2:
            case 3: doc.insert(tag, kFragments[rng() % (sizeof kFragments / sizeof kFragments[0])]); break;
            case 4: doc.insert(tag, doc.substr(rng() % doc.size(), 1 + rng() % 400)); break;
            case 5: doc.resize(pos); break;
            // A number in an attribute value replaced by an extreme one.
            default: {
                const size_t digit = doc.find_first_of("0123456789", pos);
                if (digit == std::string::npos) break;
                size_t end = digit;
                while (end < doc.size() && doc[end] >= '0' && doc[end] <= '9') ++end;
                static const char* const kNumbers[] = {"2147483647", "2147483648", "-2147483648", "99999999999999999999",
                                                       "0", "-1", "65535"};
                doc.replace(digit, end - digit, kNumbers[rng() % (sizeof kNumbers / sizeof kNumbers[0])]);
            }
        }
    }
    return doc;
}

}  // namespace campaign
