// The program-wide utility object: program folder and path, the controller table, the
// all-updated flag and the firmware image buffer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "util/controller_info.h"

inline constexpr std::size_t kModulePathBytes = 255;
inline constexpr uint32_t kImageBufferBytes = 0x20000;   // 131,072
inline constexpr uint32_t kMinimumImageBytes = 0x10000;  // an image counts at least 65,536

class CUtility {
public:
    // Fills the program folder and path from the system and clears the controller table.
    CUtility();
    virtual ~CUtility();
    CUtility(const CUtility&) = delete;
    CUtility& operator=(const CUtility&) = delete;

    // Loads the image file into pDestination (kImageBufferBytes, zero-filled by the caller):
    // 0, -6 when it cannot be opened, -5 without working memory, -4 when it is longer than the
    // buffer. Sets m_dwFWBinSize.
    int32_t bOpenFWBinFile(std::string strFWFilePath, uint8_t* pDestination);

    // Clears the controller table (count 0, every record zeroed).
    void ClearControllers();

    // Takes the program file's full path: fills m_szModulePath and m_szModuleDir (the part
    // before the last path separator, empty when there is none) and m_bModulePathTooLong.
    void SetModulePath(const std::string& strPath);

    char m_szModuleDir[kModulePathBytes] = {};   // folder of the program file, no separator
    char m_szModulePath[kModulePathBytes] = {};  // full path of the program file
    uint8_t m_ucControllerCount = 0;
    ControllerInfo m_Controllers[kMaxControllers] = {};
    std::atomic<uint8_t> m_bAllUpdated{0};
    // The image buffer (kImageBufferBytes), owned here: allocated by the run, freed once no
    // thread of the run can reach it any more.
    std::unique_ptr<uint8_t[]> m_pFWBinBuffer;
    uint32_t m_dwFWBinSize = 0;
    // How many of the image's bytes came from its file (the rest up to m_dwFWBinSize are the
    // zeros a short file is padded with); set with m_dwFWBinSize.
    uint32_t m_dwFWFileBytes = 0;
    // The program's path does not fit m_szModulePath: the folder is unknown (empty) and the
    // program must refuse to run.
    bool m_bModulePathTooLong = false;
};

// The single instance.
extern CUtility g_Utility;
