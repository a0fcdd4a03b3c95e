#pragma once
// An owning interface pointer: holds one reference and releases it when it
// goes. Copies add a reference, moves hand the one held over.
#include "platform/Types.h"

#include <utility>

template <class Interface> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes over a reference the caller holds (as Attach).
    explicit ComPtr(Interface* held) : pointer_(held) {}
    ComPtr(const ComPtr& other) : pointer_(other.pointer_) {
        if (pointer_) pointer_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(pointer_, other.pointer_);
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Releases what was held and takes over `held`'s reference.
    void Attach(Interface* held) {
        Reset();
        pointer_ = held;
    }
    // Hands the reference to the caller, holding nothing.
    Interface* Detach() { return std::exchange(pointer_, nullptr); }
    void Reset() {
        if (Interface* held = std::exchange(pointer_, nullptr)) held->Release();
    }
    // For an out parameter: releases what was held first.
    Interface** operator&() {
        Reset();
        return &pointer_;
    }
    // The same for the void** of CoCreateInstance and QueryInterface.
    void** Out() {
        Reset();
        return reinterpret_cast<void**>(&pointer_);
    }

    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

private:
    Interface* pointer_ = nullptr;
};
