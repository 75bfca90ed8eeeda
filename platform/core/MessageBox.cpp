#include "platform/core/MessageBox.h"

#include <atomic>
#include <cstdio>

#include "BuildConfig.h"

namespace vexa::platform {
namespace {

class CStderrMessageBox : public IMessageBox {
  public:
    void Show(const std::string& text, const std::string& caption) override {
        std::fprintf(stderr, "[%s] %s\n",
                     caption.empty() ? DefaultMessageCaption() : caption.c_str(), text.c_str());
    }
};

CStderrMessageBox g_stderrBox;
std::atomic<IMessageBox*> g_box{nullptr};

}  // namespace

IMessageBox& MessageBoxService() {
    IMessageBox* box = g_box.load();
    return box != nullptr ? *box : g_stderrBox;
}

void SetMessageBoxService(IMessageBox* box) {
    g_box.store(box);
}

const char* DefaultMessageCaption() {
    return VEXA_PRODUCT_NAME;
}

}  // namespace vexa::platform
