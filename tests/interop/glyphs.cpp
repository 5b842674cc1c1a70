// Asks Wine which font it gives a face name and whether that font draws 中文.
// glyphs.exe simsun|songti|yahei|heiti prints "<face Wine chose>: present" or
// ": missing", exit 0 or 1.
#include <cstdio>
#include <cwchar>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    const wchar_t* face = nullptr;
    if (!wcscmp(argv[1], L"simsun")) face = L"SimSun";
    if (!wcscmp(argv[1], L"songti")) face = L"\x5b8b\x4f53"; // 宋体
    if (!wcscmp(argv[1], L"yahei")) face = L"Microsoft YaHei";
    if (!wcscmp(argv[1], L"heiti")) face = L"\x9ed1\x4f53"; // 黑体
    if (!face) return 2;
    HDC dc = CreateCompatibleDC(nullptr);
    LOGFONTW font{};
    font.lfHeight = -16;
    font.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(font.lfFaceName, face, LF_FACESIZE - 1);
    SelectObject(dc, CreateFontIndirectW(&font));
    wchar_t chosen[LF_FACESIZE] = L"";
    GetTextFaceW(dc, LF_FACESIZE, chosen);
    WORD glyphs[2] = {0, 0};
    const DWORD n = GetGlyphIndicesW(dc, L"\x4e2d\x6587", 2, glyphs, GGI_MARK_NONEXISTING_GLYPHS);
    const bool present = n == 2 && glyphs[0] != 0xffff && glyphs[1] != 0xffff;
    char name[256] = "";
    WideCharToMultiByte(CP_UTF8, 0, chosen, -1, name, sizeof name, nullptr, nullptr);
    std::printf("%s: %s\n", name, present ? "present" : "missing");
    return present ? 0 : 1;
}
