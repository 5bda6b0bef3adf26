// The resources built into the program: strings, menu, accelerators, the
// About box template, the two icons and the manifest.
#include <cstring>
#include <string>
#include <vector>

#include "CheckSupport.h"
#include "Version.h"

namespace {

struct Resource {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

Resource findResource(HMODULE module, const wchar_t* type, int id) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module, found);
    return {static_cast<const uint8_t*>(LockResource(loaded)), SizeofResource(module, found)};
}

// Reads a dialog template field by field.
class TemplateReader {
public:
    explicit TemplateReader(Resource resource) : at_(resource.data), end_(resource.data + resource.size) {}
    bool ok() const { return ok_; }
    uint16_t word() {
        uint16_t value = 0;
        take(&value, 2);
        return value;
    }
    uint32_t dword() {
        uint32_t value = 0;
        take(&value, 4);
        return value;
    }
    int16_t shortValue() { return static_cast<int16_t>(word()); }
    // A string or, after 0xFFFF, an ordinal (given back as "#n").
    std::wstring textOrOrdinal() {
        const uint16_t first = word();
        if (first == 0xFFFF) return L"#" + std::to_wstring(word());
        std::wstring text;
        for (uint16_t c = first; c != 0 && ok_; c = word()) text.push_back(static_cast<wchar_t>(c));
        return text;
    }
    void alignTo4(const uint8_t* base) {
        while ((at_ - base) % 4 != 0) ++at_;
    }
    void skip(size_t count) { at_ += count; }
    const uint8_t* position() const { return at_; }

private:
    void take(void* out, size_t count) {
        if (at_ + count > end_) {
            ok_ = false;
            return;
        }
        std::memcpy(out, at_, count);
        at_ += count;
    }
    const uint8_t* at_;
    const uint8_t* end_;
    bool ok_ = true;
};

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

void checkStrings(HMODULE module) {
    wchar_t text[100] = {};
    LoadStringW(module, 103, text, 100);
    check(std::wstring(text) == L"VST2Host", "string 103 is \"VST2Host\"", narrow(text));
    LoadStringW(module, 109, text, 100);
    check(std::wstring(text) == L"VST2HOST", "string 109 is \"VST2HOST\"", narrow(text));
}

void checkMenu(HMODULE module) {
    HMENU menu = LoadMenuW(module, MAKEINTRESOURCEW(109));
    check(menu && GetMenuItemCount(menu) == 2, "menu 109 has two popups");
    if (!menu || GetMenuItemCount(menu) != 2) return;
    struct Expected {
        const wchar_t* popup;
        const wchar_t* item;
        UINT command;
    } expected[] = {{L"&File", L"E&xit", 105}, {L"&Help", L"&About ...", 104}};
    for (int i = 0; i < 2; ++i) {
        wchar_t text[64] = {};
        GetMenuStringW(menu, i, text, 64, MF_BYPOSITION);
        HMENU popup = GetSubMenu(menu, i);
        wchar_t itemText[64] = {};
        if (popup) GetMenuStringW(popup, 0, itemText, 64, MF_BYPOSITION);
        const bool ok = std::wstring(text) == expected[i].popup && popup && GetMenuItemCount(popup) == 1 &&
                        std::wstring(itemText) == expected[i].item &&
                        GetMenuItemID(popup, 0) == expected[i].command;
        check(ok, "menu 109 popup " + narrow(expected[i].popup) + " holds " + narrow(expected[i].item) + " (" +
                      std::to_string(expected[i].command) + ")",
              narrow(text) + " / " + narrow(itemText));
    }
    DestroyMenu(menu);
}

void checkAccelerators(HMODULE module) {
    const Resource table = findResource(module, MAKEINTRESOURCEW(9) /* RT_ACCELERATOR */, 109);
    // Entries of 8 bytes: flags, key, command, padding; the last carries 0x80.
    check(table.data && table.size == 16, "accelerator table 109 has two entries",
          "size " + std::to_string(table.size));
    if (!table.data || table.size != 16) return;
    const char keys[] = {'?', '/'};
    for (int i = 0; i < 2; ++i) {
        uint16_t entry[4];
        std::memcpy(entry, table.data + 8 * i, 8);
        const uint16_t flags = entry[0] & ~0x80;
        const bool ok = flags == FALT && entry[1] == static_cast<uint16_t>(keys[i]) && entry[2] == 104;
        check(ok, std::string("accelerator Alt+\"") + keys[i] + "\" as a character gives command 104",
              "flags " + hex(entry[0]) + " key " + std::to_string(entry[1]) + " command " + std::to_string(entry[2]));
    }
}

