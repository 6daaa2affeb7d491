#include "tests/msgbox/SkinRecorder.h"

namespace {

std::wstring FromBstr(BSTR bstr)
{
    return bstr ? std::wstring(bstr) : std::wstring();
}

// A control's operations: passed on, and the ones that change what the box
// says are noted for the control that BindCtrl selected.
class CRecordingCtrl : public IDUICtrl {
public:
    CRecordingCtrl(CSkinRecorder* pRecorder, IDUICtrl* pReal) : m_pRecorder(pRecorder), m_pReal(pReal) {}

    HRESULT DUIAPI SetVisible(VARIANT_BOOL bVisible, VARIANT_BOOL bRepaint, LONG lReserved) override
    {
        return m_pReal->SetVisible(bVisible, bRepaint, lReserved);
    }
    HRESULT DUIAPI GetRect(IDUIRect** ppRect) override { return m_pReal->GetRect(ppRect); }
    HRESULT DUIAPI SetRect(IDUIRect* pRect) override { return m_pReal->SetRect(pRect); }
    HRESULT DUIAPI GetVisible(VARIANT_BOOL* pbVisible) override { return m_pReal->GetVisible(pbVisible); }
    HRESULT DUIAPI BindCtrl(LONG hCtrl) override
    {
        m_hBound = hCtrl;
        return m_pReal->BindCtrl(hCtrl);
    }
    HRESULT DUIAPI SetText(BSTR bstrText) override
    {
        m_pRecorder->OnText(m_hBound, FromBstr(bstrText));
        return m_pReal->SetText(bstrText);
    }
    HRESULT DUIAPI SetPos(LONG lPos, LONG* plOldPos) override { return m_pReal->SetPos(lPos, plOldPos); }
    HRESULT DUIAPI SetImage(IDUIPicture* pPicture, LONG lIndex, VARIANT_BOOL* pbDone) override
    {
        m_pRecorder->OnImage(m_hBound, pPicture);
        return m_pReal->SetImage(pPicture, lIndex, pbDone);
    }
    HRESULT DUIAPI GetCheck(LONG* plCheck) override { return m_pReal->GetCheck(plCheck); }
    HRESULT DUIAPI SetTextStyle(LONG lColor, LONG lFontSize, LONG lBold, LONG lItalic, LONG lWrapWidth) override
    {
        m_pRecorder->OnTextStyle(m_hBound);
        return m_pReal->SetTextStyle(lColor, lFontSize, lBold, lItalic, lWrapWidth);
    }

    IDUICtrl* Real() const { return m_pReal; }

private:
    CSkinRecorder* m_pRecorder;
    IDUICtrl* m_pReal;
    LONG m_hBound = 0;
};

}  // namespace

// A layout attached to one window: lookups pass through, and each control
// record found gets the recording operations in place of the library's.
class CRecordingWindow : public IDirectUI {
public:
    CRecordingWindow(CSkinRecorder* pRecorder, IDirectUI* pReal) : m_pRecorder(pRecorder), m_pReal(pReal) {}

    HRESULT DUIAPI GetCtrl(LONG lType, BSTR bstrName, VARIANT_BOOL bDeep, LONG* plCtrl) override
    {
        const HRESULT hr = m_pReal->GetCtrl(lType, bstrName, bDeep, plCtrl);
        DUI_CTRLBASE* pBase = (plCtrl && *plCtrl) ? GetCtrlBase(*plCtrl) : nullptr;
        if (pBase)
            pBase->pCtrl = m_pRecorder->WrapCtrl(pBase->pCtrl);
        m_pRecorder->OnLookup(FromBstr(bstrName), pBase);
        return hr;
    }

private:
    CSkinRecorder* m_pRecorder;
    IDirectUI* m_pReal;
};

struct CSkinRecorder::CRes : IDUIRes {
    CRes(CSkinRecorder* pRecorder, IDUIRes* pReal) : m_pRecorder(pRecorder), m_pReal(pReal) {}

