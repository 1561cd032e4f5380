#pragma once
// Cursor over one element of a parsed layout document (CXmlDocument): its name,
// links to the first child and the next sibling, its content text and its
// attributes.
//
// Attributes are found through an index of at most kMaxAttributes
// (name, value) pairs that is built on first use; attributes of an element
// beyond that count are invisible, also to the look-up by name. Layouts never
// come near the limit, and a fixed index keeps a cursor a plain value.
//
// Threads: the thread that owns the document.
// Ownership: a cursor borrows its document and must not outlive it. The
// strings it returns point into the document's text and stay valid until the
// document is released or loaded again; after that every cursor taken
// from it stands for no element (names and values read as "").

#include <cstddef>
#include <cstdint>
#include <string>

class CXmlDocument;

class CXmlNode {
public:
    static constexpr int kMaxAttributes = 64;
    // Size of the buffer that a value read by name is copied into; the
    // builder reads "count", "source" and the declarations through it, so
    // longer values are cut to kValueBufferChars - 1 characters.
    static constexpr size_t kValueBufferChars = 500;

    // A cursor that stands for no element.
    CXmlNode();

    bool IsValid() const;
    const wchar_t* GetName() const;
    // The element's text before its first child, entities decoded,
    // whitespace kept as written.
    const wchar_t* GetValue() const;

    CXmlNode GetSibling() const;
    CXmlNode GetChild() const;
    bool HasChildren() const;

    bool HasAttributes() const;
    int GetAttributeCount() const;
    // A position outside 0 .. count-1 yields "".
    const wchar_t* GetAttributeName(int index) const;
    const wchar_t* GetAttributeValue(int index) const;

    // Copies the value of the first attribute called `name` (compared
    // exactly) into `buffer`, which is zero-filled first; at most
    // min(chars, kValueBufferChars) - 1 characters are copied. Returns false,
    // leaving an empty buffer, when no indexed attribute has that name.
    bool GetAttributeValue(const wchar_t* name, wchar_t* buffer, size_t chars) const;
    // The same through a buffer of kValueBufferChars; "" when missing.
    std::wstring GetAttributeValue(const wchar_t* name) const;
    bool HasAttribute(const wchar_t* name) const;

private:
    friend class CXmlDocument;
    CXmlNode(const CXmlDocument* document, uint32_t index, uint32_t generation);

    // True while the document still holds the load this cursor came from.
    bool Live() const;
    void MapAttributes() const;
    int FindAttribute(const wchar_t* name) const;
    const wchar_t* TextAt(uint32_t position) const;

    struct Attribute {
        uint32_t name;
        uint32_t value;
    };

    const CXmlDocument* m_document = nullptr;
    uint32_t m_index = 0;
    uint32_t m_generation = 0;
    mutable bool m_mapped = false;
    mutable int m_attributeCount = 0;
    mutable Attribute m_attributes[kMaxAttributes] = {};
};
