// The byte format between libGravenlisk and its panel helper: every value survives the trip
// whatever bytes it holds, and anything short of a whole, well-formed message is refused.
#include <gtest/gtest.h>

#include "panel_request.hpp"

namespace pw::desktop {
namespace {

TEST(PanelRequestFormat, RequestSurvivesTheTripWithAnyBytes) {
    PanelRequest request;
    request.kind = PanelKind::Save;
    request.title = "Line one\nline two\tand a tab";
    request.prompt = "";  // set but empty is not the same as unset
    request.nameFieldValue = std::string("bin\0ary\xff\xfe name", 14);
    request.directory = "/tmp/M\xc3\xafx \xf0\x9f\x98\x80";
    request.canChooseFiles = true;
    request.allowMultipleSelections = true;
    request.fileTypes = {"wav", "", "aiff\n7\n"};

    const auto decoded = decodeRequest(encodeRequest(request));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(PanelKind::Save, decoded->kind);
    EXPECT_EQ(request.title, decoded->title);
    EXPECT_EQ(request.prompt, decoded->prompt);
    EXPECT_FALSE(decoded->nameFieldLabel);
    EXPECT_EQ(request.nameFieldValue, decoded->nameFieldValue);
    EXPECT_EQ(request.directory, decoded->directory);
    EXPECT_FALSE(decoded->filePath);
    EXPECT_TRUE(decoded->canChooseFiles);
    EXPECT_FALSE(decoded->canChooseDirectories);
    EXPECT_TRUE(decoded->allowMultipleSelections);
    EXPECT_FALSE(decoded->canCreateDirectories);
    EXPECT_EQ(request.fileTypes, decoded->fileTypes);
}

TEST(PanelRequestFormat, AnswersSurviveTheTrip) {
    PanelAnswer accepted;
    accepted.accepted = true;
    accepted.paths = {"/a\nb", "/c"};
    accepted.selectedType = "aiff";
    const auto decoded = decodeAnswer(encodeAnswer(accepted));
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(decoded->accepted);
    EXPECT_EQ(accepted.paths, decoded->paths);
    EXPECT_EQ(accepted.selectedType, decoded->selectedType);

    const auto cancelled = decodeAnswer(encodeAnswer(PanelAnswer{}));
    ASSERT_TRUE(cancelled);
    EXPECT_FALSE(cancelled->accepted);
    EXPECT_TRUE(cancelled->paths.empty());
    EXPECT_FALSE(cancelled->selectedType);
}

TEST(PanelRequestFormat, RefusesBrokenMessages) {
    const std::string whole = encodeAnswer(PanelAnswer{true, {"/tmp/x"}, std::nullopt});
    const struct {
        const char* what;
        std::string bytes;
    } broken[] = {
        {"cut in the value", whole.substr(0, whole.size() - 3)},
        {"cut before the last newline", whole.substr(0, whole.size() - 1)},
        {"length larger than the value", "accepted\t5\n1\n"},
        {"length not a number", "accepted\t1x\n1\n"},
        {"negative length", "accepted\t-1\n1\n"},
        {"no length", "accepted\t\n1\n"},
        {"no key", "\t1\n1\n"},
        {"no tab", "accepted 1\n1\n"},
        {"absurd length", "accepted\t99999999999999999999\n1\n"},
        {"unknown key", whole + "colour\t3\nred\n"},
        {"flag not 0 or 1", "accepted\t3\nyes\n"},
        {"accepted without a path", "accepted\t1\n1\n"},
        {"a path though cancelled", "accepted\t1\n0\npath\t2\n/x\n"},
        {"nothing at all", ""},
    };
    for (const auto& row : broken) EXPECT_FALSE(decodeAnswer(row.bytes)) << row.what;

    EXPECT_FALSE(decodeRequest("title\t1\nx\n")) << "no kind";
    EXPECT_FALSE(decodeRequest("kind\t5\nprint\n")) << "unknown kind";
    EXPECT_FALSE(decodeRequest("kind\t4\nopen\nfiles\t4\ntrue\n")) << "bad flag";
    EXPECT_TRUE(decodeRequest("kind\t4\nopen\n")) << "the least request";
}

}  // namespace
}  // namespace pw::desktop
