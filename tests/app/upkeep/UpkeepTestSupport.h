// Shared set-up of the upkeep tests: environment values restored after each test, and XML
// record reading.
#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "xml/Tavix.h"

namespace vexa::testing {

// Sets environment variables for one test and puts the old values back afterwards.
class CScopedEnv {
  public:
    CScopedEnv() = default;
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;
    ~CScopedEnv() {
        for (auto& [name, value] : m_saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    void Set(const std::string& name, const std::optional<std::string>& value) {
        if (m_saved.find(name) == m_saved.end()) {
            const char* old = std::getenv(name.c_str());
            m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }

  private:
    std::map<std::string, std::optional<std::string>> m_saved;
};

// The records of a "VerDel.Dat" as (module, version) pairs in document order; nullopt when the
// file does not parse or its root is not "root".
inline std::optional<std::vector<std::pair<std::string, std::string>>> ReadRecords(
    const std::string& path) {
    Tavix::CXmlDocument doc;
    if (!doc.Open(path.c_str()) || doc.GetRoot()->GetName() != "root") return std::nullopt;
    std::vector<std::pair<std::string, std::string>> records;
    Tavix::CXmlNodesPtr children = doc.GetRoot()->GetChildren();
    records.reserve(static_cast<std::size_t>(children->GetCount()));
    for (int i = 0; i < children->GetCount(); ++i)
        records.emplace_back(children->GetItem(i)->GetName(), children->GetItem(i)->GetValue());
    return records;
}

using Records = std::vector<std::pair<std::string, std::string>>;

}  // namespace vexa::testing
