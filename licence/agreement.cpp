#include "licence/agreement.h"

#include "framework/message_box.h"
#include "framework/platform.h"
#include "framework/window_system.h"
#include "res/resource_ids.h"

namespace {

// The quit request's code when the rich-text library is missing.
constexpr int kRichTextQuitCode = 0;

}  // namespace

CAgreement::CAgreement() : framework::Dialog(res::IDD_AGREEMENT) {
    m_bRichTextLoaded = framework::LoadControlLibrary(kRichTextLibraryName);
    if (!m_bRichTextLoaded) {
        framework::AfxMessageBox(kRichTextLoadFailedText,
                                 framework::kMbOk | framework::kMbIconError);
        framework::PostQuitMessage(kRichTextQuitCode);
    }
}

CAgreement::~CAgreement() = default;

void CAgreement::DoDataExchange() {
    BindControl(res::IDC_LICENCE_TEXT, m_LicenceText);
    BindControl(res::IDC_LICENCE_PROMPT, m_Prompt);
}

bool CAgreement::OnInitDialog() {
    framework::Dialog::OnInitDialog();
    SetWindowText(kLicenceTitle);
    StreamLicenceText();
    return true;
}

void CAgreement::StreamLicenceText() {
    framework::FileError error;
    std::unique_ptr<framework::File> file = framework::OpenFileExclusive(kLicenceFileName, error);
    if (!file) {
        framework::MessageBox(framework::FileErrorText(error.kind, kLicenceFileName), std::string(),
                              framework::kMbOk | framework::kMbIconStop);
        return;
    }
    // The pane asks for as much as it wants each time; a failed read ends the text there.
    m_LicenceText.StreamInRtf([&file](char* buffer, std::size_t capacity) -> std::size_t {
        std::size_t bytesRead = 0;
        if (!file->Read(buffer, capacity, bytesRead)) return 0;
        return bytesRead;
    });
    file->Close();
}
