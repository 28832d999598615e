// The licence agreement dialog: the licence text in a read-only rich-text pane, Accept and
// Cancel.
#pragma once

#include <cstdint>
#include <string>

#include "framework/dialog.h"

inline constexpr const char* kLicenceFileName = "License_Agreement.rtf";
inline constexpr const char* kRichTextLibraryName = "RICHED20.DLL";
inline constexpr const char* kRichTextLoadFailedText = "Fail to load \"riched20.dll\".";
inline constexpr const char* kLicenceTitle = "License Agreement";
// The largest licence shown: far beyond any licence text, small enough that holding it (and the
// pane's copy) costs nothing. A larger file is reported and leaves the pane empty.
inline constexpr uint64_t kMaxLicenceBytes = 4 * 1024 * 1024;
inline constexpr const char* kLicenceTooLargeText =
    "License_Agreement.rtf is larger than 4 MiB and is not shown.";

class CAgreement : public framework::Dialog {
public:
    // Loads the rich-text control library; when it cannot be loaded, says so and asks the
    // calling thread to quit.
    CAgreement();
    ~CAgreement() override;

    // Whether the rich-text control library was loaded at construction.
    bool RichTextLoaded() const { return m_bRichTextLoaded; }

protected:
    void DoDataExchange() override;
    // Sets the title and streams the licence file into the pane.
    bool OnInitDialog() override;

private:
    // Streams the licence file of the current directory into the pane; a file that cannot be
    // opened, or one larger than kMaxLicenceBytes, is reported and leaves the pane empty.
    void StreamLicenceText();

    framework::RichEditCtrl m_LicenceText;
    framework::StaticText m_Prompt;
    bool m_bRichTextLoaded = false;
};
