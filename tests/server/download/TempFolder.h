// A fresh folder under the system's temporary folder, removed with everything in it at the end.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vexa::testing {

class CTempFolder {
  public:
    CTempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vexa-dl-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) m_path = pattern;
    }
    ~CTempFolder() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// Names in a folder, sorted.
inline std::string Listing(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string all;
    for (const auto& n : names) all += (all.empty() ? "" : ",") + n;
    return all;
}

}  // namespace vexa::testing