    HRESULT DUIAPI CreateDirectUI(BSTR bstrLayout, HWND hWnd, IDirectUI** ppDirectUI) override
    {
        const HRESULT hr = m_pReal->CreateDirectUI(bstrLayout, hWnd, ppDirectUI);
        if (ppDirectUI && *ppDirectUI) {
            m_pRecorder->Reset();
            m_pRecorder->m_vecWindowWrappers.push_back(std::make_unique<CRecordingWindow>(m_pRecorder, *ppDirectUI));
            *ppDirectUI = m_pRecorder->m_vecWindowWrappers.back().get();
        }
        return hr;
    }
    HRESULT DUIAPI GetResource(LONG lKind, BSTR bstrName, LONG lReserved, VARIANT_BOOL bShared,
                               IDUIPicture** ppPicture) override
    {
        const HRESULT hr = m_pReal->GetResource(lKind, bstrName, lReserved, bShared, ppPicture);
        if (ppPicture && *ppPicture)
            m_pRecorder->OnPicture(*ppPicture, FromBstr(bstrName));
        return hr;
    }

    CSkinRecorder* m_pRecorder;
    IDUIRes* m_pReal;
};

CSkinRecorder::CSkinRecorder(IDUIRes* pRealRes) : m_pRes(std::make_unique<CRes>(this, pRealRes)) {}

CSkinRecorder::~CSkinRecorder() = default;

IDUIRes* CSkinRecorder::Res()
{
    return m_pRes->m_pReal ? m_pRes.get() : nullptr;
}

IDUICtrl* CSkinRecorder::WrapCtrl(IDUICtrl* pReal)
{
    for (const auto& pWrapper : m_vecCtrlWrappers) {
        if (pWrapper.get() == pReal)
            return pReal;
    }
    m_vecCtrlWrappers.push_back(std::make_unique<CRecordingCtrl>(this, pReal));
    return m_vecCtrlWrappers.back().get();
}

void CSkinRecorder::Reset()
{
    m_mapHandles.clear();
    m_mapTexts.clear();
    m_mapImages.clear();
    m_mapStyled.clear();
}

void CSkinRecorder::OnLookup(const std::wstring& strName, DUI_CTRLBASE* pBase)
{
    if (pBase)
        m_mapHandles[strName] = pBase->hCtrl;
}

void CSkinRecorder::OnPicture(IDUIPicture* pPicture, const std::wstring& strName)
{
    m_mapPictureNames[pPicture] = strName;
}

void CSkinRecorder::OnText(LONG hCtrl, const std::wstring& strText)
{
    m_mapTexts[hCtrl] = strText;
}

void CSkinRecorder::OnImage(LONG hCtrl, IDUIPicture* pPicture)
{
    m_mapImages[hCtrl] = pPicture;
}

void CSkinRecorder::OnTextStyle(LONG hCtrl)
{
    m_mapStyled[hCtrl] = true;
}

LONG CSkinRecorder::HandleOf(const std::wstring& strCtrl) const
{
    auto it = m_mapHandles.find(strCtrl);
    return it == m_mapHandles.end() ? -1 : it->second;
}

bool CSkinRecorder::HasText(const std::wstring& strCtrl) const
{
    return m_mapTexts.count(HandleOf(strCtrl)) != 0;
}

std::wstring CSkinRecorder::Text(const std::wstring& strCtrl) const
{
    auto it = m_mapTexts.find(HandleOf(strCtrl));
    return it == m_mapTexts.end() ? std::wstring(L"<not set>") : it->second;
}

std::wstring CSkinRecorder::PictureName(const std::wstring& strCtrl) const
{
    auto it = m_mapImages.find(HandleOf(strCtrl));
    if (it == m_mapImages.end())
        return L"<not set>";
    auto itName = m_mapPictureNames.find(it->second);
    return itName == m_mapPictureNames.end() ? std::wstring(L"<unknown picture>") : itName->second;
}

bool CSkinRecorder::TextStyled(const std::wstring& strCtrl) const
{
    auto it = m_mapStyled.find(HandleOf(strCtrl));
    return it != m_mapStyled.end() && it->second;
}
