// The plain-text RTF reader: control words, destinations, code page 1252 and Unicode.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "framework/rtf_text.h"

namespace {

using framework::RtfToText;

struct Case {
    const char* name;
    const char* rtf;
    const char* text;
};

TEST(RtfText, ReadsTheDocumentsText) {
    const Case cases[] = {
        {"plain", "{\\rtf1 Hello}", "Hello"},
        {"paragraphs and lines", "{\\rtf1 a\\par b\\line c\\tab d}", "a\nb\nc\td"},
        {"delimiter space eaten", "{\\rtf1\\b bold\\b0  text}", "bold text"},
        {"source line ends ignored", "{\\rtf1 one\r\ntwo}", "onetwo"},
        {"escaped symbols", "{\\rtf1 \\\\ \\{ \\}}", "\\ { }"},
        {"cp1252 bytes", "{\\rtf1 caf\\'e9 \\'80 \\'96}", "caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x93"},
        {"unicode with fallback", "{\\rtf1 \\u8364?x}",
         "\xE2\x82\xAC"
         "x"},
        {"uc2 skips two fallbacks", "{\\rtf1\\uc2 \\u233ab c}", "\xC3\xA9 c"},
        {"uc0 skips nothing", "{\\rtf1\\uc0 \\u233 x}", "\xC3\xA9x"},
        {"negative unicode", "{\\rtf1 \\u-3913?}", "\xEF\x82\xB7"},
        {"fallback as hex", "{\\rtf1 \\u8212\\'97!}", "\xE2\x80\x94!"},
        {"font table skipped", "{\\rtf1{\\fonttbl{\\f0 Arial;}}Text}", "Text"},
        {"colour and style skipped",
         "{\\rtf1{\\colortbl;\\red1\\green2\\blue3;}{\\stylesheet{\\s0 Normal;}}X}", "X"},
        {"info skipped", "{\\rtf1{\\info{\\title T}{\\author A}}Body}", "Body"},
        {"starred destination skipped", "{\\rtf1{\\*\\generator Writer;}{\\*\\unknown q}Y}", "Y"},
        {"picture skipped", "{\\rtf1{\\pict\\pngblip 89504e47}Z}", "Z"},
        {"field result kept", "{\\rtf1{\\field{\\*\\fldinst HYPERLINK x}{\\fldrslt link}}}",
         "link"},
        {"binary data skipped", "{\\rtf1 a{\\pict\\bin3 }}}}b}", "ab"},
        {"named punctuation", "{\\rtf1 \\lquote x\\rquote  \\emdash}",
         "\xE2\x80\x98x\xE2\x80\x99 \xE2\x80\x94"},
        {"nested formatting groups", "{\\rtf1 a{\\b b{\\i c}}d}", "abcd"},
        {"non-breaking space", "{\\rtf1 a\\~b}",
         "a\xC2\xA0"
         "b"},
        {"unbalanced and truncated", "{\\rtf1 abc\\", "abc"},
        {"stray close braces", "}}{\\rtf1 ok}}}", "ok"},
        {"bad hex left out", "{\\rtf1 a\\'zzb}", "azzb"},
        {"unassigned cp1252 left out", "{\\rtf1 a\\'81b}", "ab"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(RtfToText(c.rtf), c.text) << c.name;
}

TEST(RtfText, SurvivesDeepNestingAndHugeParameters) {
    std::string deep = "{\\rtf1 ";
    for (int i = 0; i < 100000; ++i) deep += '{';
    deep += "x";
    for (int i = 0; i < 100000; ++i) deep += '}';
    deep += "y}";
    EXPECT_EQ(RtfToText(deep), "xy");
    EXPECT_EQ(RtfToText("{\\rtf1 \\u99999999999999999999?a\\bin99999999999999999999}"), "a");
}

// The demonstration's licence text, as our own files spell it.
TEST(RtfText, ReadsTheSampleLicence) {
    std::ifstream in(std::string(VLM_SOURCE_DIR) + "/tools/sample/License_Agreement.rtf",
                     std::ios::binary);
    ASSERT_TRUE(in);
    std::stringstream rtf;
    rtf << in.rdbuf();
    std::string text = RtfToText(rtf.str());
    EXPECT_EQ(text.find("Arial"), std::string::npos);
    EXPECT_EQ(text.find("Licence agreement"), std::string::npos) << "the info title is skipped";
    EXPECT_EQ(text.rfind("Velmora 270 Firmware Upgrade Tool \xE2\x80\x93 licence agreement\n", 0),
              0u);
    EXPECT_NE(text.find("\n1.\tThe tool rewrites"), std::string::npos);
}

}  // namespace

namespace {

std::string ReadRtfData(const std::string& name) {
    std::ifstream in(std::string(VLM_SOURCE_DIR) + "/tests/data/rtf/" + name, std::ios::binary);
    std::stringstream rtf;
    rtf << in.rdbuf();
    return rtf.str();
}

// Files written by a real word processor (made once, kept as test data).
TEST(RtfText, ReadsWordProcessorFiles) {
    std::string rtf = ReadRtfData("licence_sample.rtf");
    ASSERT_FALSE(rtf.empty());
    EXPECT_EQ(framework::RtfToText(rtf),
              "Software licence\n"
              "Please read this agreement carefully before you choose Accept.\n"
              "Prices in \xE2\x82\xAC and \xC2\xA3; \xE2\x80\x9Cquoted\xE2\x80\x9D text "
              "\xE2\x80\x93 with dashes \xE2\x80\x94 and caf\xC3\xA9, na\xC3\xAFve, "
              "\xCE\xA9mega, \xE6\x9D\xB1\xE4\xBA\xAC.\n"
              "\xE2\x80\xA2\tFirst point\n"
              "\xE2\x80\xA2\tSecond point\n"
              "Last line.\n");
    EXPECT_EQ(framework::RtfToText(ReadRtfData("plain_sample.rtf")),
              "Plain text licence\nSecond line with caf\xC3\xA9\n\tIndented line\n");
}

}  // namespace
