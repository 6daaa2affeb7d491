// Wraps the real skin so a test can see which captions, pictures and styles
// the box gave its controls, while the library still draws the box and
// reports the clicks. Only the control operations are recorded; every call is
// passed on unchanged.
#pragma once

#include "ui/DUIDefs.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class CSkinRecorder {
public:
    // Takes the loaded skin; Res() is what the program is given instead.
    explicit CSkinRecorder(IDUIRes* pRealRes);
    ~CSkinRecorder();

    IDUIRes* Res();

    // What the last attached window did to its controls, by control name.
    bool HasText(const std::wstring& strCtrl) const;
    std::wstring Text(const std::wstring& strCtrl) const;
    std::wstring PictureName(const std::wstring& strCtrl) const;
    bool TextStyled(const std::wstring& strCtrl) const;

    void Reset();

    // Called by the wrappers.
    void OnLookup(const std::wstring& strName, DUI_CTRLBASE* pBase);
    void OnPicture(IDUIPicture* pPicture, const std::wstring& strName);
    void OnText(LONG hCtrl, const std::wstring& strText);
    void OnImage(LONG hCtrl, IDUIPicture* pPicture);
    void OnTextStyle(LONG hCtrl);
    IDUICtrl* WrapCtrl(IDUICtrl* pReal);

private:
    LONG HandleOf(const std::wstring& strCtrl) const;

    struct CRes;
    std::unique_ptr<CRes> m_pRes;
    std::vector<std::unique_ptr<IDUICtrl>> m_vecCtrlWrappers;
    std::vector<std::unique_ptr<IDirectUI>> m_vecWindowWrappers;
    std::map<std::wstring, LONG> m_mapHandles;
    std::map<LONG, std::wstring> m_mapTexts;
    std::map<LONG, IDUIPicture*> m_mapImages;
    std::map<LONG, bool> m_mapStyled;
    std::map<IDUIPicture*, std::wstring> m_mapPictureNames;

    friend struct CRes;
    friend class CRecordingWindow;
};
