#pragma once
// What the update module tells the install window: download progress, the
// end of a package download and the end of the manifest stage.
//
// The operations keep a fixed order (eleven slots). Only slots 2, 3 and 10 are
// raised by this program; the others are kept so the interface stays the same
// as the one other components of the platform implement, and do nothing
// unless an implementer overrides them.
//
// Threads: every call arrives on the UI thread, from the update module's
// helper window.
// Ownership: the module holds a plain pointer and never deletes the listener;
// the listener must outlive the module (or Stop it first).

#include <cstdint>
#include <string>

class IGameEventListener {
public:
    // Slot 0 (not used).
    virtual void OnUnusedEvent0(int, int, int, int) {}
    // Slot 1 (not used).
    virtual void OnUnusedEvent1(int, int, int) {}
    // Slot 2: `total` and `completed` bytes of the package, `speed` in bytes
    // per second, `reserved` always 0.
    virtual void OnDownloadProgress(uint64_t total, uint64_t completed, int speed, int reserved) = 0;
    // Slot 3: once per finished package download; errType 0 means the package
    // is in place. On failure `message` is the text to show.
    virtual void OnDownloadResult(int errType, int code, const std::wstring& message) = 0;
    // Slot 4 (not used).
    virtual void OnUnusedEvent4(int, int, int) {}
    // Slot 5 (not used).
    virtual void OnUnusedEvent5(int) {}
    // Slot 6 (not used).
    virtual void OnUnusedEvent6(int, int, int) {}
    // Slots 7 and 8 (not used).
    virtual void OnUnusedEvent7(int, int) {}
    virtual void OnUnusedEvent8(int, int) {}
    // Slot 9 (not raised by this program).
    virtual void OnUnusedEvent9(int, int) {}
    // Slot 10: once when the manifest stage ends; errType 0 with the
    // manifest's "Version" text, otherwise the last failure and empty text.
    virtual void OnManifestResult(int errType, int code, const std::wstring& text) = 0;

protected:
    // Not deleted through the interface, and no destructor slot, so the
    // operations keep their slot numbers.
    ~IGameEventListener() = default;
};