void checkAboutBox(HMODULE module) {
    const Resource dialog = findResource(module, MAKEINTRESOURCEW(5) /* RT_DIALOG */, 103);
    check(dialog.data != nullptr, "dialog 103 exists");
    if (!dialog.data) return;
    TemplateReader in(dialog);
    const uint16_t version = in.word();
    const uint16_t signature = in.word();
    check(version == 1 && signature == 0xFFFF, "dialog 103 is an extended template");
    in.dword();  // help id
    const uint32_t exStyle = in.dword();
    const uint32_t style = in.dword();
    check(style == 0x80C800C8 && exStyle == 0, "About box style is 0x80C800C8", hex(style));
    const uint16_t items = in.word();
    const int16_t x = in.shortValue(), y = in.shortValue(), cx = in.shortValue(), cy = in.shortValue();
    check(x == 0 && y == 0 && cx == 170 && cy == 62, "About box is 170 x 62 dialog units at 0,0");
    const std::wstring menu = in.textOrOrdinal();
    const std::wstring windowClass = in.textOrOrdinal();
    const std::wstring caption = in.textOrOrdinal();
    check(menu.empty() && windowClass.empty() && caption == L"About VST2Host",
          "About box caption is \"About VST2Host\"", narrow(caption));
    const uint16_t points = in.word();
    const uint16_t weight = in.word();
    const uint8_t* italicAndCharset = in.position();
    in.skip(2);
    const std::wstring face = in.textOrOrdinal();
    check(points == 8 && weight == 0 && italicAndCharset[0] == 0 && italicAndCharset[1] == 1 &&
              face == L"MS Shell Dlg",
          "About box font is \"MS Shell Dlg\" 8 pt, weight 0, charset 1", narrow(face));
    check(items == 4, "About box has four controls", std::to_string(items));

    struct Expected {
        uint32_t style;
        int32_t id;
        int16_t x, y, cx, cy;
        const wchar_t* windowClass;
        const wchar_t* text;
    } expected[] = {
        {0x50000003, -1, 14, 14, 21, 20, L"#130", L"#107"},
        {0x50020080, -1, 42, 14, 114, 8, L"#130", L"VST2Host, Version " CORVEL_VERSION},
        {0x50020000, -1, 42, 26, 114, 8, L"#130", L"Copyright (C) 2026 Corvel"},
        {0x50030001, 1, 113, 41, 50, 14, L"#128", L"OK"},
    };
    for (int i = 0; i < 4 && i < items && in.ok(); ++i) {
        in.alignTo4(dialog.data);
        in.dword();  // help id
        in.dword();  // extended style
        const uint32_t itemStyle = in.dword();
        const int16_t ix = in.shortValue(), iy = in.shortValue(), icx = in.shortValue(), icy = in.shortValue();
        const int32_t id = static_cast<int32_t>(in.dword());
        const std::wstring itemClass = in.textOrOrdinal();
        const std::wstring text = in.textOrOrdinal();
        const uint16_t extra = in.word();
        in.skip(extra);
        const Expected& e = expected[i];
        const bool ok = itemStyle == e.style && id == e.id && ix == e.x && iy == e.y && icx == e.cx &&
                        icy == e.cy && itemClass == e.windowClass && text == e.text;
        check(ok, "About box control " + std::to_string(i + 1) + " " + narrow(e.text),
              "style " + hex(itemStyle) + " id " + std::to_string(id) + " at " + std::to_string(ix) + "," +
                  std::to_string(iy) + " " + std::to_string(icx) + "x" + std::to_string(icy) + " class " +
                  narrow(itemClass) + " text " + narrow(text));
    }
}

void checkIcon(HMODULE module, int id) {
    const Resource group = findResource(module, MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */, id);
    const std::string name = "icon " + std::to_string(id);
    check(group.data && group.size == 6 + 6 * 14, name + " has six images");
    if (!group.data || group.size != 6 + 6 * 14) return;
    const int sizes[] = {16, 32, 48, 64, 128, 256};
    for (int i = 0; i < 6; ++i) {
        const uint8_t* entry = group.data + 6 + 14 * i;
        const int width = entry[0] ? entry[0] : 256;
        const int height = entry[1] ? entry[1] : 256;
        uint16_t bits = 0, imageId = 0;
        std::memcpy(&bits, entry + 6, 2);
        std::memcpy(&imageId, entry + 12, 2);
        const Resource image = findResource(module, MAKEINTRESOURCEW(3) /* RT_ICON */, imageId);
        bool stored = false;
        if (image.data && sizes[i] == 256) {
            stored = image.size > 8 && std::memcmp(image.data, "\x89PNG\r\n\x1a\n", 8) == 0;
        } else if (image.data && image.size >= 40) {
            BITMAPINFOHEADER header;
            std::memcpy(&header, image.data, sizeof header);
            stored = header.biSize == 40 && header.biWidth == sizes[i] && header.biHeight == 2 * sizes[i] &&
                     header.biBitCount == 32;
        }
        check(width == sizes[i] && height == sizes[i] && bits == 32 && stored,
              name + " image " + std::to_string(sizes[i]) + " px, 32 bits" +
                  (sizes[i] == 256 ? ", stored as PNG" : ", stored as bitmap"));
    }
    HICON loaded = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, 32, 32, 0));
    check(loaded != nullptr, name + " loads as a 32 px icon");
    if (loaded) DestroyIcon(loaded);
}

