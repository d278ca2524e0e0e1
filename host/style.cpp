// Style record of the stand-in host: defaults, the style file reader, and the font and
// gradient that plugins ask for.
#include "host/style.h"

#include <cstdio>
#include <cstring>

#include "host/rc_files.h"
#include "host/rc_text.h"

namespace hoststyle {

namespace {

void putInt(Record& record, int offset, int value) { memcpy(record.bytes + offset, &value, sizeof value); }
void putColour(Record& record, int offset, COLORREF value) { memcpy(record.bytes + offset, &value, sizeof value); }

void putFace(Record& record, const std::string& face) {
    char field[FONT_FACE_SIZE];
    snprintf(field, sizeof field, "%s", face.c_str());
    memcpy(record.bytes + FONT_FACE, field, sizeof field);
}

bool readColour(const std::string& text, const char* key, Record& record, int offset, std::string* error) {
    std::string value;
    if (!hostrc::lookupValue(text, key, &value)) return true;
    unsigned colour;
    if (!hostrc::parseColor(value, &colour)) {
        *error = std::string(key) + " needs #RRGGBB, not \"" + value + "\"";
        return false;
    }
    putColour(record, offset, colour);
    return true;
}

bool readInt(const std::string& text, const char* key, Record& record, int offset, int low, int high,
             std::string* error) {
    std::string value;
    if (!hostrc::lookupValue(text, key, &value)) return true;
    int number;
    if (!hostrc::parseInt(value, &number) || number < low || number > high) {
        *error = std::string(key) + " needs a number from " + std::to_string(low) + " to " + std::to_string(high) +
                 ", not \"" + value + "\"";
        return false;
    }
    putInt(record, offset, number);
    return true;
}

bool readKind(const std::string& text, Record& record, std::string* error) {
    std::string value;
    if (!hostrc::lookupValue(text, "style.gradient:", &value)) return true;
    if (value == "vertical") putInt(record, GRADIENT_KIND, GRADIENT_VERTICAL);
    else if (value == "horizontal") putInt(record, GRADIENT_KIND, GRADIENT_HORIZONTAL);
    else if (value == "flat") putInt(record, GRADIENT_KIND, GRADIENT_FLAT);
    else {
        *error = "style.gradient: needs vertical, horizontal or flat, not \"" + value + "\"";
        return false;
    }
    return true;
}

COLORREF blend(COLORREF from, COLORREF to, int step, int steps) {
    if (steps <= 1) return from;
    auto mix = [&](int a, int b) { return a + (b - a) * step / (steps - 1); };
    return RGB(mix(GetRValue(from), GetRValue(to)), mix(GetGValue(from), GetGValue(to)),
               mix(GetBValue(from), GetBValue(to)));
}

void fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
    RECT r = {left, top, right, bottom};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

}  // namespace

void setDefaults(Record& record) {
    memset(record.bytes, 0, sizeof record.bytes);
    putColour(record, GRADIENT_FROM, RGB(0x3A, 0x44, 0x50));
    putColour(record, GRADIENT_TO, RGB(0x1C, 0x21, 0x28));
    putInt(record, GRADIENT_KIND, GRADIENT_VERTICAL);
    putColour(record, BORDER_COLOUR, RGB(0x0A, 0x0C, 0x0F));
    putInt(record, BORDER_WIDTH, 1);
    putInt(record, FONT_HEIGHT, 12);
    putColour(record, TEXT_COLOUR, RGB(0xE8, 0xEC, 0xF0));
    putInt(record, FONT_WEIGHT, FW_NORMAL);
    putFace(record, "Tahoma");
}

bool applyStyleText(const std::string& text, Record& record, std::string* error) {
    if (!readColour(text, "style.gradient.from:", record, GRADIENT_FROM, error)) return false;
    if (!readColour(text, "style.gradient.to:", record, GRADIENT_TO, error)) return false;
    if (!readKind(text, record, error)) return false;
    if (!readColour(text, "style.borderColor:", record, BORDER_COLOUR, error)) return false;
    if (!readInt(text, "style.borderWidth:", record, BORDER_WIDTH, 0, 50, error)) return false;
    if (!readColour(text, "style.textColor:", record, TEXT_COLOUR, error)) return false;
    if (!readInt(text, "style.fontHeight:", record, FONT_HEIGHT, 1, 200, error)) return false;
    if (!readInt(text, "style.fontWeight:", record, FONT_WEIGHT, 0, 1000, error)) return false;
    std::string face;
    if (hostrc::lookupValue(text, "style.font:", &face)) {
        if (face.empty() || face.size() >= FONT_FACE_SIZE) {
            *error = "style.font: needs a face name of 1 to 31 characters";
            return false;
        }
        putFace(record, face);
    }
    return true;
}

bool loadStyleFile(const char* path, Record& record, std::string* error) {
    std::string text;
    if (!hostrc::readWholeFile(path, &text)) {
        *error = std::string("cannot read the style file ") + (path ? path : "(none)");
        return false;
    }
    return applyStyleText(text, record, error);
}

COLORREF colourAt(const void* record, int offset) {
    COLORREF value;
    memcpy(&value, static_cast<const unsigned char*>(record) + offset, sizeof value);
    return value;
}

int intAt(const void* record, int offset) {
    int value;
    memcpy(&value, static_cast<const unsigned char*>(record) + offset, sizeof value);
    return value;
}

std::string fontFace(const void* record) {
    char face[FONT_FACE_SIZE];
    memcpy(face, static_cast<const unsigned char*>(record) + FONT_FACE, sizeof face);
    face[FONT_FACE_SIZE - 1] = '\0';
    return face;
}

HFONT makeFont(const void* record) {
    // Unsmoothed glyphs keep every text pixel in the text colour, which screenshots rely on.
    return CreateFontA(-intAt(record, FONT_HEIGHT), 0, 0, 0, intAt(record, FONT_WEIGHT), FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, fontFace(record).c_str());
}

void paintGradient(HDC dc, const RECT& rect, const void* record, bool withBorder) {
    const COLORREF from = colourAt(record, GRADIENT_FROM);
    const COLORREF to = colourAt(record, GRADIENT_TO);
    const int kind = intAt(record, GRADIENT_KIND);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return;
    if (kind == GRADIENT_HORIZONTAL) {
        for (int x = 0; x < width; ++x)
            fill(dc, rect.left + x, rect.top, rect.left + x + 1, rect.bottom, blend(from, to, x, width));
    } else if (kind == GRADIENT_VERTICAL) {
        for (int y = 0; y < height; ++y)
            fill(dc, rect.left, rect.top + y, rect.right, rect.top + y + 1, blend(from, to, y, height));
    } else {
        fill(dc, rect.left, rect.top, rect.right, rect.bottom, from);
    }
    const int border = intAt(record, BORDER_WIDTH);
    if (!withBorder || border <= 0) return;
    const COLORREF edge = colourAt(record, BORDER_COLOUR);
    fill(dc, rect.left, rect.top, rect.right, rect.top + border, edge);
    fill(dc, rect.left, rect.bottom - border, rect.right, rect.bottom, edge);
    fill(dc, rect.left, rect.top, rect.left + border, rect.bottom, edge);
    fill(dc, rect.right - border, rect.top, rect.right, rect.bottom, edge);
}

}  // namespace hoststyle
