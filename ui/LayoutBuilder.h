#pragma once
// CLayoutBuilder: turns a layout document into a control tree. The root
// element "Window" carries the window's own properties (size, caption band,
// round corners, shadow settings, default colours); its first children
// declare fonts ("Font"), images ("Image") and per-class default attributes
// ("Default"); every other element names a control class and nests as the
// controls nest on screen. "Include" pulls another document in at its place.
//
// Controls are made from the class table (CreateControlByClass), then by the
// paint manager's plug-ins, then by the window's IDialogBuilderCallback; an
// element no one knows is skipped together with its subtree.
//
// Threads: the UI thread of the window whose paint manager is given.
// Ownership: the builder owns its document only. The controls it returns
// belong to the caller (or, when a parent is given, to that parent). The
// callback and the paint manager are borrowed for the call.

#include <windows.h>

#include <string>

#include "ui/UIDefine.h"
#include "ui/XmlDocument.h"

class CControlUI;
class CPaintHostUI;
class WindowImplBase;

class CLayoutBuilder {
public:
    // Deeper element nesting is skipped: the control tree is walked
    // recursively everywhere (layout, paint, destruction), so an absurd depth
    // in a damaged document must not reach it.
    static constexpr int kMaxNesting = 100;
    // "Include" may nest this deep; deeper (for example a document that
    // includes itself) is ignored instead of recursing without end.
    static constexpr int kMaxIncludeDepth = 8;
    // Documents built through "Include" by one top-level Create, all told;
    // keeps a large "count" or a fan of includes from running for ever.
    static constexpr int kMaxIncludeBuilds = 256;

    CLayoutBuilder();

    // `source` is a resource identifier (MAKEINTRESOURCEW, of `resourceType`
    // in CSkinResources::Instance()), text starting with "<", or a skin file
    // name (skin archive when one is set, else the resource path). Returns the
    // first control built at the top level, or null when the document cannot
    // be loaded or yields no control; the parse error stays in GetMarkup().
    CControlUI* Create(const wchar_t* source, const wchar_t* resourceType = nullptr,
                       IDialogBuilderCallback* callback = nullptr, CPaintHostUI* manager = nullptr,
                       CControlUI* parent = nullptr);
    // Builds the document already loaded into GetMarkup().
    CControlUI* Build(IDialogBuilderCallback* callback = nullptr, CPaintHostUI* manager = nullptr,
                      CControlUI* parent = nullptr);

    CXmlDocument& GetMarkup() { return document_; }
    const std::wstring& GetLastErrorMessage() const { return document_.GetLastErrorMessage(); }
    const std::wstring& GetLastErrorLocation() const { return document_.GetLastErrorLocation(); }

    // The class table: a new control for an element name, or null for names
    // it does not hold (names compare exactly).
    static CControlUI* CreateControlByClass(const wchar_t* className);

    // Reads a skin file for CXmlDocument::LoadFromFile: from the process-wide
    // skin archive when one is set, otherwise from the resource path.
    static XmlFileStatus ReadSkinFile(const std::wstring& name, std::vector<unsigned char>& bytes);

private:
    struct IncludeState {
        int depth = 0;
        int builds = 0;
    };
    CLayoutBuilder(IncludeState* includes, int depth);

    bool Load(const wchar_t* source, const wchar_t* resourceType);
    void ApplyDeclarations(CXmlNode root, CPaintHostUI* manager);
    void ApplyWindowAttributes(CXmlNode root, CPaintHostUI* manager);
    CControlUI* Parse(CXmlNode parentNode, CControlUI* parent, CPaintHostUI* manager, int level);
    void ParseInclude(CXmlNode node, CControlUI* parent, CPaintHostUI* manager);
    CControlUI* CreateControl(const wchar_t* className, CPaintHostUI* manager);

    CXmlDocument document_;
    IDialogBuilderCallback* callback_ = nullptr;
    const wchar_t* resourceType_ = nullptr;
    std::wstring resourceTypeName_;  // keeps a string type alive for Include
    IncludeState ownIncludes_;
    IncludeState* includes_;
    int includeDepth_ = 0;

    CLayoutBuilder(const CLayoutBuilder&) = delete;
    CLayoutBuilder& operator=(const CLayoutBuilder&) = delete;
};

// The window base's layout hook: builds the window's skin file (or its "xml"
// resource for SkinSource() == kSkinResource) with the window as callback.
CControlUI* BuildWindowLayout(WindowImplBase& window);
