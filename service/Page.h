// The operator's page, built into kelvaned: one HTML file, one stylesheet, one script and the
// program's icon, made into arrays at build time (cmake/EmbedFiles.cmake) from service/page/ and
// res/Kelvane.ico. The page needs nothing from anywhere else, so it works on a site without the
// internet, and its policy forbids anything else.
//   PAGE_POLICY     the Content-Security-Policy the page's files are served with
//   EmbeddedFile    one file as the build made it: its name and bytes
//   EmbeddedFiles   every file the build made
//   PageFile        one file as served: its path, type and bytes
//   PageFiles       every file of the page, as served
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace service {

// Its own origin alone: no inline script or style, no other host, no frame around it (a page
// that switches screens must not be clicked through a frame of another site).
inline constexpr const char* PAGE_POLICY =
    "default-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'; "
    "object-src 'none'";

struct EmbeddedFile {
    const char* name;
    const unsigned char* bytes;
    std::size_t size;
};

// Defined by the source the build writes.
std::span<const EmbeddedFile> EmbeddedFiles();

struct PageFile {
    std::string_view path;
    std::string_view type;
    std::string_view bytes;
};

// The page's files, "/" (the HTML) first.
std::vector<PageFile> PageFiles();

} // namespace service
