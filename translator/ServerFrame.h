#pragma once
// The frame every class of the library stands in: the class table, the
// common object base with aggregation, the class factory and the module's
// counts that decide when the library may be unloaded.
#include "rastrel.h"

#include <atomic>

namespace rastrel {

class ComObjectBase;
using Creator = ComObjectBase* (*)(IUnknown* outer, HRESULT* result);
using NotificationHook = void (*)(int reason, const CLSID* clsid);

// One per creatable class; each puts itself at the head of the module's list.
struct ClassEntry {
    ClassEntry(const CLSID* identifier, Creator make, NotificationHook notify);
    const CLSID* clsid;
    Creator creator;
    NotificationHook hook;
    ClassEntry* next;
};
ClassEntry* ClassList();

extern std::atomic<LONG> g_liveObjects;
extern LONG g_lockCount;
extern HINSTANCE g_instance;

// The object's own (non-delegating) IUnknown comes first; further interfaces
// forward to the controlling unknown, the outer object of an aggregate.
class ComObjectBase : public IUnknown {
public:
    explicit ComObjectBase(IUnknown* outer);
    virtual ~ComObjectBase();
    ComObjectBase(const ComObjectBase&) = delete;
    ComObjectBase& operator=(const ComObjectBase&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    IUnknown* Controlling() const { return controlling_; }

protected:
    // The class's own interfaces; anything else is E_NOINTERFACE.
    virtual HRESULT QueryOwnInterface(REFIID riid, void** ppv);
    // Hands out an interface with a reference added.
    static HRESULT Hand(IUnknown* interface, void** ppv);

private:
    IUnknown* controlling_;
    std::atomic<LONG> references_{0};
};

// An interface of an object: its IUnknown slots forward to the controlling unknown.
template <class Object, class Interface> class Delegating : public Interface {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        return Owner()->Controlling()->QueryInterface(riid, ppv);
    }
    ULONG AddRef() override { return Owner()->Controlling()->AddRef(); }
    ULONG Release() override { return Owner()->Controlling()->Release(); }

private:
    Object* Owner() { return static_cast<Object*>(this); }
};

// The creator every class entry uses: allocate, construct, report memory.
template <class Object> ComObjectBase* Create(IUnknown* outer, HRESULT* result) {
    auto* object = new (std::nothrow) Object(outer);
    if (object == nullptr) *result = E_OUTOFMEMORY;
    return object;
}

// Registration of one class under HKEY_CLASSES_ROOT\CLSID (threading: 0 none,
// 1 "Apartment", 2 "Both").
HRESULT RegisterClass(const CLSID& clsid, int threading);
HRESULT UnregisterClass(const CLSID& clsid);

} // namespace rastrel
