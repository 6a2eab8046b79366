// The longest names a volume records: a File Identifier holds 255 bytes, the compression byte
// and 8-bit characters when every character is Latin-1 (254 characters), else 16-bit ones
// (127). Every name that fits is recorded, from a file set at the root and from a folder whose
// host paths pass 259 bytes; every name that does not is refused, named with the rule.
#include "image/plan.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace tvx {
namespace {

struct PlanDeleter {
    void operator()(VolumePlan* p) const { Plan_Free(p); }
};
using PlanPtr = std::unique_ptr<VolumePlan, PlanDeleter>;

std::string Repeat(const std::string& unit, int count) {
    std::string s;
    for (int i = 0; i < count; ++i)
        s += unit;
    return s;
}

// Linux holds names of at most 255 bytes: longer ones are tried in file sets only.
constexpr size_t kHostNameMax = 255;

TEST(NameLimits, EveryNameThatFitsIsRecordedTheRestRefusedWithTheRule) {
    const std::string e = "\xC3\xA9";             // é, Latin-1
    const std::string a = "\xC4\x80";             // Ā, beyond Latin-1
    const std::string han = "\xE4\xB8\xAD";       // 中
    const std::string smile = "\xF0\x9F\x98\x80"; // two UTF-16 units
    struct Case {
        std::string name;
        size_t recorded; // bytes of the File Identifier the name needs
    } cases[] = {
        {Repeat("a", 254), 255},       {Repeat("a", 255), 256},       {Repeat(e, 254), 255},
        {Repeat(e, 255), 256},         {Repeat(a, 127), 255},         {Repeat(a, 128), 257},
        {Repeat("a", 126) + han, 255}, {Repeat("a", 127) + han, 257}, {Repeat(smile, 63), 253},
        {Repeat(smile, 64), 257},
    };
    test::ScopedSimHost sim;
    test::TempDir tmp;
    const std::string source = tmp.write("source.txt", "x");
    std::string deep = "deep";
    while (tmp.file(deep).size() < 300)
        deep += "/" + std::string(60, 'd');
    for (const Case& c : cases) {
        const bool fits = c.recorded <= 255;
        SCOPED_TRACE(std::to_string(c.name.size()) + " bytes, " + std::to_string(c.recorded) +
                     " recorded");
        const std::string rule = "needs " + std::to_string(c.recorded) + " bytes";

        EXPECT_EQ(Node_NameRule(c.name).empty(), fits);
        PlanPtr set(Plan_Create("T"));
        const std::string volumePath = "/" + c.name;
        const bool openable = volumePath.size() <= 259;
        EXPECT_EQ(Plan_AddFileSetEntry(set.get(), volumePath.c_str(), source.c_str()) != 0,
                  fits && openable);
        if (fits && openable) {
            FileNode* node = Plan_FindNode(&set->root, volumePath.c_str());
            ASSERT_NE(node, nullptr);
            EXPECT_EQ(node->udfNameLength, c.recorded);
            EXPECT_EQ(Node_UdfName(node).size(), c.recorded);
        } else {
            EXPECT_EQ(set->refusal.path, volumePath);
            const std::string setRule =
                openable ? rule : std::to_string(volumePath.size()) + " bytes long, beyond the 259";
            EXPECT_NE(set->refusal.rule.find(setRule), std::string::npos) << set->refusal.rule;
        }

        if (c.name.size() > kHostNameMax) continue;
        const std::string folder =
            deep + "/" + std::to_string(c.name.size()) + "-" + std::to_string(c.recorded);
        tmp.write(folder + "/" + c.name, "x");
        PlanPtr scan(Plan_Create("T"));
        EXPECT_EQ(Plan_AddFolderContents(scan.get(), tmp.file(folder).c_str()) != 0, fits);
        if (fits) {
            ASSERT_NE(scan->root.firstChild, nullptr);
            EXPECT_EQ(scan->root.firstChild->udfNameLength, c.recorded);
        } else {
            EXPECT_EQ(scan->refusal.path, tmp.file(folder + "/" + c.name));
            EXPECT_NE(scan->refusal.rule.find(rule), std::string::npos) << scan->refusal.rule;
        }
    }
}

} // namespace
} // namespace tvx
