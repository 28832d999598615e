// The restart prompt: restart the computer now or later, then Finish.
#pragma once

#include "framework/dialog.h"

inline constexpr const char* kRestartTitle = "Restart Computer";
inline constexpr const char* kRestartAllUpdatedHeadline = "Firmware Updated Successful!!";

class CReBoot : public framework::Dialog {
public:
    CReBoot();
    ~CReBoot() override;

    // True while the restart-now choice is selected; meaningful after a modal run.
    bool RestartNow() const { return m_bRestartNow; }

protected:
    void DoDataExchange() override;
    // Title, topmost placement, headline, restart now selected.
    bool OnInitDialog() override;
    // The two radio buttons' clicks; everything else goes to the default handling.
    void OnCommand(int id) override;

private:
    void OnRestartNowClicked();
    void OnRestartLaterClicked();

    framework::Button m_RestartNow;
    framework::Button m_RestartLater;
    framework::StaticText m_Headline;
    bool m_bRestartNow = false;
};
