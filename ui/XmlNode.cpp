#include "ui/XmlNode.h"

#include <algorithm>
#include <cwchar>

#include "ui/XmlDocument.h"

namespace {

bool IsWhitespace(wchar_t c) { return c >= 1 && c <= 32; }

}  // namespace

CXmlNode::CXmlNode() {}

CXmlNode::CXmlNode(const CXmlDocument* document, uint32_t index, uint32_t generation)
    : m_document(document), m_index(index), m_generation(generation) {}

bool CXmlNode::Live() const {
    return m_document && m_generation == m_document->m_generation && m_index > 0 &&
           m_index < m_document->m_elements.size();
}

const wchar_t* CXmlNode::TextAt(uint32_t position) const {
    const std::vector<wchar_t>& text = m_document->m_text;
    return position < text.size() ? text.data() + position : L"";
}

bool CXmlNode::IsValid() const { return Live(); }

const wchar_t* CXmlNode::GetName() const {
    return Live() ? TextAt(m_document->m_elements[m_index].name) : L"";
}

const wchar_t* CXmlNode::GetValue() const {
    return Live() ? TextAt(m_document->m_elements[m_index].data) : L"";
}

CXmlNode CXmlNode::GetSibling() const {
    if (!Live()) return CXmlNode();
    const uint32_t next = m_document->m_elements[m_index].next;
    return next ? CXmlNode(m_document, next, m_generation) : CXmlNode();
}

CXmlNode CXmlNode::GetChild() const {
    if (!Live()) return CXmlNode();
    const uint32_t child = m_document->m_elements[m_index].child;
    return child ? CXmlNode(m_document, child, m_generation) : CXmlNode();
}

bool CXmlNode::HasChildren() const { return Live() && m_document->m_elements[m_index].child != 0; }

// The parser leaves each start tag as: name \0, then per attribute optional
// blanks, the attribute name \0, blanks (the "=" among them), the opening
// quote, the value \0 and blanks up to where the closing quote was; the tag's
// ">" or "/" is cleared. The element's content starts at or right behind that
// mark, so the walk is bounded by the content position and can never run
// into the content or past the text, whatever the parser left behind.
void CXmlNode::MapAttributes() const {
    m_mapped = true;
    m_attributeCount = 0;
    const std::vector<wchar_t>& buffer = m_document->m_text;
    const CXmlDocument::Element& element = m_document->m_elements[m_index];
    const size_t bound = std::min<size_t>(element.data, buffer.size() - 1);
    if (element.name >= bound) return;
    const wchar_t* text = buffer.data();
    size_t pos = element.name;
    pos += wcsnlen(text + pos, bound - pos) + 1;
    while (pos < bound && m_attributeCount < kMaxAttributes) {
        while (pos < bound && IsWhitespace(text[pos])) ++pos;
        if (pos >= bound || text[pos] == L'\0') break;
        const size_t name = pos;
        pos += wcsnlen(text + pos, bound - pos) + 1;
        while (pos < bound && IsWhitespace(text[pos])) ++pos;
        if (pos >= bound || text[pos] != L'"') break;
        const size_t value = ++pos;
        pos += wcsnlen(text + pos, bound - pos) + 1;
        m_attributes[m_attributeCount].name = static_cast<uint32_t>(name);
        m_attributes[m_attributeCount].value = static_cast<uint32_t>(value);
        ++m_attributeCount;
    }
}

bool CXmlNode::HasAttributes() const { return GetAttributeCount() > 0; }

int CXmlNode::GetAttributeCount() const {
    if (!Live()) return 0;
    if (!m_mapped) MapAttributes();
    return m_attributeCount;
}

const wchar_t* CXmlNode::GetAttributeName(int index) const {
    if (index < 0 || index >= GetAttributeCount()) return L"";
    return TextAt(m_attributes[index].name);
}

const wchar_t* CXmlNode::GetAttributeValue(int index) const {
    if (index < 0 || index >= GetAttributeCount()) return L"";
    return TextAt(m_attributes[index].value);
}

int CXmlNode::FindAttribute(const wchar_t* name) const {
    if (!name) return -1;
    const int count = GetAttributeCount();
    for (int i = 0; i < count; ++i) {
        if (wcscmp(TextAt(m_attributes[i].name), name) == 0) return i;
    }
    return -1;
}

bool CXmlNode::GetAttributeValue(const wchar_t* name, wchar_t* buffer, size_t chars) const {
    if (!buffer || chars == 0) return false;
    std::fill(buffer, buffer + chars, L'\0');
    const int i = FindAttribute(name);
    if (i < 0) return false;
    const size_t limit = std::min(chars, kValueBufferChars) - 1;
    const wchar_t* value = TextAt(m_attributes[i].value);
    std::copy(value, value + wcsnlen(value, limit), buffer);
    return true;
}

std::wstring CXmlNode::GetAttributeValue(const wchar_t* name) const {
    wchar_t buffer[kValueBufferChars];
    GetAttributeValue(name, buffer, kValueBufferChars);
    return buffer;
}

bool CXmlNode::HasAttribute(const wchar_t* name) const { return FindAttribute(name) >= 0; }
