// Records message boxes instead of showing them; installs itself for its lifetime.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/core/MessageBox.h"

namespace vexa::testing {

class CRecordingMessageBox : public platform::IMessageBox {
  public:
    struct Shown {
        std::string text;
        std::string caption;
    };
    CRecordingMessageBox() { platform::SetMessageBoxService(this); }
    ~CRecordingMessageBox() override { platform::SetMessageBoxService(nullptr); }

    void Show(const std::string& text, const std::string& caption) override {
        std::lock_guard<std::mutex> guard(m_lock);
        m_shown.push_back({text, caption});
    }
    std::vector<Shown> All() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_shown;
    }
    std::vector<std::string> Texts() const {
        std::lock_guard<std::mutex> guard(m_lock);
        std::vector<std::string> texts;
        for (const auto& s : m_shown) texts.push_back(s.text);
        return texts;
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_shown.clear();
    }

  private:
    mutable std::mutex m_lock;
    std::vector<Shown> m_shown;
};

}  // namespace vexa::testing
