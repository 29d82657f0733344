// Text between UTF-8 and UTF-16 without a code page, and the long form of a
// path: what the Windows layers hand to and take from the wide calls. Plain
// code on wchar_t, which holds one UTF-16 unit each, so that it is tested on
// any system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace windows_support {

// UTF-16 to UTF-8, by hand so that no code page takes part. A lone surrogate,
// which Windows names may hold, is written as its own three bytes (as WTF-8
// does), so that the text converts back to the same name.
inline std::string toUtf8(const wchar_t* wide, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        std::uint32_t c = wide[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < size && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
        }
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (c >> 18));
            text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

inline std::string toUtf8(const std::wstring& wide) {
    return toUtf8(wide.data(), wide.size());
}

// UTF-8 (with lone surrogates as toUtf8 writes them) to UTF-16. False for
// bytes that are no such text, and for a NUL, which would cut a name short.
inline bool toWide(const std::string& text, std::wstring& wide) {
    wide.clear();
    for (std::size_t i = 0; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (lead == 0 || (lead >= 0x80 && lead < 0xC2) || lead > 0xF4 || i + length > text.size()) {
            return false;
        }
        std::uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            c = (c << 6) | (next & 0x3F);
        }
        // The shortest form only, so that one name has one spelling.
        if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF))) {
            return false;
        }
        if (c >= 0x10000) {
            wide += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            wide += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            wide += static_cast<wchar_t>(c);
        }
        i += length;
    }
    return true;
}

// The path in the form every wide file call takes at any length: resolved,
// then prefixed with \\?\. Empty when it is no text.
inline std::wstring longPathOfFull(const std::wstring& full) {
    if (full.empty()) {
        return full;
    }
    if (full.compare(0, 4, L"\\\\?\\") == 0 || full.compare(0, 4, L"\\\\.\\") == 0) {
        return full;
    }
    if (full.compare(0, 2, L"\\\\") == 0) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

}  // namespace windows_support