// Draws the icon over white at `size` pixels and gives back one pixel.
COLORREF drawnPixel(HMODULE module, int id, int size, int x, int y) {
    HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
    if (!icon) return CLR_INVALID;
    HDC screen = GetDC(nullptr);
    HDC canvas = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
    HGDIOBJ old = SelectObject(canvas, bitmap);
    RECT all = {0, 0, size, size};
    FillRect(canvas, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DrawIconEx(canvas, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    const COLORREF pixel = GetPixel(canvas, x, y);
    SelectObject(canvas, old);
    DeleteObject(bitmap);
    DeleteDC(canvas);
    ReleaseDC(nullptr, screen);
    DestroyIcon(icon);
    return pixel;
}

std::string rgb(COLORREF colour) {
    return std::to_string(GetRValue(colour)) + "," + std::to_string(GetGValue(colour)) + "," +
           std::to_string(GetBValue(colour));
}

void checkIconPictures(HMODULE module) {
    // The application icon is a blue tile, the tray icon an orange disc;
    // their corners are transparent.
    const COLORREF tile = drawnPixel(module, 107, 32, 16, 3);
    check(GetBValue(tile) > 150 && GetRValue(tile) < 100, "icon 107 draws as a blue tile", rgb(tile));
    const COLORREF disc = drawnPixel(module, 108, 16, 8, 2);
    check(GetRValue(disc) > 200 && GetGValue(disc) > 100 && GetGValue(disc) < 180 && GetBValue(disc) < 80,
          "icon 108 draws as an orange disc at tray size", rgb(disc));
    const COLORREF corner = drawnPixel(module, 108, 16, 0, 0);
    check(corner == RGB(255, 255, 255), "icon 108 is transparent in its corners", rgb(corner));
}

void checkManifest(HMODULE module) {
    const Resource manifest = findResource(module, MAKEINTRESOURCEW(24) /* RT_MANIFEST */, 1);
    const std::string text = manifest.data ? std::string(reinterpret_cast<const char*>(manifest.data), manifest.size) : "";
    check(text.find("level=\"asInvoker\"") != std::string::npos &&
              text.find("uiAccess=\"false\"") != std::string::npos,
          "manifest 1 asks for asInvoker without uiAccess");
}

void checkExecutable(const std::wstring& program) {
    HANDLE file = CreateFileW(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::vector<uint8_t> head(4096);
    DWORD got = 0;
    if (file != INVALID_HANDLE_VALUE) {
        ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &got, nullptr);
        CloseHandle(file);
    }
    bool gui64 = false;
    if (got > 0x40) {
        uint32_t peOffset = 0;
        std::memcpy(&peOffset, head.data() + 0x3C, 4);
        if (peOffset + 24 + 70 < got && std::memcmp(head.data() + peOffset, "PE\0\0", 4) == 0) {
            uint16_t machine = 0, magic = 0, subsystem = 0;
            std::memcpy(&machine, head.data() + peOffset + 4, 2);
            std::memcpy(&magic, head.data() + peOffset + 24, 2);
            std::memcpy(&subsystem, head.data() + peOffset + 24 + 68, 2);
            gui64 = machine == 0x8664 && magic == 0x20B && subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
        }
    }
    check(gui64, "the program is a 64-bit GUI-subsystem executable");
}

}  // namespace

void resourceChecks(const Options& options) {
    checkExecutable(options.program);
    HMODULE module = LoadLibraryExW(options.program.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    check(module != nullptr, "the program's resources can be read");
    if (!module) return;
    checkStrings(module);
    checkMenu(module);
    checkAccelerators(module);
    checkAboutBox(module);
    checkIcon(module, 107);
    checkIcon(module, 108);
    checkIconPictures(module);
    checkManifest(module);
    FreeLibrary(module);
}
