// Placeholder: owner drawing is being written.
#include "win32/owner_draw.h"

HFONT ListFont = nullptr;

int CreateListFont(HWND) { return -1; }
void DeleteListFont() {}
int MeasureListItem(HWND, int, MEASUREITEMSTRUCT*) { return 1; }
int DrawListItem(HWND, int, const DRAWITEMSTRUCT*) { return 1; }
int TypeToSelect(WPARAM, HWND) { return -2; }
int RegisterButtonBitmap(HWND, HINSTANCE, int, int, int, int) { return -1; }
int DrawBitmapButton(const DRAWITEMSTRUCT*) { return 0; }
void DeleteButtonBitmaps() {}
