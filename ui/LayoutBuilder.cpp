#include "ui/LayoutBuilder.h"

#include <cwchar>
#include <cwctype>

#include "Runtime/Logger.h"
#include "ui/Container.h"
#include "ui/Control.h"
#include "ui/HorizontalLayout.h"
#include "ui/PaintHost.h"
#include "ui/SkinResources.h"
#include "ui/TabLayout.h"
#include "ui/UIAttr.h"
#include "ui/VerticalLayout.h"
#include "ui/WindowImplBase.h"

#include "ui/Button.h"
#include "ui/Edit.h"
#include "ui/Label.h"
#include "ui/Option.h"
#include "ui/Progress.h"

namespace {

const wchar_t kLogFile[] = L".\\ui\\LayoutBuilder";

template <class T>
CControlUI* Make() {
    return new T;
}

struct ClassEntry {
    const wchar_t* name;
    CControlUI* (*make)();  // null: a class this toolkit does not have
};

// Every element name the layout dialect reserves. Classes without a maker
// are left to plug-ins and the window's callback.
const ClassEntry kClassTable[] = {
    {L"Control", &Make<CControlUI>},
    {L"Container", &Make<CContainerUI>},
    {L"VerticalLayout", &Make<CVerticalLayoutUI>},
    {L"HorizontalLayout", &Make<CHorizontalLayoutUI>},
    {L"TabLayout", &Make<CTabLayoutUI>},
    {L"TileLayout", nullptr},
    {L"ChildLayout", nullptr},
    {L"Label", &Make<CLabelUI>},
    {L"Text", nullptr},
    {L"Button", &Make<CButtonUI>},
    {L"Option", &Make<COptionUI>},
    {L"CheckBox", nullptr},
    {L"Edit", &Make<CEditUI>},
    {L"RichEdit", nullptr},
    {L"Progress", &Make<CProgressUI>},
    {L"Slider", nullptr},
    {L"ScrollBar", nullptr},
    {L"Combo", nullptr},
    {L"ComboBox", nullptr},
    {L"DateTime", nullptr},
    {L"List", nullptr},
    {L"ListHeader", nullptr},
    {L"ListHeaderItem", nullptr},
    {L"ListTextElement", nullptr},
    {L"ListLabelElement", nullptr},
    {L"ListContainerElement", nullptr},
    {L"ExpandList", nullptr},
    {L"TreeView", nullptr},
    {L"Menu", nullptr},
    {L"ActiveX", nullptr},
    {L"Flash", nullptr},
    {L"WebBrowser", nullptr},
};

bool IsTrue(const std::wstring& value) { return value == L"true"; }

// Deletes a control the builder made but could not place. It is attached to
// the manager first so that its destructor (and its children's) take every
// reference the attribute pass left there (option groups, names) with it.
void DiscardControl(CControlUI* control, CPaintHostUI* manager) {
    if (manager) control->Attach(manager, nullptr, false);
    delete control;
}

}  // namespace

CLayoutBuilder::CLayoutBuilder() : includes_(&ownIncludes_) {}

CLayoutBuilder::CLayoutBuilder(IncludeState* includes, int depth) : includes_(includes), includeDepth_(depth) {}

XmlFileStatus CLayoutBuilder::ReadSkinFile(const std::wstring& name, std::vector<unsigned char>& bytes) {
    if (!CSkinResources::ResourceZip().empty()) {
        switch (CSkinResources::ReadZipEntry(name, bytes, CXmlDocument::kMaxFileBytes)) {
            case CSkinResources::kReadOk: return XmlFileStatus::Ok;
            case CSkinResources::kReadNoArchive: return XmlFileStatus::ZipOpenFailed;
            case CSkinResources::kReadNotFound: return XmlFileStatus::NotInZip;
            case CSkinResources::kReadExtractFailed: return XmlFileStatus::UnzipFailed;
            case CSkinResources::kReadEmpty: return XmlFileStatus::Empty;
            case CSkinResources::kReadTooLarge: return XmlFileStatus::TooLarge;
        }
        return XmlFileStatus::UnzipFailed;
    }
    return ReadXmlFileFromDisk(CSkinResources::ResourcePath() + name, bytes);
}

