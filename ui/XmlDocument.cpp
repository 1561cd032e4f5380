#include "ui/XmlDocument.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cwchar>
#include <cwctype>

namespace {

bool IsWhitespace(wchar_t c) { return c >= 1 && c <= 32; }
bool IsNameChar(wchar_t c) { return iswalnum(c) || c == L'_' || c == L':'; }

struct Entity {
    const wchar_t* name;  // what follows the ampersand
    size_t length;
    wchar_t character;
};

const Entity kEntities[] = {
    {L"amp;", 4, L'&'}, {L"lt;", 3, L'<'}, {L"gt;", 3, L'>'}, {L"quot;", 5, L'"'}, {L"apos;", 5, L'\''},
};

// An element whose end tag is still to come, or the top level (element 0).
struct OpenElement {
    uint32_t element;
    uint32_t previous;  // last element appended inside it, 0 before the first
    size_t nameEnd;     // cleared when the element is closed: until then the
                        // character there may still be the tag's ">"
    size_t nameLength;
};

}  // namespace

const wchar_t* XmlFileStatusMessage(XmlFileStatus status) {
    switch (status) {
        case XmlFileStatus::Ok: return L"";
        case XmlFileStatus::ZipOpenFailed: return L"Error opening zip file";
        case XmlFileStatus::NotInZip: return L"Could not find ziped file";
        case XmlFileStatus::UnzipFailed: return L"Could not unzip file";
        case XmlFileStatus::OpenFailed: return L"Error opening file";
        case XmlFileStatus::Empty: return L"File is empty";
        case XmlFileStatus::TooLarge: return L"File too large";
        case XmlFileStatus::ReadFailed: return L"Could not read file";
    }
    return L"Could not read file";
}

XmlFileStatus ReadXmlFileFromDisk(const std::wstring& path, std::vector<unsigned char>& bytes) {
    bytes.clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return XmlFileStatus::OpenFailed;
    XmlFileStatus status = XmlFileStatus::Ok;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        status = XmlFileStatus::ReadFailed;
    } else if (size.QuadPart == 0) {
        status = XmlFileStatus::Empty;
    } else if (static_cast<unsigned long long>(size.QuadPart) > CXmlDocument::kMaxFileBytes) {
        status = XmlFileStatus::TooLarge;
    } else {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) || got != bytes.size()) {
            status = XmlFileStatus::ReadFailed;
            bytes.clear();
        }
    }
    CloseHandle(file);
    return status;
}

CXmlDocument::CXmlDocument(bool preserveWhitespace) : m_preserveWhitespace(preserveWhitespace) {}

CXmlDocument::~CXmlDocument() {}

void CXmlDocument::Release() {
    std::vector<wchar_t>().swap(m_text);
    std::vector<Element>().swap(m_elements);
    ++m_generation;
}

CXmlNode CXmlDocument::GetRoot() const {
    return m_elements.size() > 1 ? CXmlNode(this, 1, m_generation) : CXmlNode();
}

bool CXmlDocument::LoadFromText(const wchar_t* text) {
    Release();
    m_errorMessage.clear();
    m_errorLocation.clear();
    if (!text) text = L"";
    const size_t length = wcslen(text);
    if (length > kMaxTextChars) return FailNoText(L"File too large");
    m_text.assign(text, text + length + 1);
    if (Parse()) return true;
    Release();
    return false;
}

bool CXmlDocument::LoadFromMemory(const void* bytes, size_t length) {
    Release();
    m_errorMessage.clear();
    m_errorLocation.clear();
    const unsigned char* data = static_cast<const unsigned char*>(bytes);
    if (!data) length = 0;
    if (length > 2 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        data += 3;
        length -= 3;
    }
    // UTF-8 never yields more UTF-16 code units than it has bytes.
    if (length > kMaxTextChars || length > static_cast<size_t>(INT_MAX)) return FailNoText(L"File too large");
    if (length == 0) {
        m_text.assign(1, L'\0');
    } else {
        const char* source = reinterpret_cast<const char*>(data);
        const int chars = MultiByteToWideChar(CP_UTF8, 0, source, static_cast<int>(length), nullptr, 0);
        if (chars <= 0) return FailNoText(L"Could not convert the document from UTF-8");
        m_text.assign(static_cast<size_t>(chars) + 1, L'\0');
        if (MultiByteToWideChar(CP_UTF8, 0, source, static_cast<int>(length), m_text.data(), chars) != chars) {
            Release();
            return FailNoText(L"Could not convert the document from UTF-8");
        }
    }
    if (Parse()) return true;
    Release();
    return false;
}

