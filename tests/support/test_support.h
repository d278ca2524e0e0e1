// Helpers shared by the test programs: message-box recording, expected-list
// comparison, object counts, message pumping and pixel read-back.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "config/panel_model.h"
#include "doctest.h"
#include "support/check_lines.h"

namespace testsupport {

struct MessageBoxRecord {
    HWND owner;
    std::string caption;
    std::string text;
    UINT style;  // MB_TOPMOST, MB_ICONERROR and MB_OK as far as the box shows them
};

// Every message box shown on the test thread since the last clear; each one is
// recorded and dismissed by a thread CBT hook installed before the tests run.
std::vector<MessageBoxRecord>& messageBoxes();
void clearMessageBoxes();
// Runs action inside the box's own message loop, just before the box is dismissed.
// The action gets the box's record; it is cleared after each box.
void whileNextBoxIsOpen(std::function<void(const MessageBoxRecord&)> action);
void installMessageBoxHook();

// GDI objects of this process, counted in the shared GDI handle table (Wine x64).
int gdiObjectCount();
// USER objects in use (under Wine: on the whole display, so tests that compare it run alone).
unsigned userObjectCount();
// Private bytes of this process.
size_t privateBytes();

// Dispatches this thread's pending messages for about the given time.
void pumpMessages(int milliseconds);

// A 32-bit top-down copy of a bitmap's pixels; pixel values 0x00RRGGBB.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<unsigned> pixels;
    unsigned at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};
Image readBitmap(HBITMAP bitmap);
// COLORREF (0x00BBGGRR) to the pixel form 0x00RRGGBB.
unsigned pixelOf(COLORREF colour);

// A temporary folder with a trailing backslash, made anew for each call.
std::string makeTempDir();
// Writes a 16x16 32-bit icon file of one solid colour.
void writeSolidIcon(const std::string& path, COLORREF colour, int size = 16);
void writeFile(const std::string& path, const std::string& bytes);

// Zeroes the model after releasing what a previous test left in it.
void resetModel();

// A graph's samples, the oldest first.
inline std::vector<int64_t> historyOf(const GraphState& g) { return std::vector<int64_t>(g.history, g.history + g.samples); }

}  // namespace testsupport
