// The loopback device table: what it lists, and how it treats lines it cannot use.
#include <gtest/gtest.h>

#include "loopback_table.hpp"
#include "refs.hpp"

namespace {

using pw::midi::parseLoopbackTable;

TEST(LoopbackTable, DevicesEntitiesEndpointsAndMissingProperties) {
    std::vector<std::string> problems;
    const auto table = parseLoopbackTable(
        "# comment\n"
        "device name=\"DJ 2\" manufacturer=Acme model=\"M 2\" id=\"x\"  # trailing comment\n"
        "entity name=\"Deck A\" source destination\n"
        "entity name=Lights destination batch=4\n"
        "\n"
        "device\n"
        "entity\n",
        "t", &problems);
    EXPECT_TRUE(problems.empty());
    ASSERT_EQ(2u, table.topology.devices.size());
    const auto& dj = table.topology.devices[0];
    EXPECT_EQ("DJ 2", dj.name.value_or("-"));
    EXPECT_EQ("Acme", dj.manufacturer.value_or("-"));
    EXPECT_EQ("M 2", dj.model.value_or("-"));
    EXPECT_EQ("x", dj.deviceId.value_or("-"));
    ASSERT_EQ(2u, dj.entities.size());
    EXPECT_NE(0u, dj.entities[0].source);
    EXPECT_NE(0u, dj.entities[0].destination);
    EXPECT_EQ(0u, dj.entities[1].source);
    EXPECT_EQ(4u, table.batch[0][1]);
    EXPECT_EQ(1u, table.batch[0][0]);
    const auto& bare = table.topology.devices[1];
    EXPECT_FALSE(bare.name || bare.manufacturer || bare.model || bare.deviceId);
    ASSERT_EQ(1u, bare.entities.size());
    EXPECT_FALSE(bare.entities[0].name);
    EXPECT_EQ(0u, bare.entities[0].source | bare.entities[0].destination);

    // Every reference is its own, non-zero, and the same number as a sign-extended Java long.
    std::vector<MIDIObjectRef> refs;
    for (const auto& d : table.topology.devices) {
        refs.push_back(d.ref);
        for (const auto& e : d.entities) refs.insert(refs.end(), {e.ref, e.source, e.destination});
    }
    std::sort(refs.begin(), refs.end());
    refs.erase(std::remove(refs.begin(), refs.end(), 0u), refs.end());
    EXPECT_EQ(refs.end(), std::adjacent_find(refs.begin(), refs.end()));
    for (MIDIObjectRef ref : refs) EXPECT_EQ(static_cast<std::int64_t>(static_cast<std::int32_t>(ref)), ref);
}

TEST(LoopbackTable, ReportsAndSkipsWhatItCannotUse) {
    struct Case {
        const char* line;
        const char* problem;  // part of the report
        std::size_t entities; // of the one device
    };
    const Case cases[] = {
        {"entity name=\"open quote", "unterminated quote", 0},
        {"entity name=x colour=red source", "colour", 1},
        {"entity name=x batch=0", "batch out of", 1},
        {"entity name=x batch=lots", "not a number", 1},
        {"gadget name=x", "unknown entry 'gadget'", 0},
        {"entity source=yes", "source", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<std::string> problems;
        const auto table = parseLoopbackTable(std::string("device name=d\n") + c.line + "\n", "file", &problems);
        ASSERT_EQ(1u, problems.size());
        EXPECT_NE(std::string::npos, problems[0].find("file:2: ")) << problems[0];
        EXPECT_NE(std::string::npos, problems[0].find(c.problem)) << problems[0];
        ASSERT_EQ(1u, table.topology.devices.size());
        EXPECT_EQ(c.entities, table.topology.devices[0].entities.size());
    }
    std::vector<std::string> problems;
    EXPECT_TRUE(parseLoopbackTable("entity name=x\n", "f", &problems).topology.devices.empty());
    EXPECT_EQ(1u, problems.size());
}

}  // namespace
