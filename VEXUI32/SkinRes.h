// The loaded skin: the one IDUIRes of the process, owner of every object the
// library hands out until FreeSkin.
#pragma once

#include "VEXUI32/SkinModel.h"

class CDirectUI;
class CDUIControl;

class CSkinRes : public IDUIRes {
public:
    CSkinRes() = default;
    ~CSkinRes();
    CSkinRes(const CSkinRes&) = delete;
    CSkinRes& operator=(const CSkinRes&) = delete;

    HRESULT DUIAPI CreateDirectUI(BSTR bstrLayout, HWND hWnd, IDirectUI** ppDirectUI) override;
    HRESULT DUIAPI GetResource(LONG lKind, BSTR bstrName, LONG lReserved, VARIANT_BOOL bShared,
                               IDUIPicture** ppPicture) override;

    // Reads both files, chooses the font face and makes the fonts.
    bool Load(const std::wstring& strLayoutPath, const std::wstring& strSkinPath, std::wstring& strError);

    const std::wstring& FaceName() const { return m_strFace; }
    LONG RegisterControl(CDUIControl* pCtrl);
    CDUIControl* FindControl(LONG hCtrl) const;
    bool IsPicture(const IDUIPicture* pPicture) const;
    // The attached layout of a live window, or null.
    CDirectUI* FindWindowUI(HWND hWnd) const;

private:
    CSkinModel m_model;
    std::wstring m_strFace;
    std::vector<std::unique_ptr<CDirectUI>> m_vecWindows;
    std::map<LONG, CDUIControl*> m_mapControls;
    // Handles start high so that small integers (a stray 0, 1, TRUE) never
    // name a control.
    LONG m_lNextHandle = 0x51000;
};

// The skin of the process, or null while none is open.
CSkinRes* GetSkin();

// Records the reason of the last failure for GetSkinLastErrorW and the
// debugger output.
void SetSkinError(const std::wstring& strText);

// The first face of the list that is installed, else the first of the list.
std::wstring ChooseFontFace(const std::vector<std::wstring>& vecFaces);

// Starts and stops the drawing library around the lifetime of a skin.
bool StartDrawing(std::wstring& strError);
void StopDrawing();

// A relative skin path is taken from the executable's folder (strExeDir ends
// with a backslash), so the program finds its skin whatever its working
// directory; an absolute path stays as it is.
std::wstring ResolveSkinPath(const std::wstring& strExeDir, const std::wstring& strPath);
