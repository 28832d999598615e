#include "util/image_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <vector>

#include "framework/message_box.h"
#include "util/event_log.h"
#include "util/result_codes.h"
#include "util/utility.h"

namespace {

constexpr const char* kOpenFunctionName = "CUtility::bOpenFWBinFile";
// The source lines its diagnostic lines carry.
constexpr int kOpenFailedLine = 2769;
constexpr int kMemoryFailedLine = 2754;
constexpr const char* kSecondPattern = "*.ROM";
constexpr const char* kFirstPatternName = "*.rom";
// The steps its diagnostic lines report.
constexpr const char* kStepImageOpen = "image-open";
constexpr const char* kStepWorkingMemory = "working-memory";

// The extension of a name: from its last full stop on, or the whole name when it has none
// (the backward scan stops at its first character).
std::string ExtensionOf(const std::string& name) {
    std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(dot);
}

// Reads the whole file (at most size bytes) into buffer, counting the bytes in total; false
// when a read fails.
bool ReadAll(framework::File& file, uint8_t* buffer, std::size_t size, std::size_t& total) {
    total = 0;
    while (total < size) {
        std::size_t got = 0;
        if (!file.Read(buffer + total, size - total, got)) return false;
        if (got == 0) break;
        total += got;
    }
    return true;
}

}  // namespace

std::unique_ptr<framework::File> FindFWBinFile(char* pszFoundName, const char* pszPattern) {
    if (pszFoundName == nullptr) return nullptr;
    pszFoundName[0] = '\0';
    if (pszPattern == nullptr) return nullptr;
    const std::string pattern = pszPattern;
    const std::string wanted = ExtensionOf(pattern);
    for (const std::string& name : framework::ListMatchingNames(pattern)) {
        if (ExtensionOf(name) != wanted) continue;
        // The first qualifying entry decides the search, whether or not it opens.
        framework::FileError error;
        std::unique_ptr<framework::File> file = framework::OpenFileShared(name, error);
        if (!file) return nullptr;
        std::size_t length = std::min(name.size(), kFoundNameCopyBytes - 1);
        std::memcpy(pszFoundName, name.data(), length);
        pszFoundName[length] = '\0';
        return file;
    }
    return nullptr;
}

std::string LocateFWBinFile(const char* pszModuleDir) {
    char szFound[kFoundNameBytes] = {};
    std::string pattern = std::string(pszModuleDir != nullptr ? pszModuleDir : "") +
                          framework::PathSeparator() + kFirstPatternName;
    std::unique_ptr<framework::File> file = FindFWBinFile(szFound, pattern.c_str());
    if (!file) {
        file = FindFWBinFile(szFound, kSecondPattern);
        if (!file) std::memset(szFound, 0, sizeof szFound);
    }
    if (file) file->Close();
    return szFound;
}

std::string FWFullName(const char* pszModuleDir, const std::string& strName) {
    return std::string(pszModuleDir != nullptr ? pszModuleDir : "") + framework::PathSeparator() +
           strName;
}

int32_t CUtility::bOpenFWBinFile(std::string strFWFilePath, uint8_t* pDestination) {
    if (pDestination == nullptr) return kResultInvalidParameter;

    framework::FileError error;
    std::unique_ptr<framework::File> theFile = framework::OpenFileExclusive(strFWFilePath, error);
    if (!theFile) {
        CEventStep step(kStepImageOpen, kResultEntityNotFound);
        EventLogPrintf(kEventTypeError,
                       "\r\n%s:%d:  theFile.Open Failed, strFWFilePath[%s], dwError=%x",
                       kOpenFunctionName, kOpenFailedLine, strFWFilePath.c_str(),
                       static_cast<unsigned>(error.code));
        return kResultEntityNotFound;
    }

    uint64_t length = 0;
    if (!theFile->Length(length)) return kResultTransferError;
    // The image buffer holds 131,072 bytes: a longer file is refused, never cut or overrun. An
    // empty file is no image: written, it would leave the flash all zeros and reported updated.
    if (length > kImageBufferBytes || length == 0) return kResultInvalidParameter;
    m_dwFWBinSize = std::max(static_cast<uint32_t>(length), kMinimumImageBytes);

    errno = 0;
    std::unique_ptr<uint8_t[]> working(framework::AllocateWorkingMemory(m_dwFWBinSize));
    if (!working) {
        int code = errno != 0 ? errno : ENOMEM;
        theFile->Close();
        CEventStep step(kStepWorkingMemory, kResultInsufficientMemory);
        EventLogPrintf(kEventTypeError, "\r\n%s:%d:   Memory located Failed, size=%d, dwError=%x..",
                       kOpenFunctionName, kMemoryFailedLine, static_cast<int>(m_dwFWBinSize),
                       static_cast<unsigned>(code));
        return kResultInsufficientMemory;
    }
    std::memset(working.get(), 0, m_dwFWBinSize);

    // A failed seek, read or close leaves no trustworthy image: the load fails.
    std::size_t bytesRead = 0;
    bool read =
        theFile->SeekToBegin() && ReadAll(*theFile, working.get(), m_dwFWBinSize, bytesRead);
    bool closed = theFile->Close();
    if (!read || !closed) return kResultTransferError;

    std::memcpy(pDestination, working.get(), m_dwFWBinSize);
    m_dwFWFileBytes = static_cast<uint32_t>(bytesRead);
    return kResultSuccess;
}

bool bCheckFilePath(bool bShowMessage, std::string strPath) {
    bool bOk = false;
    try {
        bOk = framework::PathExists(strPath) && framework::PathReadWritable(strPath);
        if (!bOk && bShowMessage) {
            framework::AfxMessageBox(strPath + " " + kPathCheckFailedText, framework::kMbOk);
        }
    } catch (const std::exception&) {
        // Anything that went wrong inside the check fails it, and the box is shown regardless.
        bOk = false;
        try {
            framework::AfxMessageBox(strPath + " " + kPathCheckFailedText, framework::kMbOk);
        } catch (const std::exception&) {
        }
    }
    return bOk;
}
