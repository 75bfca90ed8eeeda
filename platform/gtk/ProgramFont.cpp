#include "platform/gtk/ProgramFont.h"

#include <fontconfig/fontconfig.h>
#include <gtk/gtk.h>

#include <algorithm>

#include "platform/gtk/GuiInit.h"

namespace vexa::platform {
namespace {

constexpr const char* kFamily = "WenQuanYi Micro Hei";
// Where fonts-wqy-microhei puts it, for a fontconfig whose configuration does not list it.
constexpr const char* kDebianFile = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";

const FcChar8* Fc(const char* text) {
    return reinterpret_cast<const FcChar8*>(text);
}

std::string StringOf(FcPattern* pattern, const char* object, int n = 0) {
    FcChar8* value = nullptr;
    if (FcPatternGetString(pattern, object, n, &value) != FcResultMatch || value == nullptr)
        return {};
    return reinterpret_cast<const char*>(value);
}

bool CoversChinese(FcPattern* pattern) {
    FcLangSet* langs = nullptr;
    return FcPatternGetLangSet(pattern, FC_LANG, 0, &langs) == FcResultMatch &&
           FcLangSetHasLang(langs, Fc("zh-cn")) != FcLangDifferentLang;
}

// The file of the first font fontconfig lists for the pattern that has Chinese glyphs.
std::string ListedFile(const char* name) {
    std::string file;
    FcPattern* pattern = FcNameParse(Fc(name));
    FcObjectSet* objects = FcObjectSetBuild(FC_FILE, FC_LANG, FC_INDEX, nullptr);
    if (FcFontSet* set = FcFontList(nullptr, pattern, objects)) {
        for (int i = 0; i < set->nfont && file.empty(); ++i)
            if (CoversChinese(set->fonts[i])) file = StringOf(set->fonts[i], FC_FILE);
        FcFontSetDestroy(set);
    }
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    return file;
}

// The file of the font fontconfig would draw Chinese text in.
std::string MatchedFile() {
    std::string file;
    FcPattern* pattern = FcNameParse(Fc("sans-serif:lang=zh-cn"));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    if (FcPattern* match = FcFontMatch(nullptr, pattern, &result)) {
        if (CoversChinese(match)) file = StringOf(match, FC_FILE);
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    return file;
}

std::optional<ProgramFont> Describe(const std::string& file) {
    if (file.empty()) return std::nullopt;
    FcFontSet* set = FcFontSetCreate();
    int count = 0;
    FcFreeTypeQueryAll(Fc(file.c_str()), static_cast<unsigned>(-1), nullptr, &count, set);
    ProgramFont font;
    font.file = file;
    for (int i = 0; i < set->nfont; ++i) {
        FcPattern* face = set->fonts[i];
        if (!CoversChinese(face)) continue;
        FontFace described;
        int index = 0;
        if (FcPatternGetInteger(face, FC_INDEX, 0, &index) == FcResultMatch)
            described.index = index;
        described.family = StringOf(face, FC_FAMILY);
        // fontconfig does not always set the spacing of a collection's monospaced face (it
        // does not for WenQuanYi Micro Hei Mono); such faces say so in their name.
        int spacing = FC_PROPORTIONAL;
        bool spaced = FcPatternGetInteger(face, FC_SPACING, 0, &spacing) == FcResultMatch &&
                      spacing != FC_PROPORTIONAL;
        bool named = false;
        for (int n = 0; !named; ++n) {
            std::string family = StringOf(face, FC_FAMILY, n);
            if (family.empty()) break;
            named = family.size() > 5 && family.compare(family.size() - 5, 5, " Mono") == 0;
        }
        described.monospace = spaced || named;
        for (int n = 0;; ++n) {
            std::string name = StringOf(face, FC_FULLNAME, n);
            if (name.empty()) break;
            described.fullNames.push_back(name);
        }
        font.faces.push_back(std::move(described));
    }
    FcFontSetDestroy(set);
    if (font.faces.empty()) return std::nullopt;
    // The proportional face first: it is the one for ordinary text.
    std::stable_partition(font.faces.begin(), font.faces.end(),
                          [](const FontFace& f) { return !f.monospace; });
    font.family = font.faces.front().family;
    return font;
}

}  // namespace

const std::optional<ProgramFont>& FindProgramFont() {
    static const std::optional<ProgramFont> found = [] {
        if (!FcInit()) return std::optional<ProgramFont>();
        std::string file = ListedFile((std::string(kFamily) + ":lang=zh-cn").c_str());
        if (file.empty() && g_file_test(kDebianFile, G_FILE_TEST_IS_REGULAR)) file = kDebianFile;
        if (file.empty()) file = MatchedFile();
        std::optional<ProgramFont> font = Describe(file);
        if (DebugTraceEnabled()) {
            DebugTrace(font ? "font: " + font->family + " from " + font->file
                            : std::string("font: no installed font has Chinese glyphs"));
        }
        return font;
    }();
    return found;
}

void ApplyProgramFont() {
    const std::optional<ProgramFont>& font = FindProgramFont();
    GdkScreen* screen = gdk_screen_get_default();
    if (!font || screen == nullptr) return;
    std::string family;
    for (char c : font->family)
        if (c != '"' && c != '\\') family += c;
    // The family first; what it lacks comes from fontconfig's fallback for sans-serif.
    std::string css = "* { font-family: \"" + family + "\", sans-serif; }";
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css.c_str(), static_cast<gssize>(css.size()),
                                    nullptr);
    gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

}  // namespace vexa::platform
