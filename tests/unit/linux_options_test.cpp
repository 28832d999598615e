// The Linux program's command line and what it prints for scripts: options, usage errors, the
// command line left for the application, and JSON strings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "programs/linux/options.h"
#include "programs/linux/report_output.h"

namespace {

using cli::ParseOptions;
using cli::ProgramOptions;

struct Parsed {
    bool ok;
    ProgramOptions options;
    std::string error;
};

Parsed Parse(const std::vector<std::string>& args) {
    Parsed p;
    p.ok = ParseOptions(args, p.options, p.error);
    return p;
}

TEST(LinuxOptions, ArgumentsAreOptionsOrTheCommandLine) {
    struct Case {
        std::vector<std::string> args;
        std::string commandLine;
        bool silent;
    } cases[] = {
        {{}, "", false},
        {{"/s"}, "/s", true},
        {{"/S"}, "/S", true},
        {{"_/s_"}, "_/s_", true},
        {{"/s\t"}, "/s\t", true},  // the application drops tabs, line feeds and '_'
        {{"-s"}, "/s", true},
        {{"--silent", "--verbose"}, "/s", true},
        {{"--", "/s"}, "/s", true},  // after "--" nothing is an option
        {{"/s", "--json", "--image=/a b.rom", "--controller", "03:00.1"}, "/s", true},
        {{"--image", "-s", "/s"}, "/s", true},  // "-s" is the image's name here
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        Parsed p = Parse(c.args);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_EQ(p.options.strCommandLine, c.commandLine);
        EXPECT_EQ(p.options.bSilent, c.silent);
    }
    Parsed p = Parse({"--list", "--controller", "0000:1f:1f.7", "--controller=02:00.0", "--backup",
                      "b", "--image", "x.rom", "--json"});
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_TRUE(p.options.bList && p.options.bJson);
    ASSERT_EQ(p.options.controllers.size(), 2u);
    EXPECT_EQ(p.options.controllers[0], (ControllerAddress{0x1f, 0x1f, 7}));
    EXPECT_EQ(p.options.controllers[1], (ControllerAddress{2, 0, 0}));
    EXPECT_EQ(p.options.strBackupFolder, "b");
    EXPECT_EQ(p.options.strImagePath, "x.rom");
}

TEST(LinuxOptions, UsageErrorsSayWhatIsWrong) {
    struct Case {
        std::vector<std::string> args;
        const char* error;
    } cases[] = {
        {{"--dry-run"}, "unknown option --dry-run"},
        {{"-y"}, "unknown option -y"},
        {{"-"}, "unknown option -"},
        {{"--image"}, "--image needs a value"},
        {{"--image="}, "--image needs a value"},
        {{"--controller", "2:00.0"}, "not an address"},
        {{"--controller", "02:20.0"}, "not an address"},  // device 0x20 does not exist
        {{"--controller", "02:00.8"}, "not an address"},
        {{"--controller", "0001:02:00.0"}, "not an address"},  // only domain 0
        {{"--list", "--verify"}, "do not go together"},
        {{"--json"}, "--json goes with"},
        {{"--json", "/s", "/x"}, "unexpected argument \"/s /x\""},
        // A word that does not make the run silent names what was probably meant.
        {{"new.rom"}, "use --image new.rom"},
        {{"list"}, "did you mean --list?"},
        {{"-s", "02:00.0"}, "no other arguments"},
        {{"02:00.0"}, "--controller 02:00.0"},
        {{"hello"}, "the only word a run takes is /s"},
        {{"--", "-s"}, "unknown option -s"},
        {{"--ver"}, "unknown option --ver"},  // ambiguous: --verify, --verbose, --version
        {{"--controller"}, "--controller needs a value"},
        {{"-s", "/s"}, "no other arguments"},
        {{"--verify", "/s"}, "runs on its own"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        Parsed p = Parse(c.args);
        EXPECT_FALSE(p.ok);
        EXPECT_NE(p.error.find(c.error), std::string::npos) << p.error;
    }
    // Help and version are asked for even among mistakes.
    Parsed help = Parse({"--dry-run", "--help"});
    EXPECT_TRUE(help.options.bHelp || !help.ok);
    EXPECT_TRUE(Parse({"/s", "--version"}).options.bVersion);
    EXPECT_TRUE(Parse({"-h"}).options.bHelp);
    // Options after the other words, and unambiguous abbreviations, as GNU tools take them.
    Parsed late = Parse({"/s", "--json", "--lis"});
    EXPECT_FALSE(late.ok) << "--list runs on its own";
    EXPECT_TRUE(late.options.bList && late.options.bJson);
}

TEST(LinuxOptions, UsageFitsAnEightyColumnConsole) {
    const std::string text = cli::UsageText();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        EXPECT_LE(end - start, 79u) << text.substr(start, end - start);
        start = end + 1;
    }
    EXPECT_EQ(text.rfind(cli::UsageSynopsis(), 0), 0u);
    EXPECT_NE(text.find("64 a usage error"), std::string::npos);
}

// Hexadecimal digits back to the bytes they stand for.
std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

// Every string of the document is valid UTF-8, whatever bytes a path or warning held: a byte
// that starts no sequence, a cut sequence, a surrogate, an overlong form and one past U+10FFFF
// each become U+FFFD; a path that is not UTF-8 is also given as its exact bytes.
TEST(LinuxReport, JsonIsValidUtf8AndKeepsAPathsExactBytes) {
    const std::string kReplacement = "\xef\xbf\xbd";
    const char* const kNotUtf8[] = {"a\xff", "cut\xc3", "surrogate\xed\xa0\x80", "overlong\xc0\xaf",
                                    "beyond\xf4\x90\x80\x80"};
    for (const std::string raw : kNotUtf8) {
        SCOPED_TRACE(raw);
        admin::Report report;
        report.image = admin::ImageDescription{"/x/" + raw, 1, std::string(64, '0')};
        report.warnings.push_back(raw);
        const nlohmann::json doc =
            nlohmann::json::parse(cli::ReportJson(report, "1"), nullptr, false);
        ASSERT_FALSE(doc.is_discarded());
        const std::string warning = doc["warnings"][0].get<std::string>();
        const std::string path = doc["image"]["path"].get<std::string>();
        EXPECT_EQ(warning.rfind(raw.substr(0, 1), 0), 0u);
        EXPECT_NE(warning.find(kReplacement), std::string::npos) << warning;
        EXPECT_NE(path.find(kReplacement), std::string::npos) << path;
        EXPECT_EQ(FromHex(doc["image"]["path_bytes"].get<std::string>()), "/x/" + raw);
    }
    // Valid UTF-8 and what JSON must escape come through as they are, with no bytes field.
    admin::Report report;
    const std::string text = "caf\xc3\xa9 \"q\" \\ \r\n\t\x01";
    report.image = admin::ImageDescription{text, 1, std::string(64, '0')};
    const nlohmann::json doc = nlohmann::json::parse(cli::ReportJson(report, "1"));
    EXPECT_EQ(doc["image"]["path"], text);
    EXPECT_TRUE(doc["image"]["path_bytes"].is_null());
}

TEST(LinuxReport, JsonDocumentHoldsTheReport) {
    admin::Report report;
    report.mode = admin::ReportMode::kVerify;
    report.nExitStatus = 5;
    report.image = admin::ImageDescription{"/x/a.rom", 65536, std::string(64, 'f')};
    admin::ControllerReport c;
    c.strAddress = "0000:02:00.0";
    c.ucIdRow = 1;
    c.usVendorId = 0x1f7c;
    c.usDeviceId = 0x2701;
    c.bIdentified = true;
    c.strVendor = "MXIC";
    c.strPart = "MX25L(V)512(C)";
    c.dwSizeBytes = 65536;
    c.idOpcode = 0x9f;
    c.idBytes = {0xc2, 0x20, 0x10};
    c.strResult = "differs";
    c.nResultCode = -3;
    c.firstDifference = 0x10;
    c.compared = 65536;
    report.controllers.push_back(c);
    report.warnings.push_back("w");
    EXPECT_EQ(cli::ReportJson(report, "1.0.2.0"),
              "{\"format\":1,\"program\":\"vlm270fwupdate\",\"version\":\"1.0.2.0\","
              "\"mode\":\"verify\",\"exit_status\":5,\"outcome\":\"a controller does not hold "
              "the image\",\"image\":{\"path\":\"/x/a.rom\",\"size\":65536,\"sha256\":\"" +
                  std::string(64, 'f') +
                  "\",\"path_bytes\":null},\"image_problem\":null,\"controllers\":[{\"address\":"
                  "\"0000:02:00.0\","
                  "\"identifier_row\":2,\"pci_id\":\"1f7c:2701\",\"part\":{\"vendor\":\"MXIC\","
                  "\"name\":\"MX25L(V)512(C)\",\"size\":65536},\"id_command\":\"9f\","
                  "\"id_bytes\":\"c2 20 10\",\"result\":\"differs\",\"result_code\":-3,"
                  "\"compared\":65536,\"first_difference\":\"0x00000010\",\"backup\":null,"
                  "\"problem\":null,\"preflight\":null,\"backup_bytes\":null}],"
                  "\"warnings\":[\"w\"]}\n");
    EXPECT_EQ(cli::ReportText(report).substr(0, 61),
              "0000:02:00.0  MXIC MX25L(V)512(C): differs at 0x00000010\nimag");
}

}  // namespace
