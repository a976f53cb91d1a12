// What the main window draws itself: the list font, the two file lists'
// lines, type-to-select, and the bitmap faces of the four command buttons.
#pragma once
#include <windows.h>

// The font of the file lists, the drop-down boxes and the dialogs' text
// fields; made once by CreateListFont, deleted at exit.
extern HFONT ListFont;
// Makes ListFont from `window`'s dialog font at normal weight: 0, or -1.
int CreateListFont(HWND window);
void DeleteListFont();

// WM_MEASUREITEM and WM_DRAWITEM for the lists 111 and 119 (1 for others).
int MeasureListItem(HWND window, int control, MEASUREITEMSTRUCT* measure);
int DrawListItem(HWND window, int control, const DRAWITEMSTRUCT* draw);
// WM_CHARTOITEM: the next item whose name begins with the typed character
// selected alone; always -2.
int TypeToSelect(WPARAM characterAndCaret, HWND list);

// The bitmap buttons: their faces registered at start-up, drawn on
// WM_DRAWITEM, deleted at exit.
int RegisterButtonBitmap(HWND window, HINSTANCE instance, int control, int normal, int pressed = 0,
                         int disabled = 0);
int DrawBitmapButton(const DRAWITEMSTRUCT* draw);
void DeleteButtonBitmaps();
