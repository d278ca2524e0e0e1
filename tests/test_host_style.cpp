// The stand-in host's style record, its font and gradient, and its PNG screenshots
// read back by the system's own image decoder.
#include <wincodec.h>

#include <cstring>
#include <string>

#include "host/png.h"
#include "host/style.h"
#include "shell/host_api.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

// Decodes a PNG file with Windows Imaging Component into 0x00RRGGBB pixels.
Image decodeWithWic(const std::string& path) {
    Image image;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IWICImagingFactory* factory = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory))))
        return image;
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    if (SUCCEEDED(factory->CreateDecoderFromFilename(wide, nullptr, GENERIC_READ, WICDecodeMetadataCacheOnLoad, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
        SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                        WICBitmapPaletteTypeCustom))) {
        UINT w = 0, h = 0;
        converter->GetSize(&w, &h);
        image.width = static_cast<int>(w);
        image.height = static_cast<int>(h);
        image.pixels.assign(static_cast<size_t>(w) * h, 0);
        converter->CopyPixels(nullptr, w * 4, w * h * 4, reinterpret_cast<BYTE*>(image.pixels.data()));
        for (unsigned& p : image.pixels) p &= 0x00FFFFFF;
    }
    if (converter) converter->Release();
    if (frame) frame->Release();
    if (decoder) decoder->Release();
    factory->Release();
    return image;
}

// Paints the record's gradient into a fresh bitmap pre-filled with a marker colour.
Image paintedGradient(const hoststyle::Record& record, int width, int height, bool border) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all = {0, 0, width, height};
    HBRUSH marker = CreateSolidBrush(RGB(1, 2, 3));
    FillRect(dc, &all, marker);
    DeleteObject(marker);
    RECT inner = {2, 3, width - 2, height - 1};
    hoststyle::paintGradient(dc, inner, record.bytes, border);
    SelectObject(dc, old);
    DeleteDC(dc);
    Image image = readBitmap(bitmap);
    DeleteObject(bitmap);
    return image;
}

}  // namespace

TEST_CASE("the style record is 300 bytes with the text colour where plugins look for it") {
    static_assert(hoststyle::RECORD_SIZE == HOST_STYLE_SIZE, "record size");
    static_assert(hoststyle::TEXT_COLOUR == HOST_STYLE_TEXT_COLOR_OFFSET, "text colour offset");
    hoststyle::Record record;
    memset(record.bytes, 0xAB, sizeof record.bytes);
    hoststyle::setDefaults(record);
    std::string error;
    REQUIRE(hoststyle::applyStyleText("style.textColor: #123456\nstyle.font: Courier New\n", record, &error));
    COLORREF text;
    memcpy(&text, record.bytes + HOST_STYLE_TEXT_COLOR_OFFSET, sizeof text);
    CHECK(text == RGB(0x12, 0x34, 0x56));
    CHECK(hoststyle::fontFace(record.bytes) == "Courier New");
    // Everything beyond the host's own fields is zero, never left-over bytes.
    bool restZero = true;
    for (int i = hoststyle::FONT_FACE + hoststyle::FONT_FACE_SIZE; i < hoststyle::RECORD_SIZE; ++i)
        restZero = restZero && record.bytes[i] == 0;
    CHECK(restZero);
}

TEST_CASE("a style file sets what it names and refuses values of the wrong form") {
    hoststyle::Record record;
    hoststyle::setDefaults(record);
    const std::string path = makeTempDir() + "dark.style";
    writeFile(path, "! dark\nstyle.gradient.from: #000010\nstyle.gradient: flat\nstyle.borderWidth: 3\nstyle.fontHeight: 15\n");
    std::string error;
    REQUIRE(hoststyle::loadStyleFile(path.c_str(), record, &error));
    CHECK(hoststyle::colourAt(record.bytes, hoststyle::GRADIENT_FROM) == RGB(0, 0, 0x10));
    CHECK(hoststyle::intAt(record.bytes, hoststyle::GRADIENT_KIND) == hoststyle::GRADIENT_FLAT);
    CHECK(hoststyle::intAt(record.bytes, hoststyle::BORDER_WIDTH) == 3);
    CHECK(hoststyle::intAt(record.bytes, hoststyle::FONT_HEIGHT) == 15);
    // Untouched keys keep their defaults.
    hoststyle::Record defaults;
    hoststyle::setDefaults(defaults);
    CHECK(hoststyle::colourAt(record.bytes, hoststyle::TEXT_COLOUR) == hoststyle::colourAt(defaults.bytes, hoststyle::TEXT_COLOUR));

    for (const char* bad : {"style.textColor: white", "style.gradient: diagonal", "style.borderWidth: -1",
                            "style.fontHeight: 0", "style.font: ", "style.font: a face name far longer than thirty-one"}) {
        CAPTURE(bad);
        hoststyle::Record r;
        hoststyle::setDefaults(r);
        CHECK_FALSE(hoststyle::applyStyleText(bad, r, &error));
    }
    CHECK_FALSE(hoststyle::loadStyleFile("C:\\no\\such.style", record, &error));

    // The two styles the README picture is made with: light text on dark, dark text on light.
    for (const char* name : {"dark", "light"}) {
        CAPTURE(name);
        hoststyle::Record shipped;
        hoststyle::setDefaults(shipped);
        REQUIRE(hoststyle::loadStyleFile((std::string("Z:" KELVORA_SOURCE_DIR "/host/styles/") + name + ".style").c_str(),
                                         shipped, &error));
        const COLORREF text = hoststyle::colourAt(shipped.bytes, hoststyle::TEXT_COLOUR);
        CHECK(text == (name[0] == 'd' ? RGB(0xFF, 0xFF, 0xFF) : RGB(0, 0, 0)));
    }
}

