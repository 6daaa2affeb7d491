// One move-only owner per kind of Windows handle, for every module: the
// program, both libraries and the tools. A function with several exits never
// cleans up by hand; the owner closes what it holds on every way out.
//
// Each kind is a traits struct that says what "no handle" is and how the
// handle is given back; CUniqueHandle does the rest. The close functions are
// inline members, so a module links only the system libraries of the kinds
// it really uses.
#pragma once

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>
#include <oleauto.h>
#include <wininet.h>

#include <utility>

template <typename Traits>
class CUniqueHandle {
public:
    using T = typename Traits::Type;
    CUniqueHandle() = default;
    explicit CUniqueHandle(T h) : m_h(h) {}
    ~CUniqueHandle() { Reset(); }
    CUniqueHandle(CUniqueHandle&& o) noexcept : m_h(o.Release()) {}
    CUniqueHandle& operator=(CUniqueHandle&& o) noexcept
    {
        if (this != &o)
            Reset(o.Release());
        return *this;
    }
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;

    T Get() const { return m_h; }
    bool IsValid() const { return Traits::Valid(m_h); }
    explicit operator bool() const { return IsValid(); }
    T Release()
    {
        T h = m_h;
        m_h = Traits::Invalid();
        return h;
    }
    void Reset(T h = Traits::Invalid())
    {
        if (Traits::Valid(m_h))
            Traits::Close(m_h);
        m_h = h;
    }

private:
    T m_h = Traits::Invalid();
};

// Most kinds: null is no handle.
template <typename H>
struct NullMeansNone {
    using Type = H;
    static H Invalid() { return nullptr; }
    static bool Valid(H h) { return h != nullptr; }
};

// Files, processes, threads, events, mutexes, snapshots: both failure values
// of the system's calls, null and INVALID_HANDLE_VALUE, count as no handle.
struct KernelHandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static bool Valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { ::CloseHandle(h); }
};
using CKernelHandle = CUniqueHandle<KernelHandleTraits>;

struct FindHandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Valid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HANDLE h) { ::FindClose(h); }
};
using CFindHandle = CUniqueHandle<FindHandleTraits>;

struct InetHandleTraits : NullMeansNone<HINTERNET> {
    static void Close(HINTERNET h) { ::InternetCloseHandle(h); }
};
using CInetHandle = CUniqueHandle<InetHandleTraits>;

struct RegKeyTraits : NullMeansNone<HKEY> {
    static void Close(HKEY h) { ::RegCloseKey(h); }
};
using CRegKey = CUniqueHandle<RegKeyTraits>;

struct ModuleTraits : NullMeansNone<HMODULE> {
    static void Close(HMODULE h) { ::FreeLibrary(h); }
};
using CModule = CUniqueHandle<ModuleTraits>;

// A BCrypt algorithm provider, and a hash made from one (the hash must be
// destroyed first: declare it after its provider).
struct BCryptAlgorithmTraits : NullMeansNone<BCRYPT_ALG_HANDLE> {
    static void Close(BCRYPT_ALG_HANDLE h) { ::BCryptCloseAlgorithmProvider(h, 0); }
};
using CBCryptAlgorithm = CUniqueHandle<BCryptAlgorithmTraits>;

struct BCryptHashTraits : NullMeansNone<BCRYPT_HASH_HANDLE> {
    static void Close(BCRYPT_HASH_HANDLE h) { ::BCryptDestroyHash(h); }
};
using CBCryptHash = CUniqueHandle<BCryptHashTraits>;

// A CryptoAPI provider context, and a hash made from one (declare the hash
// after its provider, so that it is destroyed first). Both are plain
// numbers, with 0 for none.
struct CryptProvTraits {
    using Type = HCRYPTPROV;
    static HCRYPTPROV Invalid() { return 0; }
    static bool Valid(HCRYPTPROV h) { return h != 0; }
    static void Close(HCRYPTPROV h) { ::CryptReleaseContext(h, 0); }
};
using CCryptProv = CUniqueHandle<CryptProvTraits>;

struct CryptHashTraits {
    using Type = HCRYPTHASH;
    static HCRYPTHASH Invalid() { return 0; }
    static bool Valid(HCRYPTHASH h) { return h != 0; }
    static void Close(HCRYPTHASH h) { ::CryptDestroyHash(h); }
};
using CCryptHash = CUniqueHandle<CryptHashTraits>;

// Fonts, bitmaps, brushes, pens, regions. The owner must outlive every DC
// it is selected into (CSelectObject puts the old one back first).
template <typename H>
struct GdiObjectTraits : NullMeansNone<H> {
    static void Close(H h) { ::DeleteObject(h); }
};
template <typename H>
using CGdiObject = CUniqueHandle<GdiObjectTraits<H>>;
using CFontHandle = CGdiObject<HFONT>;
using CBitmapHandle = CGdiObject<HBITMAP>;
using CBrushHandle = CGdiObject<HBRUSH>;
using CPenHandle = CGdiObject<HPEN>;
using CRegionHandle = CGdiObject<HRGN>;

// An icon made by LoadImage or CreateIcon (not a shared one).
struct IconTraits : NullMeansNone<HICON> {
    static void Close(HICON h) { ::DestroyIcon(h); }
};
using CIconHandle = CUniqueHandle<IconTraits>;

// A DC made by CreateCompatibleDC or CreateDC.
struct MemoryDCTraits : NullMeansNone<HDC> {
    static void Close(HDC h) { ::DeleteDC(h); }
};
using CMemoryDC = CUniqueHandle<MemoryDCTraits>;

// A window's (or the screen's) DC from GetDC, given back to the same window.
class CWindowDC {
public:
    explicit CWindowDC(HWND hWnd) : m_hWnd(hWnd), m_hDC(::GetDC(hWnd)) {}
    ~CWindowDC()
    {
        if (m_hDC)
            ::ReleaseDC(m_hWnd, m_hDC);
    }
    CWindowDC(const CWindowDC&) = delete;
    CWindowDC& operator=(const CWindowDC&) = delete;
    HDC Get() const { return m_hDC; }
    explicit operator bool() const { return m_hDC != nullptr; }

private:
    HWND m_hWnd;
    HDC m_hDC;
};

// Selects an object into a DC and puts the one it replaced back on the way
// out, so the object can be deleted and the DC released cleanly.
class CSelectObject {
public:
    CSelectObject(HDC hDC, HGDIOBJ hObject) : m_hDC(hDC), m_hOld(hObject ? ::SelectObject(hDC, hObject) : nullptr) {}
    ~CSelectObject()
    {
        if (m_hOld && m_hOld != HGDI_ERROR)
            ::SelectObject(m_hDC, m_hOld);
    }
    CSelectObject(const CSelectObject&) = delete;
    CSelectObject& operator=(const CSelectObject&) = delete;

private:
    HDC m_hDC;
    HGDIOBJ m_hOld;
};

// Memory the system allocated for the caller (FormatMessage,
// CommandLineToArgvW, per-connection options) or that is handed to a stream.
struct LocalMemoryTraits : NullMeansNone<HLOCAL> {
    static void Close(HLOCAL h) { ::LocalFree(h); }
};
using CLocalMemory = CUniqueHandle<LocalMemoryTraits>;

struct GlobalMemoryTraits : NullMeansNone<HGLOBAL> {
    static void Close(HGLOBAL h) { ::GlobalFree(h); }
};
using CGlobalMemory = CUniqueHandle<GlobalMemoryTraits>;

struct BstrTraits : NullMeansNone<BSTR> {
    static void Close(BSTR b) { ::SysFreeString(b); }
};
using CBstr = CUniqueHandle<BstrTraits>;
