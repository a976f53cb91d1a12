// The test hook: with the environment variable QUAYLINK_TEST_LOG naming a
// file, the program appends one line to it for everything a user would see
// or do (a command, a message box with its answer, a dialog with its
// controls, the progress window, the main window's state after each
// command). The end-to-end tests read it, since controls cannot be read
// reliably from outside the program. Without the variable every call returns
// at once.
//
// A line is an event name and key=value fields; a text value is quoted, with
// \" \\ \n \t and \xHH escapes, and written as UTF-8.
#pragma once
#include <windows.h>

// Reads the environment; called once by the entry procedure.
void StartTestHook();
bool TestHookOn();

// A command of the main window (menu, button, key, list or box notification).
void LogCommand(int id, unsigned notification);
// A message box before it shows and after it is answered (Windows-1252 texts).
void LogMessageOpen(const char* caption, const char* text, unsigned style);
void LogMessageAnswer(int answer);
// A dialog as it opens ("open") or ends ("close", with its end value): its
// template and every control's id, class, screen rectangle, text, state,
// list items and selection.
void LogDialog(HWND dialog, const char* templateName, const char* event, int endValue);
// The main window's controls the same way, the file lists with their lines
// as painted; event "ready" after start-up, "idle" after each command.
void LogMainWindow(HWND window, const char* event);
// The progress window: "open" with its title, "item" with the name line,
// "close".
void LogProgress(const char* event, const char* text);
// Anything else worth a line (an image opened, a file dropped).
void LogEvent(const char* event, const char* text);
