// Backend choice: the device table when its variable is set, else a PulseAudio server, else no
// drivers; one choice per process until the test-only reload.
#include <gtest/gtest.h>

#include "device.hpp"
#include "device_table_file.hpp"
#include "scoped_env.hpp"

namespace pw::dev {
namespace {

std::vector<std::string> outputNames(Backend& b) {
    std::vector<std::string> names;
    for (const auto& d : b.outputDrivers()) names.push_back(d.name);
    return names;
}

TEST(Autodetect, TableIsReadOnceUntilReload) {
    pw::test::DeviceTableFile first(
        "output name=\"Card 1\" channels=6 caps=4 minrate=8000 maxrate=96000\n"
        "output name=Card2\n"
        "record name=\"Line In\" channels=1 rate=22050\n"
        "cdrom name=\"Virtual CD\" image=/x/disc.cue\n"
        "cdrom name=Empty\n");
    Backend& a = autodetectBackend();
    EXPECT_EQ(&a, &autodetectBackend());
    EXPECT_EQ(outputNames(a), (std::vector<std::string>{"Card 1", "Card2"}));
    const auto drivers = a.outputDrivers();
    EXPECT_EQ(drivers[0].channels, 6);
    EXPECT_EQ(drivers[0].caps, FMOD_CAPS_OUTPUT_MULTICHANNEL);
    EXPECT_EQ(drivers[0].minRate, 8000);
    EXPECT_EQ(drivers[0].maxRate, 96000);
    EXPECT_EQ(drivers[0].controlPanelMode, FMOD_SPEAKERMODE_5POINT1);
    const auto records = a.recordDrivers();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].name, "Line In");
    EXPECT_EQ(records[0].channels, 1);
    EXPECT_EQ(records[0].rate, 22050);
    const auto cds = a.cdDrives();
    ASSERT_EQ(cds.size(), 2u);
    EXPECT_EQ(cds[0].image, "/x/disc.cue");
    EXPECT_TRUE(cds[1].empty);

    // Changing the variable alone changes nothing: the table is read once per process...
    pw::test::ScopedEnv other("PELLWARDEN_DEVICE_TABLE", std::string("/nonexistent/table.txt"));
    EXPECT_EQ(outputNames(autodetectBackend()), (std::vector<std::string>{"Card 1", "Card2"}));
    // ...until the test-only reload; the old backend stays usable.
    reloadBackendForTests();
    EXPECT_TRUE(autodetectBackend().outputDrivers().empty());
    EXPECT_EQ(outputNames(a), (std::vector<std::string>{"Card 1", "Card2"}));
}

TEST(Autodetect, NoTableAndNoServerMeansNoDrivers) {
    pw::test::ScopedEnv noTable("PELLWARDEN_DEVICE_TABLE", std::nullopt);
    pw::test::ScopedEnv noServer("PULSE_SERVER", std::string("unix:/nonexistent/pulse/native"));
    reloadBackendForTests();
    Backend& b = autodetectBackend();
    EXPECT_TRUE(b.outputDrivers().empty());
    EXPECT_TRUE(b.recordDrivers().empty());
    EXPECT_TRUE(b.cdDrives().empty());
    std::unique_ptr<OutputStream> out;
    EXPECT_NE(b.openOutput(0, 2, 44100, 512, &out), FMOD_OK);
    EXPECT_EQ(out, nullptr);
    std::unique_ptr<InputStream> in;
    EXPECT_NE(b.openInput(0, 2, 44100, &in), FMOD_OK);
    reloadBackendForTests();
}

}  // namespace
}  // namespace pw::dev
