#include "app/CAboutDlg.h"

#include "BuildConfig.h"

namespace vexa {

std::vector<std::string> CAboutDlg::Lines() {
    return {
        std::string(VEXA_PRODUCT_NAME) + " " + VEXA_VERSION,
        "Copyright (C) Quinbery. All rights reserved.",
        "网站: www.quinbery.com",
        "客服热线: 见网站「联系我们」",
        "在线客服: www.quinbery.com/support",
    };
}

std::string CAboutDlg::Title() {
    return std::string("关于 ") + VEXA_PRODUCT_NAME;
}

void CAboutDlg::DoModal(platform::IDialogWindow& window) {
    window.ShowInfoBox(Title(), Lines());
}

}  // namespace vexa
