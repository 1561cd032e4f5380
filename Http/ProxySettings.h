#pragma once
// Where the proxy settings and script answers come from: the platform edge of
// the proxy choice (the choice itself is ProxyDecision's).
//
// Whose settings: a machine under the policy "ProxySettingsPerUser" = 0 (under
// HKLM\SOFTWARE\Policies\Microsoft\Windows\CurrentVersion\Internet Settings)
// has one set for everybody, the machine's "DefaultConnectionSettings".
// Otherwise they are the signed-in user's, as WinHTTP reports them for the
// current user. The installer runs elevated; when the elevation came from
// another administrator's credentials, "the current user" would be that
// administrator, whose profile says nothing about this desk's network. So
// when the desktop shell runs as a different user than this process, the
// settings are read while impersonating the shell's token (the same token
// the launcher is started with).
//
// Scripts (a configuration script's address, or one found by automatic
// detection) run through WinHttpGetProxyForUrl, each lookup bounded in time:
// a network without WPAD or with a dead script server costs a few seconds
// once, not a hang.
//
// Threads: ReadConfig and Lookup block and are called on the resolver's
// thread only (ProxyResolver); no state is shared.

#include <winsock2.h>
#include <windows.h>

#include <string>

#include "Http/ProxyDecision.h"

class IProxyPlatform {
public:
    enum LookupKind { kAutoDetect, kScript };

    // The settings in force (all empty when nothing can be read: direct).
    virtual ProxyConfig ReadConfig() = 0;
    // The script's answer for `url`; `scriptUrl` is used for kScript.
    virtual LookupOutcome Lookup(LookupKind kind, const std::wstring& scriptUrl, const std::wstring& url) = 0;

protected:
    ~IProxyPlatform() = default;
};

class SystemProxyPlatform : public IProxyPlatform {
public:
    // Bounds of one lookup: automatic detection asks DHCP and DNS before it
    // fetches anything, a configured script is fetched at once.
    static const DWORD kAutoDetectLimitMs = 4000;
    static const DWORD kScriptLimitMs = 8000;

    ProxyConfig ReadConfig() override;
    LookupOutcome Lookup(LookupKind kind, const std::wstring& scriptUrl, const std::wstring& url) override;
    virtual ~SystemProxyPlatform() = default;
};
