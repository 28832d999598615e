#include "licence/agreement.h"

#include <algorithm>

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
    uint64_t length = 0;
    if (file->Length(length) && length > kMaxLicenceBytes) {
        framework::MessageBox(kLicenceTooLargeText, std::string(),
                              framework::kMbOk | framework::kMbIconStop);
        file->Close();
        return;
    }
    // The pane asks for as much as it wants each time; a failed read ends the text there, and so
    // does the limit (the file may grow while it is read).
    uint64_t total = 0;
    m_LicenceText.StreamInRtf([&file, &total](char* buffer, std::size_t capacity) -> std::size_t {
        const uint64_t room = kMaxLicenceBytes - total;
        std::size_t bytesRead = 0;
        if (!file->Read(buffer, static_cast<std::size_t>(std::min<uint64_t>(capacity, room)),
                        bytesRead)) {
            return 0;
        }
        total += bytesRead;
        return bytesRead;
    });
    file->Close();
}
