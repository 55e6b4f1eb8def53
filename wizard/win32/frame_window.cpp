#include "frame_window.h"

#include "resource.h"

namespace pelorim {

namespace {

constexpr int kColorSlot = 0;
constexpr int kFontSlot = sizeof(LONG_PTR);

void paint(HWND frame) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(frame, &ps);
    RECT client;
    ::GetClientRect(frame, &client);
    auto* font = reinterpret_cast<HFONT>(::GetWindowLongPtrA(frame, kFontSlot));
    HGDIOBJ old = font != nullptr ? ::SelectObject(dc, font) : nullptr;
    char caption[128] = {};
    const int length = ::GetWindowTextA(frame, caption, sizeof caption);
    TEXTMETRICA metrics{};
    ::GetTextMetricsA(dc, &metrics);
    RECT border = client;
    if (length > 0) border.top += metrics.tmHeight / 2;
    ::DrawEdge(dc, &border, EDGE_ETCHED, BF_RECT);
    if (length > 0) {
        const int dpi = ::GetDeviceCaps(dc, LOGPIXELSX);
        const int left = ::MulDiv(8, dpi, 96);
        const int pad = ::MulDiv(2, dpi, 96);
        SIZE extent{};
        ::GetTextExtentPoint32A(dc, caption, length, &extent);
        RECT behind{left, 0, left + extent.cx + 2 * pad, metrics.tmHeight};
        ::FillRect(dc, &behind, ::GetSysColorBrush(COLOR_BTNFACE));
        ::SetBkMode(dc, TRANSPARENT);
        const bool enabled = ::IsWindowEnabled(frame) != FALSE;
        ::SetTextColor(dc, enabled ? static_cast<COLORREF>(::GetWindowLongPtrA(frame, kColorSlot))
                                   : ::GetSysColor(COLOR_GRAYTEXT));
        ::TextOutA(dc, left + pad, 0, caption, length);
    }
    if (old != nullptr) ::SelectObject(dc, old);
    ::EndPaint(frame, &ps);
}

LRESULT CALLBACK frameProc(HWND frame, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE:
            ::SetWindowLongPtrA(frame, kColorSlot, static_cast<LONG_PTR>(::GetSysColor(COLOR_BTNTEXT)));
            return 0;
        case WM_SETFONT:
            ::SetWindowLongPtrA(frame, kFontSlot, static_cast<LONG_PTR>(wparam));
            if (LOWORD(lparam) != 0) ::InvalidateRect(frame, nullptr, TRUE);
            return 0;
        case WM_GETFONT:
            return ::GetWindowLongPtrA(frame, kFontSlot);
        case WM_ENABLE:
        case WM_SETTEXT: {
            const LRESULT result = ::DefWindowProcA(frame, message, wparam, lparam);
            ::InvalidateRect(frame, nullptr, TRUE);
            return result;
        }
        case WM_ERASEBKGND: {
            RECT client;
            ::GetClientRect(frame, &client);
            ::FillRect(reinterpret_cast<HDC>(wparam), &client, ::GetSysColorBrush(COLOR_BTNFACE));
            return 1;
        }
        case WM_PAINT:
            paint(frame);
            return 0;
        case WM_COMMAND:
        case WM_NOTIFY:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
            return ::SendMessageA(::GetParent(frame), message, wparam, lparam);
        default:
            return ::DefWindowProcA(frame, message, wparam, lparam);
    }
}

}  // namespace

bool registerFrameClass(HINSTANCE instance) {
    WNDCLASSA frameClass{};
    frameClass.lpfnWndProc = frameProc;
    frameClass.hInstance = instance;
    frameClass.cbWndExtra = 2 * sizeof(LONG_PTR);
    frameClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    frameClass.lpszClassName = PELORIM_FRAME_CLASS;
    return ::RegisterClassA(&frameClass) != 0;
}

void setFrameCaptionColor(HWND frame, COLORREF color) {
    if (frame == nullptr) return;
    ::SetWindowLongPtrA(frame, kColorSlot, static_cast<LONG_PTR>(color));
    // Only the caption's band is drawn again.
    RECT band;
    ::GetClientRect(frame, &band);
    HDC dc = ::GetDC(frame);
    auto* font = reinterpret_cast<HFONT>(::GetWindowLongPtrA(frame, kFontSlot));
    HGDIOBJ old = font != nullptr ? ::SelectObject(dc, font) : nullptr;
    TEXTMETRICA metrics{};
    ::GetTextMetricsA(dc, &metrics);
    if (old != nullptr) ::SelectObject(dc, old);
    ::ReleaseDC(frame, dc);
    band.bottom = band.top + metrics.tmHeight + 1;
    ::InvalidateRect(frame, &band, TRUE);
}

COLORREF frameCaptionColor(HWND frame) { return static_cast<COLORREF>(::GetWindowLongPtrA(frame, kColorSlot)); }

}  // namespace pelorim
