// Result texts and the event-log reporter's registration and line formatting.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/memory_event_log.h"
#include "tests/support/test_services.h"
#include "util/event_log.h"
#include "util/result_codes.h"

namespace {

TEST(ResultCodes, Texts) {
    const std::pair<int32_t, const char*> cases[] = {
        {0, "Unknown error"},         {-1, "Operation timed out"}, {-2, "Transfer error"},
        {-3, "Data not match"},       {-4, "Invalid parameter"},   {-5, "Insufficient memory"},
        {-6, "Entity not found"},     {-7, "Unknown error"},       {5, "Unknown error"},
        {INT32_MIN, "Unknown error"},
    };
    for (const auto& [code, text] : cases) EXPECT_EQ(GetResultString(code), text) << code;
}

// The process's reporter on an in-memory event log, as the test's services make it.
class EventLogTest : public ::testing::Test {
protected:
    testsupport::MemoryEventLog m_backend;
    testsupport::ScopedTestServices m_services{{.platform = {.eventLog = &m_backend}}};
    CEventLog* m_log = m_services.Reporter();
};

TEST_F(EventLogTest, OpenRegistersTheSourceBesideTheProgram) {
    ASSERT_TRUE(m_log->Open());
    EXPECT_EQ(m_backend.keyPath,
              "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\VLMT 270X MP Tool");
    EXPECT_EQ(m_backend.typesSupported, 31u);
    EXPECT_EQ(m_backend.sourceName, "VLMT 270X MP Tool");
    const std::string suffix = "/XEventMessage.dll";
    ASSERT_GT(m_backend.messageFile.size(), suffix.size());
    EXPECT_EQ(m_backend.messageFile.substr(m_backend.messageFile.size() - suffix.size()), suffix);
    EXPECT_EQ(m_backend.messageFile.find("vlm_tests"), std::string::npos)
        << "the folder, not the program file, comes before the message file's name";
}

TEST_F(EventLogTest, LinesAreErrorEventsWithTheirExactText) {
    ASSERT_TRUE(m_log->Open());
    EventLogPrintf(kEventTypeError, "\r\n%s:%d: ucTargetNumber[%d], ChipErase Fail!!, ucRetry[%d] ",
                   "CInterctl::Update_Firmware", 1302, 1, 2);
    auto events = m_backend.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(
        events[0].text,
        "\r\nCInterctl::Update_Firmware:1302: ucTargetNumber[1], ChipErase Fail!!, ucRetry[2] ");
    EXPECT_EQ(events[0].type, 1);
    EXPECT_EQ(events[0].category, 0);
    EXPECT_EQ(events[0].eventId, 0x20000001u);
    EXPECT_TRUE(events[0].hasUser);
}

TEST_F(EventLogTest, LongLinesAreCutNeverOverrun) {
    ASSERT_TRUE(m_log->Open());
    std::string big(5000, 'x');
    EventLogPrintf(kEventTypeError, "\r\n%s", big.c_str());
    auto lines = m_backend.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 1023u);
}

TEST_F(EventLogTest, NoSourceMeansLinesAreDropped) {
    m_backend.FailRegistration(true);
    EXPECT_FALSE(m_log->Open());
    EventLogPrintf(kEventTypeError, "\r\n%s:%d: x", "A::B", 1);
    EXPECT_TRUE(m_backend.Lines().empty());
    EXPECT_FALSE(m_log->Report(kEventTypeError, "text"));
    g_pEventLog = nullptr;  // no reporter at all: nothing happens
    EventLogPrintf(kEventTypeError, "%s", "y");
    EXPECT_TRUE(m_backend.Lines().empty());
}

}  // namespace
