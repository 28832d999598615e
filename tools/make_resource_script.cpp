// Writes the part of the program's resource script that comes from the resource table: the
// icons (each from the .ico file named after its id) and the string table.
//   make_resource_script OUTPUT.rc ICON_FILE
#include <cstdio>
#include <string>
#include <string_view>

#include "res/dialog_templates.h"

namespace {

// A text as a resource-script string: quotes doubled, backslashes escaped.
std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += "\"\"";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_resource_script OUTPUT.rc ICON_FILE\n");
        return 2;
    }
    std::string script = "// Made from the resource table at build time: do not edit.\n";
    const framework::ResourceTable& table = res::Resources();
    for (int id : table.icons) script += std::to_string(id) + " ICON " + Quoted(argv[2]) + "\n";
    script += "STRINGTABLE\nBEGIN\n";
    for (const framework::StringResource& s : table.strings) {
        script += "    " + std::to_string(s.id) + ", " + Quoted(s.text) + "\n";
    }
    script += "END\n";
    FILE* f = std::fopen(argv[1], "wb");
    if (f == nullptr || std::fputs(script.c_str(), f) < 0) {
        std::fprintf(stderr, "make_resource_script: cannot write %s\n", argv[1]);
        if (f != nullptr) std::fclose(f);
        return 1;
    }
    return std::fclose(f) == 0 ? 0 : 1;
}
