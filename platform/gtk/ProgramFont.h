// The font the program draws its texts with, and the movie's device fonts: the installed
// Chinese font from the package the program depends on (fonts-wqy-microhei), whose faces also
// cover Latin letters. Found at run time through fontconfig.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vexa::platform {

struct FontFace {
    int index = 0;  // the face's index in its file (a collection holds several)
    std::string family;
    std::vector<std::string> fullNames;  // in every language the font names itself in
    bool monospace = false;
};

struct ProgramFont {
    std::string file;    // absolute path of the font file
    std::string family;  // the family name the toolkit knows it by
    std::vector<FontFace> faces;
};

// WenQuanYi Micro Hei when fontconfig has it (or it lies at its Debian path), else the font
// fontconfig picks for Chinese; nullopt when no installed font has Chinese glyphs. Looked up once.
const std::optional<ProgramFont>& FindProgramFont();

// Makes every widget of the program draw in the program's font, with fontconfig's fallback
// for anything it lacks. Call once after the toolkit has started.
void ApplyProgramFont();

}  // namespace vexa::platform
