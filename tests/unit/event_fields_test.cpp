// The fields a thread's events carry: scoped, hidden by a later field of the same name, ended in
// any order, and kept per thread.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/event_fields.h"

namespace {

using framework::EventField;
using framework::ScopedEventField;
using framework::ThreadEventFields;

// The fields as "NAME=value" lines, in their order.
std::vector<std::string> Fields() {
    std::vector<std::string> lines;
    for (const EventField& f : ThreadEventFields()) lines.push_back(f.name + "=" + f.value);
    return lines;
}

using Lines = std::vector<std::string>;

TEST(EventFields, LaterFieldHidesAnEarlierOneUntilItEndsWhateverTheOrder) {
    EXPECT_EQ(Fields(), Lines{});
    auto controller = std::make_unique<ScopedEventField>("CONTROLLER", "0000:02:00.0");
    auto step = std::make_unique<ScopedEventField>("STEP", "erase");
    {
        ScopedEventField again("CONTROLLER", "0000:03:00.0");
        EXPECT_EQ(Fields(), (Lines{"STEP=erase", "CONTROLLER=0000:03:00.0"}));
    }
    EXPECT_EQ(Fields(), (Lines{"CONTROLLER=0000:02:00.0", "STEP=erase"}));
    // The first field ends before the one set after it: the later one stays.
    controller.reset();
    EXPECT_EQ(Fields(), Lines{"STEP=erase"});
    step.reset();
    EXPECT_EQ(Fields(), Lines{});
    // Fields set after every earlier one has ended start afresh.
    ScopedEventField next("STEP", "verify");
    EXPECT_EQ(Fields(), Lines{"STEP=verify"});
}

TEST(EventFields, EachThreadHasItsOwnFieldsAndEndsWithoutAny) {
    ScopedEventField mine("CONTROLLER", "0000:02:00.0");
    Lines seenOnTheOther;
    Lines leftOnTheOther;
    // Many short threads, each ending with its fields gone: nothing is left for the end of the
    // thread to destroy, and nothing of one thread reaches another.
    for (int i = 0; i < 50; ++i) {
        std::thread([&] {
            if (i == 0) seenOnTheOther = Fields();
            {
                ScopedEventField theirs("CONTROLLER", "0000:03:00.0");
                ScopedEventField step("STEP", "write");
                if (i == 0) leftOnTheOther = Fields();
            }
            if (!Fields().empty()) leftOnTheOther = Fields();
        }).join();
    }
    EXPECT_EQ(seenOnTheOther, Lines{});
    EXPECT_EQ(leftOnTheOther, (Lines{"CONTROLLER=0000:03:00.0", "STEP=write"}));
    EXPECT_EQ(Fields(), Lines{"CONTROLLER=0000:02:00.0"});
}

}  // namespace