bool CLayoutBuilder::Load(const wchar_t* source, const wchar_t* resourceType) {
    if (!source) return false;
    if (IS_INTRESOURCE(source)) {
        if (!resourceType) return false;
        if (!IS_INTRESOURCE(resourceType)) {
            resourceTypeName_ = resourceType;
            resourceType = resourceTypeName_.c_str();
        }
        resourceType_ = resourceType;
        HINSTANCE module = CSkinResources::Instance();
        HRSRC res = FindResourceW(module, source, resourceType);
        if (!res) return false;
        DWORD size = SizeofResource(module, res);
        HGLOBAL global = LoadResource(module, res);
        const void* bytes = global ? LockResource(global) : nullptr;
        if (!bytes || size == 0) return false;
        return document_.LoadFromMemory(bytes, size);
    }
    resourceType_ = nullptr;
    if (source[0] == L'<') return document_.LoadFromText(source);
    return document_.LoadFromFile(source, &CLayoutBuilder::ReadSkinFile);
}

CControlUI* CLayoutBuilder::Create(const wchar_t* source, const wchar_t* resourceType,
                                   IDialogBuilderCallback* callback, CPaintHostUI* manager, CControlUI* parent) {
    if (!Load(source, resourceType)) {
        OV_LOG(LOG_ERROR, kLogFile, L"layout could not be loaded: %s [%s]", document_.GetLastErrorMessage().c_str(),
               document_.GetLastErrorLocation().c_str());
        return nullptr;
    }
    return Build(callback, manager, parent);
}

CControlUI* CLayoutBuilder::Build(IDialogBuilderCallback* callback, CPaintHostUI* manager, CControlUI* parent) {
    callback_ = callback;
    CXmlNode root = document_.GetRoot();
    if (!root.IsValid()) return nullptr;
    if (manager) {
        ApplyDeclarations(root, manager);
        ApplyWindowAttributes(root, manager);
    }
    return Parse(root, parent, manager, 0);
}

void CLayoutBuilder::ApplyDeclarations(CXmlNode root, CPaintHostUI* manager) {
    for (CXmlNode node = root.GetChild(); node.IsValid(); node = node.GetSibling()) {
        const wchar_t* tag = node.GetName();
        if (wcscmp(tag, L"Image") == 0) {
            std::wstring name = node.GetAttributeValue(L"name");
            if (name.empty()) continue;
            std::wstring type = node.GetAttributeValue(L"restype");
            DWORD mask = uiattr::ParseColor(node.GetAttributeValue(L"mask").c_str());
            manager->AddImage(name, type.empty() ? nullptr : type.c_str(), mask);
        } else if (wcscmp(tag, L"Font") == 0) {
            std::wstring name = node.GetAttributeValue(L"name");
            if (name.empty()) continue;
            int size = 12;
            if (node.HasAttribute(L"size")) size = uiattr::ParseInt(node.GetAttributeValue(L"size").c_str());
            bool bold = IsTrue(node.GetAttributeValue(L"bold"));
            bool underline = IsTrue(node.GetAttributeValue(L"underline"));
            bool italic = IsTrue(node.GetAttributeValue(L"italic"));
            if (manager->AddFont(name, size, bold, underline, italic) < 0)
                OV_LOG(LOG_WARN, kLogFile, L"font %s %d could not be created", name.c_str(), size);
            if (IsTrue(node.GetAttributeValue(L"default"))) manager->SetDefaultFont(name, size, bold, underline, italic);
        } else if (wcscmp(tag, L"Default") == 0) {
            std::wstring name = node.GetAttributeValue(L"name");
            if (name.empty()) continue;
            manager->AddDefaultAttributeList(name, node.GetAttributeValue(L"value"));
        }
    }
}

