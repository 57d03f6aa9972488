// Where each file of the page is served, and as what.
#include "service/Page.h"
#include <cassert>

namespace service {

namespace {

struct Served {
    std::string_view path;
    std::string_view file; // its name among the embedded files
    std::string_view type;
};

// The icon is the program's own; the others are service/page/'s.
constexpr Served SERVED[] = {
    {"/", "index.html", "text/html; charset=utf-8"},
    {"/page.css", "page.css", "text/css; charset=utf-8"},
    {"/page.js", "page.js", "text/javascript; charset=utf-8"},
    {"/favicon.ico", "Kelvane.ico", "image/x-icon"},
};

} // namespace

std::vector<PageFile> PageFiles() {
    std::vector<PageFile> files;
    for (const Served& served : SERVED) {
        for (const EmbeddedFile& file : EmbeddedFiles())
            if (served.file == file.name)
                files.push_back({served.path,
                                 served.type,
                                 {reinterpret_cast<const char*>(file.bytes), file.size}});
    }
    // The build embeds every file of the table.
    assert(files.size() == std::size(SERVED));
    return files;
}

} // namespace service
