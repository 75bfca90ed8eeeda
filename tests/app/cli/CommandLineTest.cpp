#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "BuildConfig.h"
#include "app/CommandLine.h"

namespace {

struct Outcome {
    std::optional<int> code;
    std::string out;
    std::string err;
};

Outcome Parse(std::vector<const char*> args) {
    std::ostringstream out;
    std::ostringstream err;
    Outcome o;
    o.code = vexa::HandleCommandLine(static_cast<int>(args.size()), args.data(), out, err);
    o.out = out.str();
    o.err = err.str();
    return o;
}

TEST(CommandLine, NoArgumentsStartsTheProgram) {
    Outcome o = Parse({"/usr/bin/vexa"});
    EXPECT_FALSE(o.code.has_value());
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "");
}

TEST(CommandLine, HelpAndVersionAnswerOnStandardOutput) {
    for (const char* opt : {"--help", "-h"}) {
        Outcome o = Parse({"/usr/bin/vexa", opt});
        EXPECT_EQ(o.code, 0) << opt;
        EXPECT_NE(o.out.find("Usage: vexa [--help | --version]"), std::string::npos) << opt;
        EXPECT_NE(o.out.find("VEXA_CONTENT_SITE"), std::string::npos) << opt;
        EXPECT_EQ(o.err, "");
    }
    for (const char* opt : {"--version", "-V"}) {
        Outcome o = Parse({"/usr/bin/vexa", opt});
        EXPECT_EQ(o.code, 0) << opt;
        EXPECT_EQ(o.out, std::string("vexa ") + VEXA_VERSION + "\n");
    }
}

TEST(CommandLine, AnythingElseIsRefusedWithExitCodeTwo) {
    struct Case {
        std::vector<const char*> args;
        std::string message;
    } cases[] = {
        {{"vexa", "--fullscreen"}, "vexa: unknown option '--fullscreen'\n"},
        {{"vexa", "-x"}, "vexa: unknown option '-x'\n"},
        {{"vexa", "movie.swf"}, "vexa: unexpected argument 'movie.swf'\n"},
        {{"vexa", "-"}, "vexa: unexpected argument '-'\n"},
        {{"vexa", ""}, "vexa: unexpected argument ''\n"},
        // A known option does not make a stray one acceptable, in either order.
        {{"vexa", "--help", "--bogus"}, "vexa: unknown option '--bogus'\n"},
        {{"vexa", "file", "--version"}, "vexa: unexpected argument 'file'\n"},
        {{"vexa", "--version", "--help"}, "vexa: unexpected argument '--help'\n"},
    };
    for (const Case& c : cases) {
        Outcome o = Parse(c.args);
        EXPECT_EQ(o.code, 2) << c.message;
        EXPECT_EQ(o.out, "") << c.message;
        EXPECT_EQ(o.err, c.message + "Try 'vexa --help' for more information.\n");
    }
}

TEST(CommandLine, NamesItselfAfterHowItWasStarted) {
    Outcome o = Parse({"./build/app/vexa-dev", "--version"});
    EXPECT_EQ(o.out, std::string("vexa-dev ") + VEXA_VERSION + "\n");
    char* noName[] = {nullptr, nullptr};
    std::ostringstream out, err;
    EXPECT_FALSE(vexa::HandleCommandLine(1, noName, out, err).has_value());
}

}  // namespace
