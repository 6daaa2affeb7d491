// Model layer: what the layout and skin files describe, once read: fonts,
// pictures, looks and the layouts with their controls. Shared by the loader,
// the drawing code and the windows; it knows none of them.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/DUIDefs.h"
#include "win/Handles.h"

namespace Gdiplus {
class Bitmap;
}

// A named picture of the skin. The program only ever holds its address.
struct IDUIPicture {
    std::wstring strName;
    std::unique_ptr<Gdiplus::Bitmap> pBitmap;
    std::unique_ptr<Gdiplus::Bitmap> pLarge;  // the same drawn at twice the size, if the skin has it
    IDUIPicture();
    ~IDUIPicture();
};

enum class EDuiKind { Form, Static, Title, Button, CheckBox, Picture, Progress, Animate };
enum class EDuiGlyph { None, Close };

// Colours are 0xAARRGGBB; an alpha of 0 means "not drawn".
typedef DWORD DUI_ARGB;

struct CSkinFont {
    std::wstring strName;
    int nPixels = 13;
    bool bBold = false;
    CFontHandle hFont;  // made once the face is chosen
};

// Index into the three-state colour sets of a look.
enum { LOOK_NORMAL = 0, LOOK_HOVER = 1, LOOK_PRESSED = 2 };

struct CLook {
    DUI_ARGB argbBack[3] = {};
    DUI_ARGB argbBorder[3] = {};
    DUI_ARGB argbText[3] = {0xFF333333, 0xFF333333, 0xFF333333};
    DUI_ARGB argbFore = 0xFF2D7FF9;   // progress fill, check mark box, spinner arc
    DUI_ARGB argbTrack = 0xFFE6EAF0;  // progress and spinner background
    int nRadius = 0;
    const CSkinFont* pFont = nullptr;
    UINT uAlign = DT_LEFT;  // DT_LEFT, DT_CENTER or DT_RIGHT
    int nVAlign = 1;        // 0 top, 1 centre, 2 bottom
    bool bMultiline = false;
    EDuiGlyph eGlyph = EDuiGlyph::None;
    IDUIPicture* pImage = nullptr;
    // Which hover and pressed colours were given; the others follow the
    // state below them.
    unsigned uSetMask = 0;
};

struct CCtrlTemplate {
    EDuiKind eKind = EDuiKind::Static;
    std::wstring strName;
    RECT rc = {};  // window pixels
    std::wstring strText;
    bool bVisible = true;
    bool bChecked = false;
    LONG lPos = 0;
    bool bDefault = false;  // the button Enter presses when focus is not on a button
    std::wstring strLabel;  // what a screen reader calls a control without text
    int nParent = -1;       // index of the enclosing form, -1 at top level
    CLook look;
};

struct CLayout {
    std::wstring strName;
    int cx = 0;
    int cy = 0;
    int nCaption = 0;  // height of the band that drags the window
    bool bCenter = false;
    CLook look;
    std::vector<CCtrlTemplate> vecCtrls;  // in drawing order; a form precedes its children
};

struct CSkinModel {
    std::vector<std::wstring> vecFaces;
    std::map<std::wstring, std::unique_ptr<CSkinFont>> mapFonts;
    std::map<std::wstring, std::unique_ptr<IDUIPicture>> mapPictures;
    std::vector<CLayout> vecLayouts;

    const CLayout* FindLayout(const std::wstring& strName) const;
};

// Reads both files into the model. On failure strError says which file, which
// line and what is wrong.
bool LoadSkinFiles(const std::wstring& strLayoutPath, const std::wstring& strSkinPath, CSkinModel& model,
                   std::wstring& strError);

// Decodes one picture file (SkinPicture.cpp); null with the reason on failure.
std::unique_ptr<Gdiplus::Bitmap> LoadPictureFile(const std::wstring& strPath, std::wstring& strError);

// "#RRGGBB", "#AARRGGBB" or "none"; false for anything else.
bool ParseArgb(const std::wstring& strValue, DUI_ARGB& argb);