TEST_CASE("the gradient covers exactly the rectangle, running from one colour to the other") {
    hoststyle::Record record;
    hoststyle::setDefaults(record);
    std::string error;
    REQUIRE(hoststyle::applyStyleText("style.gradient.from: #000000\nstyle.gradient.to: #F0F0F0\nstyle.borderColor: #FF0000\n"
                                      "style.borderWidth: 1\n",
                                      record, &error));
    const Image plain = paintedGradient(record, 30, 24, false);
    const unsigned marker = 0x010203;
    CHECK(plain.at(1, 10) == marker);   // left of the rectangle
    CHECK(plain.at(28, 10) == marker);  // right edge is exclusive
    CHECK(plain.at(10, 2) == marker);
    CHECK(plain.at(10, 23) == marker);
    CHECK(plain.at(2, 3) == 0x000000);     // top row: the first colour
    CHECK(plain.at(27, 22) == 0xF0F0F0);   // bottom row: the second colour
    CHECK((plain.at(10, 12) & 0xFF) > 0);  // in between: in between
    CHECK((plain.at(10, 12) & 0xFF) < 0xF0);

    const Image framed = paintedGradient(record, 30, 24, true);
    CHECK(framed.at(2, 10) == 0xFF0000);
    CHECK(framed.at(27, 10) == 0xFF0000);
    CHECK(framed.at(10, 3) == 0xFF0000);
    CHECK(framed.at(10, 22) == 0xFF0000);
    CHECK(framed.at(10, 12) == plain.at(10, 12));
    CHECK(framed.at(1, 10) == marker);
}

TEST_CASE("the style font has the record's height and face") {
    hoststyle::Record record;
    hoststyle::setDefaults(record);
    std::string error;
    REQUIRE(hoststyle::applyStyleText("style.fontHeight: 17\nstyle.fontWeight: 700\n", record, &error));
    HFONT font = hoststyle::makeFont(record.bytes);
    REQUIRE(font != nullptr);
    LOGFONTA lf = {};
    GetObjectA(font, sizeof lf, &lf);
    CHECK(lf.lfHeight == -17);
    CHECK(lf.lfWeight == 700);
    CHECK(std::string(lf.lfFaceName) == hoststyle::fontFace(record.bytes));
    DeleteObject(font);
}

TEST_CASE("a screenshot PNG reads back pixel for pixel through the system decoder") {
    for (int size : {1, 7, 160}) {
        CAPTURE(size);
        const int width = size * 2 + 1;  // odd widths test the row layout
        const int height = size;
        std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                pixels[static_cast<size_t>(y) * width + x] = (static_cast<uint32_t>(x * 7) & 0xFF) << 16 |
                                                             (static_cast<uint32_t>(y * 13) & 0xFF) << 8 |
                                                             static_cast<uint32_t>((x + y) & 0xFF);
        const std::string path = makeTempDir() + "shot.png";
        writeFile(path, hostpng::encodePng(width, height, pixels));
        const Image back = decodeWithWic(path);
        REQUIRE(back.width == width);
        REQUIRE(back.height == height);
        CHECK(std::vector<uint32_t>(back.pixels.begin(), back.pixels.end()) == pixels);
    }
}

TEST_CASE("the PNG checksum is the standard CRC-32") {
    const unsigned char text[] = "123456789";
    CHECK(hostpng::crc32(text, 9) == 0xCBF43926u);
}
