// The one entry to <windows.h> for the Windows backend (and its own tests), plus RAII owners
// for the kernel objects the backend opens.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// <windows.h> maps these names to their "A" functions by macro, which would rename our own
// vxo::platform functions of the same name. Every call here spells the "A" form explicitly.
#undef LoadLibrary
#undef SetCurrentDirectory

#include <cstdint>
#include <utility>

namespace vxo::platform::win32 {

// A kernel handle closed with CloseHandle. Both NULL and INVALID_HANDLE_VALUE mean "none",
// since CreateFileA and CreateMutexA report failure differently.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    static bool IsValid(HANDLE handle) {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    }
    bool valid() const { return IsValid(handle_); }
    HANDLE get() const { return handle_; }
    HANDLE release() { return std::exchange(handle_, nullptr); }
    void reset(HANDLE handle = nullptr) {
        HANDLE old = std::exchange(handle_, handle);
        if (IsValid(old)) ::CloseHandle(old);
    }

private:
    HANDLE handle_ = nullptr;
};

// An open registry key closed with RegCloseKey.
class UniqueRegKey {
public:
    UniqueRegKey() = default;
    UniqueRegKey(UniqueRegKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    UniqueRegKey& operator=(UniqueRegKey&& other) noexcept {
        if (this != &other) {
            reset();
            key_ = std::exchange(other.key_, nullptr);
        }
        return *this;
    }
    UniqueRegKey(const UniqueRegKey&) = delete;
    UniqueRegKey& operator=(const UniqueRegKey&) = delete;
    ~UniqueRegKey() { reset(); }

    HKEY get() const { return key_; }
    // For the out-parameter of RegOpenKeyExA / RegCreateKeyExA.
    HKEY* receive() {
        reset();
        return &key_;
    }
    void reset() {
        if (key_ != nullptr) ::RegCloseKey(std::exchange(key_, nullptr));
    }

private:
    HKEY key_ = nullptr;
};

// A view returned by MapViewOfFile, released with UnmapViewOfFile.
class UniqueView {
public:
    UniqueView() = default;
    explicit UniqueView(void* view) : view_(view) {}
    UniqueView(UniqueView&& other) noexcept : view_(other.release()) {}
    UniqueView& operator=(UniqueView&& other) noexcept {
        if (this != &other) {
            reset();
            view_ = other.release();
        }
        return *this;
    }
    UniqueView(const UniqueView&) = delete;
    UniqueView& operator=(const UniqueView&) = delete;
    ~UniqueView() { reset(); }

    void* get() const { return view_; }
    void* release() { return std::exchange(view_, nullptr); }
    void reset() {
        if (view_ != nullptr) ::UnmapViewOfFile(std::exchange(view_, nullptr));
    }

private:
    void* view_ = nullptr;
};

// Memory from FormatMessageA's FORMAT_MESSAGE_ALLOCATE_BUFFER, released with LocalFree.
class UniqueLocal {
public:
    UniqueLocal() = default;
    UniqueLocal(const UniqueLocal&) = delete;
    UniqueLocal& operator=(const UniqueLocal&) = delete;
    ~UniqueLocal() {
        if (memory_ != nullptr) ::LocalFree(memory_);
    }
    char* get() const { return memory_; }
    char** receive() { return &memory_; }

private:
    char* memory_ = nullptr;
};

inline HANDLE ToHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }
inline std::intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

}  // namespace vxo::platform::win32
