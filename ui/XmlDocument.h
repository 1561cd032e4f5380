#pragma once
// Parser of the layout documents: a small XML dialect of nested elements with
// double-quoted attributes, the five predefined entities, and comments ("<!")
// and declarations ("<?") that are skipped.
//
// The document is parsed in place: the whole text is kept as one UTF-16
// buffer, terminators are written into it, and names, values and content are
// read straight from it through CXmlNode cursors. Elements live in a flat
// table linked by record numbers; record 0 is a placeholder so that a link of
// 0 means "no element", and the first element of the text is record 1.
// Positions and links are 32-bit, so texts are limited to kMaxTextChars.
//
// Every scan stops at the terminating zero of the buffer, and nesting is
// followed with an explicit stack rather than recursion, so neither damaged
// nor deeply nested input can read outside the text or exhaust the stack.
//
// Threads: one thread at a time (the UI thread).
// Ownership: the document owns its text and table; cursors borrow them.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/XmlNode.h"

// How reading a skin file for LoadFromFile went; every failure has its own
// message (XmlFileStatusMessage).
enum class XmlFileStatus {
    Ok,
    ZipOpenFailed,  // "Error opening zip file"
    NotInZip,       // "Could not find ziped file"
    UnzipFailed,    // "Could not unzip file"
    OpenFailed,     // "Error opening file"
    Empty,          // "File is empty"
    TooLarge,       // "File too large"
    ReadFailed,     // "Could not read file"
};

// Fills `bytes` with the content of the skin file `name`. The skin archive
// and the resource path live elsewhere; the caller supplies the look-up.
using XmlFileReader = std::function<XmlFileStatus(const std::wstring& name, std::vector<unsigned char>& bytes)>;

const wchar_t* XmlFileStatusMessage(XmlFileStatus status);

// Reads a whole file from disk with the checks and results LoadFromFile
// expects (missing, empty, larger than CXmlDocument::kMaxFileBytes, short read).
XmlFileStatus ReadXmlFileFromDisk(const std::wstring& path, std::vector<unsigned char>& bytes);

class CXmlDocument {
public:
    // Skin files above this size are refused, in the archive or on disk.
    static constexpr size_t kMaxFileBytes = 4u * 1024u * 1024u;
    static constexpr size_t kMaxTextChars = 0x7FFFFFF0u;
    // Longest stored error message and error location (characters).
    static constexpr size_t kMaxErrorChars = 99;
    static constexpr size_t kMaxLocationChars = 49;

    // Documents of the builder always keep whitespace; without it, a blank
    // in content or values swallows the whitespace that follows it.
    explicit CXmlDocument(bool preserveWhitespace = true);
    ~CXmlDocument();

    // Each Load releases what was loaded before. A failed load leaves the
    // document empty, with the last error message and location set.
    bool LoadFromText(const wchar_t* text);
    // UTF-8 bytes; a leading byte-order mark is skipped.
    bool LoadFromMemory(const void* bytes, size_t length);
    // `reader` fetches the bytes of `name` (from the skin archive or the
    // resource path); they are then loaded as from memory.
    bool LoadFromFile(const std::wstring& name, const XmlFileReader& reader);
    void Release();

    bool IsValid() const { return !m_text.empty(); }
    // The first element of the document; no element when none was parsed.
    CXmlNode GetRoot() const;

    const std::wstring& GetLastErrorMessage() const { return m_errorMessage; }
    // Up to kMaxLocationChars characters of the text at the point of the
    // error; empty when no point is known or the error was at the end.
    const std::wstring& GetLastErrorLocation() const { return m_errorLocation; }

    void SetPreserveWhitespace(bool preserve) { m_preserveWhitespace = preserve; }

    // Number of elements parsed (without the placeholder record) and the
    // capacity of the table in records.
    size_t GetElementCount() const { return m_elements.empty() ? 0 : m_elements.size() - 1; }
    size_t GetTableCapacity() const { return m_elements.capacity(); }

    // The parsed text buffer (terminators written in), for diagnostics:
    // every string a cursor returns lies within [GetText(), GetText() + GetTextLength()].
    const wchar_t* GetText() const { return m_text.empty() ? L"" : m_text.data(); }
    size_t GetTextLength() const { return m_text.empty() ? 0 : m_text.size() - 1; }

private:
    friend class CXmlNode;

    // Positions are indexes into m_text; links are record numbers.
    struct Element {
        uint32_t name;
        uint32_t child;
        uint32_t next;
        uint32_t parent;
        uint32_t data;
    };

    bool Parse();
    bool ParseAttributes(size_t& pos);
    // Decodes text from `pos` up to `end` (or the terminating zero) in
    // place; returns the position just behind the decoded text.
    size_t ParseData(size_t& pos, wchar_t end);
    uint32_t AppendElement();
    bool Fail(const wchar_t* message, size_t pos);
    bool FailNoText(const wchar_t* message);
    void SkipWhitespace(size_t& pos) const;
    void SkipIdentifier(size_t& pos) const;

    std::vector<wchar_t> m_text;  // terminated; empty when nothing is loaded
    std::vector<Element> m_elements;
    std::wstring m_errorMessage;
    std::wstring m_errorLocation;
    bool m_preserveWhitespace;
    // Changes with every load or release, so that cursors of an earlier load
    // stop reading (see CXmlNode).
    uint32_t m_generation = 0;

    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;
};
