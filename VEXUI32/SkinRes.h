// Model layer: the loaded skin, the resources every window of the process
// shares (fonts, pictures, layouts), and the library's last error. Which
// windows use the skin is the window layer's business (SkinUI.h).
#pragma once

#include "VEXUI32/SkinModel.h"

// GDI+ from the skin's opening to its freeing: pictures are decoded and drawn
// only in between. The one owner of the library's GDI+ start-up.
class CGdiplusSession {
public:
    CGdiplusSession() = default;
    ~CGdiplusSession();
    CGdiplusSession(const CGdiplusSession&) = delete;
    CGdiplusSession& operator=(const CGdiplusSession&) = delete;
    bool Start(std::wstring& strError);

private:
    ULONG_PTR m_ulToken = 0;
};

// IDUIRes without CreateDirectUI, which the window layer adds.
class CSkinRes : public IDUIRes {
public:
    CSkinRes() = default;
    virtual ~CSkinRes();
    CSkinRes(const CSkinRes&) = delete;
    CSkinRes& operator=(const CSkinRes&) = delete;

    HRESULT DUIAPI GetResource(LONG lKind, BSTR bstrName, LONG lReserved, VARIANT_BOOL bShared,
                               IDUIPicture** ppPicture) override;

    // Starts GDI+ for the skin's lifetime; false with the reason if it cannot.
    bool StartDrawing(std::wstring& strError) { return m_gdiplus.Start(strError); }
    // Reads both files, chooses the font face and makes the fonts.
    bool Load(const std::wstring& strLayoutPath, const std::wstring& strSkinPath, std::wstring& strError);

    const std::wstring& FaceName() const { return m_strFace; }
    const CLayout* FindLayout(const std::wstring& strName) const { return m_model.FindLayout(strName); }
    bool IsPicture(const IDUIPicture* pPicture) const;

private:
    // First, so that it is stopped after the pictures are gone.
    CGdiplusSession m_gdiplus;
    CSkinModel m_model;
    std::wstring m_strFace;
};

// Records the reason of the last failure for GetSkinLastErrorW and the
// debugger output.
void SetSkinError(const std::wstring& strText);
void ClearSkinError();
const std::wstring& SkinLastError();

// The first face of the list that is installed, else the first of the list.
std::wstring ChooseFontFace(const std::vector<std::wstring>& vecFaces);

// A relative skin path is taken from the executable's folder (strExeDir ends
// with a backslash), so the program finds its skin whatever its working
// directory; an absolute path stays as it is.
std::wstring ResolveSkinPath(const std::wstring& strExeDir, const std::wstring& strPath);
