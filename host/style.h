// The host's style record (what GetSettingPtr(1) hands out): a 300-byte block with the
// text colour at byte 24, filled from defaults or a small style file.
#pragma once

#include <windows.h>

#include <string>

namespace hoststyle {

constexpr int RECORD_SIZE = 300;

// Byte offsets inside the record. Plugins copy the record whole and know only the text
// colour's place; the rest is this host's own layout.
constexpr int GRADIENT_FROM = 0;      // COLORREF
constexpr int GRADIENT_TO = 4;        // COLORREF
constexpr int GRADIENT_KIND = 8;      // int: see GradientKind
constexpr int BORDER_COLOUR = 12;     // COLORREF
constexpr int BORDER_WIDTH = 16;      // int, pixels
constexpr int FONT_HEIGHT = 20;       // int, pixels
constexpr int TEXT_COLOUR = 24;       // COLORREF
constexpr int FONT_WEIGHT = 28;       // int, FW_*
constexpr int FONT_FACE = 32;         // 32 bytes of text
constexpr int FONT_FACE_SIZE = 32;

enum GradientKind { GRADIENT_VERTICAL = 0, GRADIENT_HORIZONTAL = 1, GRADIENT_FLAT = 2 };

struct Record {
    unsigned char bytes[RECORD_SIZE];
};

void setDefaults(Record& record);
// Reads "style.*" keys from a style file over the defaults. False with an error text
// when the file cannot be read or holds a value of the wrong form.
bool loadStyleFile(const char* path, Record& record, std::string* error);
// The same from the file's text.
bool applyStyleText(const std::string& text, Record& record, std::string* error);

COLORREF colourAt(const void* record, int offset);
int intAt(const void* record, int offset);
std::string fontFace(const void* record);

// A new font described by the record; the caller owns it.
HFONT makeFont(const void* record);
// Covers the whole rectangle with the record's gradient, and its border when asked.
void paintGradient(HDC dc, const RECT& rect, const void* record, bool withBorder);

}  // namespace hoststyle
