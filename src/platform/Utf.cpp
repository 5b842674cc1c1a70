#include "platform/Utf.h"

namespace corvane {

std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        if (b0 < 0x80) {
            out.push_back(b0);
            ++i;
            continue;
        }
        int extra;
        char32_t cp;
        char32_t min;
        if ((b0 & 0xE0) == 0xC0) {
            extra = 1, cp = b0 & 0x1F, min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            extra = 2, cp = b0 & 0x0F, min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            extra = 3, cp = b0 & 0x07, min = 0x10000;
        } else {
            return std::nullopt;
        }
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= n) return std::nullopt;
            const auto b = static_cast<unsigned char>(text[i + k]);
            if ((b & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF) return std::nullopt;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += extra + 1;
    }
    return out;
}

static void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

std::vector<std::uint8_t> Utf16ToBytes(std::u16string_view text) {
    std::vector<std::uint8_t> out;
    out.reserve((text.size() + 1) * 2);
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::u16string Utf16FromBytes(std::span<const std::uint8_t> bytes) {
    std::u16string out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    return out;
}

char16_t FoldCase(char16_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? char16_t(c - 0x20) : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return char16_t(c - 0x20);
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A: upper and lower case alternate, in runs that start on an
        // even or on an odd code.
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        const bool evenUpper =
            (c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
        if (oddUpper) return (c & 1) ? c : char16_t(c - 1);
        if (evenUpper) return (c & 1) ? char16_t(c - 1) : c;
        return c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return char16_t(c - 0x20);
    if (c == 0x3C2) return 0x3A3;
    if (c >= 0x430 && c <= 0x44F) return char16_t(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return char16_t(c - 0x50);
    if (c >= 0xFF41 && c <= 0xFF5A) return char16_t(c - 0x20);
    return c;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = FoldCase(a[i]);
        const char16_t y = FoldCase(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

} // namespace corvane