void CLayoutBuilder::ApplyWindowAttributes(CXmlNode root, CPaintHostUI* manager) {
    if (wcscmp(root.GetName(), L"Window") != 0 || !manager->GetPaintWindow()) return;
    const int count = root.GetAttributeCount();
    for (int i = 0; i < count; ++i) {
        const wchar_t* name = root.GetAttributeName(i);
        const wchar_t* value = root.GetAttributeValue(i);
        if (wcscmp(name, L"size") == 0) {
            SIZE s = uiattr::ParseSize(value);
            manager->SetInitSize(s.cx, s.cy);
        } else if (wcscmp(name, L"sizebox") == 0) {
            manager->SetSizeBox(uiattr::ParseRect(value));
        } else if (wcscmp(name, L"caption") == 0) {
            manager->SetCaptionRect(uiattr::ParseRect(value));
        } else if (wcscmp(name, L"roundcorner") == 0) {
            SIZE s = uiattr::ParseSize(value);
            manager->SetRoundCorner(s.cx, s.cy);
        } else if (wcscmp(name, L"shadowcorner") == 0) {
            SIZE s = uiattr::ParseSize(value);
            manager->SetShadowCorner(s.cx, s.cy);
        } else if (wcscmp(name, L"mininfo") == 0) {
            SIZE s = uiattr::ParseSize(value);
            manager->SetMinInfo(s.cx, s.cy);
        } else if (wcscmp(name, L"maxinfo") == 0) {
            SIZE s = uiattr::ParseSize(value);
            manager->SetMaxInfo(s.cx, s.cy);
        } else if (wcscmp(name, L"bktrans") == 0) {
            manager->SetLayered(uiattr::ParseBool(value));
        } else if (wcscmp(name, L"shadow") == 0) {
            manager->SetShadow(uiattr::ParseBool(value));
        } else if (wcscmp(name, L"selfshadow") == 0) {
            manager->SetSelfShadow(uiattr::ParseBool(value));
        } else if (wcscmp(name, L"shadowborder") == 0) {
            manager->SetShadowBorder(uiattr::ParseRect(value));
        } else if (wcscmp(name, L"shadowimage") == 0) {
            manager->SetShadowImage(value);
        } else if (wcscmp(name, L"disabledfontcolor") == 0) {
            manager->SetDefaultDisabledColor(uiattr::ParseColor(value));
        } else if (wcscmp(name, L"defaultfontcolor") == 0) {
            manager->SetDefaultFontColor(uiattr::ParseColor(value));
        } else if (wcscmp(name, L"linkfontcolor") == 0) {
            manager->SetDefaultLinkFontColor(uiattr::ParseColor(value));
        } else if (wcscmp(name, L"linkhoverfontcolor") == 0) {
            manager->SetDefaultLinkHoverFontColor(uiattr::ParseColor(value));
        } else if (wcscmp(name, L"selectedcolor") == 0) {
            manager->SetDefaultSelectedBkColor(uiattr::ParseColor(value));
        }
        // "sizegrip", "showdirty" and "alpha" belong to features this toolkit
        // leaves out (size grip, dirty outlines, layered windows): accepted
        // and ignored, like any attribute it does not know.
    }
}

CControlUI* CLayoutBuilder::CreateControlByClass(const wchar_t* className) {
    if (!className) return nullptr;
    for (const ClassEntry& entry : kClassTable)
        if (wcscmp(entry.name, className) == 0) return entry.make ? entry.make() : nullptr;
    return nullptr;
}

CControlUI* CLayoutBuilder::CreateControl(const wchar_t* className, CPaintHostUI* manager) {
    if (CControlUI* control = CreateControlByClass(className)) return control;
    if (manager)
        for (CreateControlProc plugin : CPaintHostUI::GetPlugins())
            if (CControlUI* control = plugin(className)) return control;
    if (callback_) return callback_->CreateCustomControl(className);
    return nullptr;
}

