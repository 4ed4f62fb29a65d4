// A scale item's upper limit and label, set through the item or its raw header,
// show in the item dump.
#include "host/mdlelement.h"
#include "subhost/host_fixture.h"

using ScaleInfo = HostTest;

TEST_F(ScaleInfo, IsKeptOnTheItemAndShownInItsDump) {
    load();
    MSDialog* db = mdlDialog_open(nullptr, 400);
    ASSERT_NE(db, nullptr);
    DialogItem* first = mdlDialog_itemGetByIndex(db, 0);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(first->rawItemP, nullptr);
    EXPECT_EQ(mdlDialog_scaleSetInfo(first->rawItemP, 480, L"480"), SUCCESS);
    const nlohmann::json dump = subhost::dumpItems("400");
    EXPECT_EQ(dump["items"][0]["scale"], (nlohmann::json{{"maximum", 480.0}, {"label", "480"}}));
    EXPECT_FALSE(dump["items"][1].contains("scale"));
    EXPECT_EQ(mdlDialog_scaleSetInfo(nullptr, 1, L"1"), ERROR);
}
