// Splitting the program's path at its last separator in the double-byte code pages, where the
// separator's byte can be the second byte of a character: such a byte never splits the path.
#include <gtest/gtest.h>

#include <string>

#include "framework/platform.h"
#include "util/utility.h"

namespace {

// The lead bytes of three double-byte code pages (what the Windows back end asks the system).
bool Cp932Lead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool Cp936Lead(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}
bool Cp950Lead(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}

TEST(PathSplit, ASeparatorByteInsideADoubleByteCharacterDoesNotSplit) {
    struct Case {
        const char* codePage;
        framework::LeadBytePredicate lead;
        std::string path;
        std::size_t folderLength;
    };
    const Case cases[] = {
        // C:\Tools\ソフト.exe: ソ is 83 5C.
        {"932", Cp932Lead, "C:\\Tools\\\x83\x5c\x83\x74\x83\x67.exe", 8},
        // A folder whose name ends in such a character: C:\表\a.exe (表 is 95 5C).
        {"932", Cp932Lead, "C:\\\x95\x5c\\a.exe", 5},
        // A half-width katakana (single byte, A0-DF) before the separator splits as usual.
        {"932", Cp932Lead, "C:\\\xb1\\a.exe", 4},
        {"936", Cp936Lead, "D:\\\xd5\x5c\\\xb9\x5c.exe", 5},
        {"936", Cp936Lead, "\xd5\x5c\xd5\x5c.exe", std::string::npos},
        // 功 is A5 5C, 許 B3 5C.
        {"950", Cp950Lead, "E:\\\xa5\x5c\\\xb3\x5c\\x.exe", 8},
        {"950", Cp950Lead, "E:\\\xa5\x5c", 2},
        // A lead byte at the very end stands alone.
        {"950", Cp950Lead, "E:\\a\\\x81", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("cp") + c.codePage + " " + c.path);
        EXPECT_EQ(framework::FindLastSeparator(c.path, '\\', c.lead), c.folderLength);
        // Without the code page, the byte after a lead byte is taken for a separator.
        auto none = [](unsigned char) { return false; };
        if (c.path.rfind('\\') != c.folderLength) {
            EXPECT_NE(framework::FindLastSeparator(c.path, '\\', none), c.folderLength);
        }
    }
}

TEST(PathSplit, TheProgramFolderOfAUtf8PathIsEverythingBeforeTheLastSlash) {
    CUtility utility;
    utility.SetModulePath("/opt/\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88/vlm270fwupdate");
    EXPECT_STREQ(utility.m_szModuleDir, "/opt/\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88");
    utility.SetModulePath("vlm270fwupdate");
    EXPECT_STREQ(utility.m_szModuleDir, "");
}

}  // namespace
