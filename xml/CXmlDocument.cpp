#include "xml/CXmlDocument.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "xml/XmlText.h"

namespace Tavix {

namespace {

class FileWriter : public pugi::xml_writer {
  public:
    explicit FileWriter(std::ofstream& out) : m_out(out) {}
    void write(const void* data, size_t size) override {
        std::string markup;
        detail::AppendMarkup(markup, data, size);
        m_out.write(markup.data(), static_cast<std::streamsize>(markup.size()));
    }

  private:
    std::ofstream& m_out;
};

// A name beside the target, so the finished file can replace the old one in one rename.
std::string TemporaryNameFor(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    return target + ".tmp" + std::to_string(stamp) + "-" + std::to_string(++counter);
}

bool WriteDocument(const pugi::xml_document& doc, const std::string& target) {
    const std::string temporary = TemporaryNameFor(target);
    bool written = false;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (out) {
            FileWriter writer(out);
            doc.save(writer, "", pugi::format_raw, pugi::encoding_utf8);
            out.flush();
            written = static_cast<bool>(out);
        }
    }
    std::error_code ec;
    if (written) {
        std::filesystem::rename(temporary, target, ec);
        if (!ec) {
            return true;
        }
    }
    std::filesystem::remove(temporary, ec);
    return false;
}

}  // namespace

CXmlDocument::~CXmlDocument() {
    Close();
}

bool CXmlDocument::Create() {
    Close();
    try {
        m_tree = std::make_shared<pugi::xml_document>();
        return true;
    } catch (...) {
        m_tree.reset();
        return false;
    }
}

bool CXmlDocument::Open(const char* path) {
    if (path == nullptr) {
        return false;
    }
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            return false;
        }
        if (!Create()) {
            return false;
        }
        m_strPath = path;
        const std::string content((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
        if (in.bad()) {
            return false;
        }
        return detail::ParseDocument(*m_tree, content.data(), content.size(), pugi::encoding_auto);
    } catch (...) {
        if (m_tree) {
            m_tree->reset();
        }
        return false;
    }
}

bool CXmlDocument::LoadXml(const char* xml) {
    if (!Create()) {
        return false;
    }
    if (xml == nullptr) {
        return false;
    }
    try {
        const std::string text = detail::ToValidUtf8(xml);
        return detail::ParseDocument(*m_tree, text.data(), text.size(), pugi::encoding_utf8);
    } catch (...) {
        m_tree->reset();
        return false;
    }
}

void CXmlDocument::Close() {
    m_tree.reset();
    m_strPath.clear();
}

CXmlNodePtr CXmlDocument::GetRoot() const {
    if (!m_tree) {
        return detail::NullNode();
    }
    try {
        return std::make_shared<CXmlNode>(m_tree, pugi::xpath_node(m_tree->document_element()));
    } catch (...) {
        return detail::NullNode();
    }
}

bool CXmlDocument::Save(const char* path) {
    if (!m_tree) {
        return false;
    }
    try {
        const std::string target = path != nullptr ? std::string(path) : m_strPath;
        if (target.empty() || !WriteDocument(*m_tree, target)) {
            return false;
        }
        m_strPath = target;
        return true;
    } catch (...) {
        return false;
    }
}

CXmlNodePtr CXmlDocument::SelectSingleNode(const char* xpath) const {
    const CXmlNodePtr root = GetRoot();
    if (!root || root->IsNull()) {
        return detail::NullNode();
    }
    return root->SelectSingleNode(xpath);
}

}  // namespace Tavix
