#include "app/MsgBoxDlg.h"

#include <oleacc.h>

#include "ui/Control.h"

CMsgBoxDlg::CMsgBoxDlg(const std::wstring& message, const std::wstring& title) : message_(message), title_(title) {}

void CMsgBoxDlg::PrepareWindow()
{
    closeButton_ = paintHost_.FindByName(L"btn_close");
    okButton_ = paintHost_.FindByName(L"btn_ok");
    cancelButton_ = paintHost_.FindByName(L"btn_cancel");
    textLabel_ = paintHost_.FindByName(L"lb_text");
    titleLabel_ = paintHost_.FindByName(L"lb_title");
    if (textLabel_)
        textLabel_->SetText(message_);
    // An empty title keeps the skin's own ("退出安装").
    if (titleLabel_ && !title_.empty())
        titleLabel_->SetText(title_);
    paintHost_.SetAccessibleRole(ROLE_SYSTEM_DIALOG);
}

LRESULT CMsgBoxDlg::OnSysCommand(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled)
{
    // Alt+F4 answers as the box's close button does.
    if ((wParam & 0xFFF0) == SC_CLOSE) {
        Close(kCancelled);
        return 0;
    }
    return WindowImplBase::OnSysCommand(msg, wParam, lParam, handled);
}

void CMsgBoxDlg::Announce()
{
    // Screen readers read a notice out when it appears or its text changes.
    if (hwnd_)
        NotifyWinEvent(EVENT_SYSTEM_ALERT, hwnd_, OBJID_CLIENT, CHILDID_SELF);
}

void CMsgBoxDlg::Notify(TNotifyRecord& msg)
{
    // Only clicks count, and only on the three buttons: the base's name-based
    // button handling does not apply to this box.
    if (msg.type != L"click" || !msg.sender)
        return;
    if (msg.sender == cancelButton_ || msg.sender == closeButton_)
        Close(kCancelled);
    else if (msg.sender == okButton_)
        Close(kConfirmed);
}

void CMsgBoxDlg::SetMessage(const std::wstring& message)
{
    const bool changed = message_ != message;
    message_ = message;
    if (textLabel_)
        textLabel_->SetText(message_);
    if (changed)
        Announce();
}

void CMsgBoxDlg::OnWindowDestroyed(HWND hwnd)
{
    WindowImplBase::OnWindowDestroyed(hwnd);
    if (deleted_)
        *deleted_ = true;
    if (slot_ && *slot_ == this)
        *slot_ = nullptr;
    delete this;
}

CMsgBoxDlg* CMsgBoxDlg::Open(HWND parent, const std::wstring& message, const std::wstring& title,
                             const wchar_t* caption)
{
    CMsgBoxDlg* box = new CMsgBoxDlg(message, title);
    // A window that fails during its creation is destroyed again and frees the
    // object on the way; one that never came into being does not.
    bool deleted = false;
    box->deleted_ = &deleted;
    if (!box->Create(parent, caption, WS_POPUP, 0, 0, 0, 0, 0)) {
        if (!deleted)
            delete box;
        return nullptr;
    }
    box->deleted_ = nullptr;
    box->CenterOnOwner();
    box->ShowWindow(true, true);
    box->Announce();
    return box;
}

UINT CMsgBoxDlg::ShowModal(HWND parent, const std::wstring& message, const std::wstring& title,
                           const wchar_t* caption)
{
    CMsgBoxDlg* box = Open(parent, message, title, caption);
    return box ? box->RunModal() : 0;
}
