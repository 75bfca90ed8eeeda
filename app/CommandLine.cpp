#include "app/CommandLine.h"

#include <string>

#include "BuildConfig.h"

namespace vexa {

namespace {

std::string ProgramName(int argc, const char* const* argv) {
    if (argc < 1 || argv == nullptr || argv[0] == nullptr || argv[0][0] == '\0') return "vexa";
    std::string path = argv[0];
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void PrintUsage(std::ostream& out, const std::string& name) {
    out << "Usage: " << name << " [--help | --version]\n"
        << "\n"
        << "Plays the " << VEXA_PRODUCT_NAME
        << " learning movie in a window, serves it and its lessons from a local\n"
        << "mirror of the content site, records the child's voice and uploads the recording.\n"
        << "\n"
        << "Options:\n"
        << "  -h, --help     show this help and exit\n"
        << "  -V, --version  show the version and exit\n"
        << "\n"
        << "Environment:\n"
        << "  VEXA_CONTENT_SITE  content site base URL (default " << VEXA_DEFAULT_CONTENT_SITE
        << ")\n"
        << "  VEXA_UPLOAD_HOST   upload host, host, host:port or https://host[:port] (default "
        << VEXA_DEFAULT_UPLOAD_HOST << ")\n"
        << "  APPDATA, XDG_DATA_HOME   where the data folder quinbery/lm lives\n"
        << "  XDG_STATE_HOME     where RunLog.log and the recordings live (quinbery/)\n";
}

}  // namespace

std::optional<int> HandleCommandLine(int argc, const char* const* argv, std::ostream& out,
                                     std::ostream& err) {
    const std::string name = ProgramName(argc, argv);
    if (argc <= 1 || argv == nullptr) return std::nullopt;
    auto at = [&](int i) { return argv[i] == nullptr ? std::string() : std::string(argv[i]); };
    auto known = [](const std::string& a) {
        return a == "--help" || a == "-h" || a == "--version" || a == "-V";
    };
    const std::string first = at(1);
    if (argc == 2 && (first == "--help" || first == "-h")) {
        PrintUsage(out, name);
        return 0;
    }
    if (argc == 2 && (first == "--version" || first == "-V")) {
        out << name << " " << VEXA_VERSION << "\n";
        return 0;
    }
    // The first argument that is not an option we know; with only known ones, the one too many.
    std::string bad = argc > 2 ? at(2) : first;
    for (int i = 1; i < argc; ++i) {
        if (!known(at(i))) {
            bad = at(i);
            break;
        }
    }
    if (bad.size() > 1 && bad[0] == '-' && !known(bad)) {
        err << name << ": unknown option '" << bad << "'\n";
    } else {
        err << name << ": unexpected argument '" << bad << "'\n";
    }
    err << "Try '" << name << " --help' for more information.\n";
    return 2;
}

}  // namespace vexa
