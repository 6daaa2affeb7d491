// Paint layer, inside: the shapes drawn with GDI+ (boxes, the close glyph,
// pictures, the spinner), for the paint layer's own files only.
#pragma once

#include <objidl.h>

#include <gdiplus.h>

#include "VEXUI32/SkinPaint.h"

Gdiplus::Color ToColor(DUI_ARGB argb);
// Smoothed edges, pixel centres on half pixels: every shape of the skin is
// drawn with these.
void PrepareGraphics(Gdiplus::Graphics& g);
// Fills and outlines a rectangle; the outline sits on the pixel centres
// inside the rectangle so a 1-pixel border stays sharp.
void DrawBox(Gdiplus::Graphics& g, const RECT& rc, DUI_ARGB argbBack, DUI_ARGB argbBorder, int nRadius);
void DrawCloseGlyph(Gdiplus::Graphics& g, const RECT& rc, DUI_ARGB argb);
// rc is in layout pixels; fDpiScale is the window's DPI over 96.
void DrawPicture(Gdiplus::Graphics& g, const RECT& rc, IDUIPicture* pPicture, float fDpiScale);
void DrawSpinner(Gdiplus::Graphics& g, const RECT& rc, const CLook& look, int nAngle);
// The filled width of a bar; a position beyond 0 to 100 fills it not at all
// or wholly.
int BarFillWidth(int cx, LONG lPos);