void CLayoutBuilder::ParseInclude(CXmlNode node, CControlUI* parent, CPaintHostUI* manager) {
    int count = 1;
    if (node.HasAttribute(L"count")) count = uiattr::ParseInt(node.GetAttributeValue(L"count").c_str());
    std::wstring source = node.GetAttributeValue(L"source");
    if (source.empty() || count <= 0) return;
    if (includeDepth_ + 1 > kMaxIncludeDepth) {
        OV_LOG(LOG_WARN, kLogFile, L"include %s nested too deep; ignored", source.c_str());
        return;
    }
    for (int i = 0; i < count; ++i) {
        if (includes_->builds >= kMaxIncludeBuilds) {
            OV_LOG(LOG_WARN, kLogFile, L"too many includes; %s ignored", source.c_str());
            return;
        }
        ++includes_->builds;
        CLayoutBuilder builder(includes_, includeDepth_ + 1);
        if (resourceType_) {
            const wchar_t* id = MAKEINTRESOURCEW(uiattr::ParseInt(source.c_str()) & 0xFFFF);
            builder.Create(id, resourceType_, callback_, manager, parent);
        } else {
            builder.Create(source.c_str(), nullptr, callback_, manager, parent);
        }
    }
}

CControlUI* CLayoutBuilder::Parse(CXmlNode parentNode, CControlUI* parent, CPaintHostUI* manager, int level) {
    IContainerUI* container = nullptr;
    CControlUI* first = nullptr;
    for (CXmlNode node = parentNode.GetChild(); node.IsValid(); node = node.GetSibling()) {
        const wchar_t* className = node.GetName();
        if (wcscmp(className, L"Image") == 0 || wcscmp(className, L"Font") == 0 || wcscmp(className, L"Default") == 0)
            continue;
        if (wcscmp(className, L"Include") == 0) {
            ParseInclude(node, parent, manager);
            continue;
        }
        if (wcscmp(className, L"TreeNode") == 0) {
            // Tree views are not part of this toolkit; their nodes go with them.
            continue;
        }
        CControlUI* control = CreateControl(className, manager);
        if (!control) {
            OV_LOG(LOG_WARN, kLogFile, L"unknown control class %s skipped", className);
            continue;
        }

        if (node.HasChildren()) {
            if (level + 1 < kMaxNesting)
                Parse(node, control, manager, level + 1);
            else
                OV_LOG(LOG_WARN, kLogFile, L"children of %s nested too deep; skipped", className);
        }

        if (parent) {
            if (!container) container = static_cast<IContainerUI*>(parent->AsInterface(L"IContainer"));
            if (!container) {
                DiscardControl(control, manager);
                return nullptr;
            }
            if (!container->Add(control)) {
                DiscardControl(control, manager);
                continue;
            }
        }

        // Attached while its attributes are applied, so that fonts, images
        // and groups resolve against this window; attached for real when the
        // window initialises the tree.
        if (manager) {
            control->Attach(manager, parent, false);
            if (const wchar_t* defaults = manager->GetDefaultAttributeList(className))
                control->ApplyAttributeList(defaults);
        }
        const int count = node.GetAttributeCount();
        for (int i = 0; i < count; ++i) control->SetProperty(node.GetAttributeName(i), node.GetAttributeValue(i));
        if (manager) control->Attach(nullptr, parent, false);

        if (!first) {
            first = control;
        } else if (!parent) {
            // Without a parent only the first control is handed out; the
            // others would have no owner.
            DiscardControl(control, manager);
        }
    }
    return first;
}

CControlUI* BuildWindowLayout(WindowImplBase& window) {
    CLayoutBuilder builder;
    if (window.SkinSource() == WindowImplBase::kSkinResource)
        return builder.Create(window.SkinResourceId(), L"xml", &window, &window.PaintHost());
    const std::wstring file = window.SkinFile();
    return builder.Create(file.c_str(), nullptr, &window, &window.PaintHost());
}
