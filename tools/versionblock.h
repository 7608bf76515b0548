// Writes version-information blocks in the binary layout Windows programs carry (VS_VERSIONINFO): a tree of nodes,
// each a length, a value length, a type, a UTF-16 key and a value, with every part starting on a 32-bit boundary.
// Used by the build tool that embeds the program's own block, and by tests that need well-formed blocks to corrupt.
// Plain standard C++ on purpose: the build tool must not pull in Qt.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace clavora::versionblock {

using Bytes = std::vector<std::uint8_t>;

struct Node {
    std::u16string key;
    // 1 for text values, 0 for binary ones (the fixed file information, the translation table).
    std::uint16_t type = 1;
    Bytes value;
    // What the length field says about the value: characters with the terminator for text, bytes for binary.
    std::uint16_t valueLength = 0;
    std::vector<Node> children;
};

// Four numbers of a version such as 1.2.3.0, most significant first.
struct VersionQuad {
    std::uint16_t part[4] = {0, 0, 0, 0};
    std::uint32_t ms() const { return (std::uint32_t(part[0]) << 16) | part[1]; }
    std::uint32_t ls() const { return (std::uint32_t(part[2]) << 16) | part[3]; }
};

inline void putU16(Bytes& out, std::uint16_t v) {
    out.push_back(std::uint8_t(v & 0xFF));
    out.push_back(std::uint8_t(v >> 8));
}

inline void putU32(Bytes& out, std::uint32_t v) {
    putU16(out, std::uint16_t(v & 0xFFFF));
    putU16(out, std::uint16_t(v >> 16));
}

inline void padTo4(Bytes& out) {
    while (out.size() % 4 != 0) {
        out.push_back(0);
    }
}

// UTF-8 to UTF-16; throws on malformed input, which in a build tool should stop the build rather than embed junk.
inline std::u16string utf16(std::string_view utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<std::uint8_t>(utf8[i]);
        std::uint32_t cp = 0;
        std::size_t extra = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            cp = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            cp = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            cp = lead & 0x07;
            extra = 3;
        } else {
            throw std::invalid_argument("malformed UTF-8");
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            if (i + k >= utf8.size()) {
                throw std::invalid_argument("truncated UTF-8");
            }
            const auto next = static_cast<std::uint8_t>(utf8[i + k]);
            if ((next & 0xC0) != 0x80) {
                throw std::invalid_argument("malformed UTF-8");
            }
            cp = (cp << 6) | (next & 0x3F);
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

inline Node textNode(std::u16string key, const std::u16string& text) {
    Node node;
    node.key = std::move(key);
    node.type = 1;
    for (char16_t c : text) {
        putU16(node.value, std::uint16_t(c));
    }
    putU16(node.value, 0);
    node.valueLength = std::uint16_t(text.size() + 1);
    return node;
}

inline Node binaryNode(std::u16string key, Bytes value) {
    Node node;
    node.key = std::move(key);
    node.type = 0;
    node.valueLength = std::uint16_t(value.size());
    node.value = std::move(value);
    return node;
}

inline Node groupNode(std::u16string key, std::vector<Node> children) {
    Node node;
    node.key = std::move(key);
    node.type = 1;
    node.children = std::move(children);
    return node;
}

// VS_FIXEDFILEINFO for an ordinary application.
inline Bytes fixedFileInfo(const VersionQuad& fileVersion, const VersionQuad& productVersion) {
    Bytes out;
    putU32(out, 0xFEEF04BD); // signature
    putU32(out, 0x00010000); // structure version 1.0
    putU32(out, fileVersion.ms());
    putU32(out, fileVersion.ls());
    putU32(out, productVersion.ms());
    putU32(out, productVersion.ls());
    putU32(out, 0x3F);    // flags mask
    putU32(out, 0);       // flags
    putU32(out, 0x40004); // VOS_NT_WINDOWS32
    putU32(out, 1);       // VFT_APP
    putU32(out, 0);       // subtype
    putU32(out, 0);       // date, high
    putU32(out, 0);       // date, low
    return out;
}

inline void serialize(const Node& node, Bytes& out) {
    padTo4(out);
    const std::size_t start = out.size();
    putU16(out, 0); // length, patched below
    putU16(out, node.valueLength);
    putU16(out, node.type);
    for (char16_t c : node.key) {
        putU16(out, std::uint16_t(c));
    }
    putU16(out, 0);
    padTo4(out);
    out.insert(out.end(), node.value.begin(), node.value.end());
    for (const Node& child : node.children) {
        serialize(child, out);
    }
    const std::size_t length = out.size() - start;
    if (length > 0xFFFF) {
        throw std::length_error("version information node too large");
    }
    out[start] = std::uint8_t(length & 0xFF);
    out[start + 1] = std::uint8_t(length >> 8);
}

inline Bytes serialize(const Node& root) {
    Bytes out;
    serialize(root, out);
    return out;
}

// A complete block: fixed information, one string table under LangCodePage (e.g. u"040904B0") and a translation
// table holding Language/CodePage.
inline Node versionInfo(const VersionQuad& fileVersion, const VersionQuad& productVersion,
                        const std::u16string& langCodePage, std::uint16_t language, std::uint16_t codePage,
                        std::vector<Node> strings) {
    Bytes translation;
    putU16(translation, language);
    putU16(translation, codePage);
    Node root = binaryNode(u"VS_VERSION_INFO", fixedFileInfo(fileVersion, productVersion));
    root.children.push_back(groupNode(u"StringFileInfo", {groupNode(langCodePage, std::move(strings))}));
    root.children.push_back(groupNode(u"VarFileInfo", {binaryNode(u"Translation", std::move(translation))}));
    return root;
}

} // namespace clavora::versionblock
