#include "app/CMireloApp.h"

namespace vexa {

bool CMireloApp::InitInstance(int* result) {
    int end = 0;
    {
        CMireloDlg dlg(m_platform);
        dlg.SetTrace(m_trace);
        end = dlg.DoModal();
        if (m_trace) m_trace("ending: destroying the dialog");
    }
    if (m_trace) m_trace("ending: dialog destroyed");
    if (result != nullptr) *result = end;
    return false;
}

}  // namespace vexa
