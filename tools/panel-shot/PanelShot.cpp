// panel-shot: saves pictures of the running panel, and of its about box, as PNG files: for the
// README, and for runs without a screen of one's own.
//
//   panel-shot OUT_FOLDER [--about] [--close]
//
// It waits (up to 30 s) for the panel "Orvanta V1.2", saves OUT_FOLDER\panel.png; with --about it
// opens the about box from the panel's system menu, saves OUT_FOLDER\about.png and closes the box
// again; with --close it then closes the panel. Exit code 0 when every picture was saved.
#include <windows.h>
#include <gdiplus.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr UINT IDM_ABOUTBOX = 0x0010;

// The first visible dialog captioned so, waiting up to the given time for it.
HWND WaitForDialog(const wchar_t* caption, DWORD milliseconds) {
    for (DWORD waited = 0; waited <= milliseconds; waited += 100) {
        HWND window = ::FindWindowW(L"#32770", caption);
        if (window != nullptr && ::IsWindowVisible(window))
            return window;
        ::Sleep(100);
    }
    return nullptr;
}

bool PngEncoder(CLSID& clsid) {
    UINT count = 0, size = 0;
    Gdiplus::GetImageEncodersSize(&count, &size);
    std::vector<BYTE> buffer(size);
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    Gdiplus::GetImageEncoders(count, size, encoders);
    for (UINT i = 0; i < count; ++i) {
        if (std::wstring(encoders[i].MimeType) == L"image/png") {
            clsid = encoders[i].Clsid;
            return true;
        }
    }
    return false;
}

// Copies what the screen shows of the window into a PNG file.
bool SaveWindow(HWND window, const std::wstring& path) {
    // Let the window finish painting before the screen is read.
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    ::Sleep(500);
    RECT rect;
    ::GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY | CAPTUREBLT);
    ::SelectObject(memory, old);

    bool saved = false;
    CLSID png;
    if (PngEncoder(png)) {
        Gdiplus::Bitmap picture(bitmap, nullptr);
        saved = picture.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
    }
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return saved;
}

int Run(int argc, wchar_t** argv) {
    if (argc < 2 || std::wstring(argv[1]).rfind(L"--", 0) == 0) {
        std::fputs("usage: panel-shot OUT_FOLDER [--about] [--close]\n", stderr);
        return 2;
    }
    const std::wstring folder = argv[1];
    bool about = false, close = false;
    for (int i = 2; i < argc; ++i) {
        about |= std::wstring(argv[i]) == L"--about";
        close |= std::wstring(argv[i]) == L"--close";
    }

    HWND panel = WaitForDialog(L"Orvanta V1.2", 30000);
    if (panel == nullptr) {
        std::fputs("panel-shot: the panel did not appear\n", stderr);
        return 1;
    }
    int result = 0;
    if (!SaveWindow(panel, folder + L"\\panel.png")) {
        std::fputs("panel-shot: could not save panel.png\n", stderr);
        result = 1;
    }
    if (about) {
        ::PostMessageW(panel, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        HWND box = WaitForDialog(L"Orvanta information", 10000);
        if (box == nullptr || !SaveWindow(box, folder + L"\\about.png")) {
            std::fputs("panel-shot: could not save about.png\n", stderr);
            result = 1;
        }
        if (box != nullptr)
            ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    if (close) {
        ::Sleep(300);
        ::PostMessageW(panel, WM_COMMAND, IDCANCEL, 0);
    }
    return result;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
        std::fputs("panel-shot: GDI+ did not start\n", stderr);
        return 1;
    }
    const int result = Run(argc, argv);
    Gdiplus::GdiplusShutdown(token);
    return result;
}
