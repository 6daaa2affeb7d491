// Model layer: the skin's pictures, decoded once when the skin is opened, and
// GDI+, which decodes and later draws them.
#include "VEXUI32/SkinRes.h"

#include <objidl.h>

#include <gdiplus.h>

namespace {

// Pictures beyond this are not icons of a skin; refusing them keeps a bad
// file from costing hundreds of megabytes.
const UINT kMaxPictureSide = 2048;

// A bitmap of our own with the picture the stream holds.
std::unique_ptr<Gdiplus::Bitmap> DecodePicture(IStream* pStream, std::wstring& strError)
{
    Gdiplus::Bitmap decoded(pStream);
    UINT cx = decoded.GetWidth();
    UINT cy = decoded.GetHeight();
    if (decoded.GetLastStatus() != Gdiplus::Ok || cx == 0 || cy == 0) {
        strError = L"not a picture that can be decoded (use PNG)";
        return nullptr;
    }
    if (cx > kMaxPictureSide || cy > kMaxPictureSide) {
        strError = L"the picture is larger than 2048 pixels";
        return nullptr;
    }
    auto pCopy = std::make_unique<Gdiplus::Bitmap>(static_cast<INT>(cx), static_cast<INT>(cy), PixelFormat32bppPARGB);
    Gdiplus::Graphics g(pCopy.get());
    g.DrawImage(&decoded, 0, 0, static_cast<INT>(cx), static_cast<INT>(cy));
    return pCopy;
}

}  // namespace

IDUIPicture::IDUIPicture() = default;
IDUIPicture::~IDUIPicture() = default;

CGdiplusSession::~CGdiplusSession()
{
    if (m_ulToken)
        Gdiplus::GdiplusShutdown(m_ulToken);
}

bool CGdiplusSession::Start(std::wstring& strError)
{
    if (m_ulToken)
        return true;
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&m_ulToken, &input, nullptr) != Gdiplus::Ok) {
        m_ulToken = 0;
        strError = L"cannot start GDI+";
        return false;
    }
    return true;
}

std::unique_ptr<Gdiplus::Bitmap> LoadPictureFile(const std::wstring& strPath, std::wstring& strError)
{
    // Decoded from a copy in memory, then copied again into a bitmap of our
    // own, so that no file or stream stays locked behind the picture.
    CKernelHandle file(::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        strError = L"cannot open the file (error " + std::to_wstring(::GetLastError()) + L")";
        return nullptr;
    }
    DWORD dwSize = ::GetFileSize(file.Get(), nullptr);
    CGlobalMemory mem;
    bool bRead = false;
    if (dwSize != INVALID_FILE_SIZE && dwSize > 0 && dwSize < 16 * 1024 * 1024) {
        mem.Reset(::GlobalAlloc(GMEM_MOVEABLE, dwSize));
        void* pData = mem ? ::GlobalLock(mem.Get()) : nullptr;
        DWORD dwRead = 0;
        bRead = pData && ::ReadFile(file.Get(), pData, dwSize, &dwRead, nullptr) && dwRead == dwSize;
        if (pData)
            ::GlobalUnlock(mem.Get());
    }
    file.Reset();
    IStream* pStream = nullptr;
    if (!bRead || FAILED(::CreateStreamOnHGlobal(mem.Get(), TRUE, &pStream))) {
        strError = L"cannot read the file";
        return nullptr;
    }
    // The stream owns the memory from here on and frees it with itself.
    mem.Release();
    std::unique_ptr<Gdiplus::Bitmap> pCopy = DecodePicture(pStream, strError);
    pStream->Release();
    return pCopy;
}
