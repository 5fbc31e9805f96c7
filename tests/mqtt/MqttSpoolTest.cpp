#include "mqtt/MqttSpool.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

class MqttSpoolTest : public ScratchTest {
  protected:
    // The waiting messages, "topic payload", in order; acknowledged as read if asked.
    static std::vector<std::string> Waiting(MqttSpool& spool, bool acknowledge = false) {
        std::vector<std::string> texts;
        int64_t next = 0;
        for (int64_t at = spool.Front(); auto message = spool.Read(at, next); at = next) {
            texts.push_back(message->topic + " " + message->payload);
            if (acknowledge) spool.Acknowledge(at, next);
        }
        return texts;
    }
};

// What was not acknowledged outlives the run, a record cut short by a crash
// is removed, a second logger is kept off the spool, and a spool whose
// messages were all acknowledged starts afresh at the end.
TEST_F(MqttSpoolTest, KeepsWhatWasNotAcknowledgedAndRepairsARecordCutShort) {
    std::string error;
    {
        auto spool = MqttSpool::Open(Path("s"), 1 << 20, error);
        ASSERT_TRUE(spool && spool->Append({{"t/1", "a"}, {"t/2", "bb"}, {"t/3", "ccc"}}, error));
        EXPECT_FALSE(MqttSpool::Open(Path("s"), 1 << 20, error));
        EXPECT_EQ(error, "the spool " + Path("s") + " is in use by another tarnvik-log");
        int64_t next = 0;
        ASSERT_TRUE(spool->Read(spool->Front(), next));
        spool->Acknowledge(spool->Front(), next);
        spool->Flush(true);
    }
    std::ofstream(Path("s/messages"), std::ios::app) << std::string("\x20\0\0\0\x03\0t/4", 8);
    auto spool = MqttSpool::Open(Path("s"), 1 << 20, error);
    ASSERT_TRUE(spool) << error;
    EXPECT_EQ(spool->Waiting(), 2);
    EXPECT_EQ(Waiting(*spool, true), (std::vector<std::string>{"t/2 bb", "t/3 ccc"}));
    spool->Flush(true);
    EXPECT_EQ(FileBytes(Path("s/messages")), "");
}

} // namespace