bool CXmlDocument::LoadFromFile(const std::wstring& name, const XmlFileReader& reader) {
    Release();
    m_errorMessage.clear();
    m_errorLocation.clear();
    std::vector<unsigned char> bytes;
    XmlFileStatus status = reader ? reader(name, bytes) : XmlFileStatus::OpenFailed;
    if (status == XmlFileStatus::Ok && bytes.empty()) status = XmlFileStatus::Empty;
    if (status == XmlFileStatus::Ok && bytes.size() > kMaxFileBytes) status = XmlFileStatus::TooLarge;
    if (status != XmlFileStatus::Ok) return FailNoText(XmlFileStatusMessage(status));
    return LoadFromMemory(bytes.data(), bytes.size());
}

bool CXmlDocument::Fail(const wchar_t* message, size_t pos) {
    m_errorMessage.assign(message, std::min(wcslen(message), kMaxErrorChars));
    const wchar_t* at = m_text.data() + pos;
    m_errorLocation.assign(at, wcsnlen(at, kMaxLocationChars));
    return false;
}

bool CXmlDocument::FailNoText(const wchar_t* message) {
    m_errorMessage.assign(message, std::min(wcslen(message), kMaxErrorChars));
    m_errorLocation.clear();
    return false;
}

void CXmlDocument::SkipWhitespace(size_t& pos) const {
    while (IsWhitespace(m_text[pos])) ++pos;
}

void CXmlDocument::SkipIdentifier(size_t& pos) const {
    while (IsNameChar(m_text[pos])) ++pos;
}

uint32_t CXmlDocument::AppendElement() {
    if (m_elements.size() == m_elements.capacity()) {
        const size_t capacity = m_elements.capacity();
        m_elements.reserve(capacity + capacity / 2 + 500);
    }
    m_elements.push_back(Element{0, 0, 0, 0, 0});
    return static_cast<uint32_t>(m_elements.size() - 1);
}

// Every character the scans look at is checked before the one after it is
// read, and the buffer ends in a zero that no step passes, so a truncated
// text simply meets that zero.
size_t CXmlDocument::ParseData(size_t& pos, wchar_t end) {
    wchar_t* text = m_text.data();
    size_t dest = pos;
    while (text[pos] != L'\0' && text[pos] != end) {
        const wchar_t c = text[pos];
        if (c == L'&') {
            const Entity* found = nullptr;
            for (const Entity& entity : kEntities) {
                if (wcsncmp(text + pos + 1, entity.name, entity.length) == 0) {
                    found = &entity;
                    break;
                }
            }
            if (found) {
                text[dest++] = found->character;
                pos += found->length + 1;
                continue;
            }
        }
        text[dest++] = c;
        ++pos;
        if (!m_preserveWhitespace && c == L' ') SkipWhitespace(pos);
    }
    return dest;
}

bool CXmlDocument::ParseAttributes(size_t& pos) {
    wchar_t* text = m_text.data();
    for (;;) {
        SkipWhitespace(pos);
        const wchar_t c = text[pos];
        // The caller tells how the tag ends (or that the text did).
        if (c == L'\0' || c == L'>' || c == L'/') return true;
        const size_t nameStart = pos;
        SkipIdentifier(pos);
        const size_t nameEnd = pos;
        if (nameEnd == nameStart) return Fail(L"Error while parsing attributes", pos);
        SkipWhitespace(pos);
        if (text[pos] != L'=') return Fail(L"Error while parsing attributes", pos);
        // The "=" becomes a blank and the name is terminated (the two may be
        // the same character), leaving the layout CXmlNode walks.
        text[pos++] = L' ';
        text[nameEnd] = L'\0';
        SkipWhitespace(pos);
        if (text[pos] != L'"') return Fail(L"Expected attribute value", pos);
        ++pos;
        const size_t end = ParseData(pos, L'"');
        if (text[pos] == L'\0') return Fail(L"Error while parsing attribute string", pos);
        text[end] = L'\0';
        // What decoding freed, and the closing quote, become blanks.
        for (size_t q = end + 1; q <= pos; ++q) text[q] = L' ';
        ++pos;
    }
}

bool CXmlDocument::Parse() {
    m_elements.clear();
    AppendElement();  // record 0: a link of 0 means no element
    wchar_t* text = m_text.data();
    std::vector<OpenElement> open;
    open.push_back(OpenElement{0, 0, 0, 0});
    size_t pos = 0;
    for (;;) {
        SkipWhitespace(pos);
        if (text[pos] == L'\0') {
            // A text that stops inside an element is cut short: reporting it
            // as parsed would build a partial window without a word.
            if (open.size() > 1) return Fail(L"Expected end-tag start", pos);
            return true;
        }
        if (text[pos] != L'<') return Fail(L"Expected start tag", pos);

        if (text[pos + 1] == L'/') {
            // At the top level an end tag ends the document.
            if (open.size() == 1) return true;
            const OpenElement current = open.back();
            text[pos] = L'\0';
            pos += 2;
            SkipWhitespace(pos);
            const wchar_t* name = text + m_elements[current.element].name;
            if (wcsncmp(text + pos, name, current.nameLength) != 0) return Fail(L"Unmatched closing tag", pos);
            pos += current.nameLength;
            SkipWhitespace(pos);
            if (text[pos] != L'>') return Fail(L"Unmatched closing tag", pos);
            ++pos;
            text[current.nameEnd] = L'\0';
            open.pop_back();
            continue;
        }

        text[pos++] = L'\0';
        SkipWhitespace(pos);
        if (text[pos] == L'!' || text[pos] == L'?') {
            // Comments and declarations are dropped; one that is never
            // closed runs to the end of the text.
            const wchar_t close = text[pos] == L'!' ? L'-' : L'?';
            while (text[pos] != L'\0' && !(text[pos] == close && text[pos + 1] == L'>')) ++pos;
            if (text[pos] != L'\0') pos += 2;
            continue;
        }

        const uint32_t index = AppendElement();
        OpenElement& level = open.back();
        Element& element = m_elements[index];
        element.name = static_cast<uint32_t>(pos);
        element.parent = level.element;
        element.data = static_cast<uint32_t>(pos);
        if (level.previous) {
            m_elements[level.previous].next = index;
        } else if (level.element) {
            m_elements[level.element].child = index;
        }
        level.previous = index;

        const size_t nameStart = pos;
        SkipIdentifier(pos);
        const size_t nameEnd = pos;
        if (text[pos] == L'\0' || nameEnd == nameStart) return Fail(L"Error parsing element name", pos);
        if (!ParseAttributes(pos)) return false;
        SkipWhitespace(pos);
        if (text[pos] == L'/' && text[pos + 1] == L'>') {
            m_elements[index].data = static_cast<uint32_t>(pos);  // empty content
            text[pos] = L'\0';
            text[nameEnd] = L'\0';
            pos += 2;
            continue;
        }
        if (text[pos] != L'>') return Fail(L"Expected start-tag closing", pos);
        text[pos++] = L'\0';
        m_elements[index].data = static_cast<uint32_t>(pos);
        const size_t contentEnd = ParseData(pos, L'<');
        if (text[pos] == L'\0') return Fail(L"Expected end-tag start", pos);
        // When nothing was decoded the content ends at the "<", which is
        // cleared as soon as the next tag is read.
        if (contentEnd != pos) text[contentEnd] = L'\0';
        open.push_back(OpenElement{index, 0, nameEnd, nameEnd - nameStart});
    }
}
